// The module side of the Windows serial test, run on the Linux side of
// Wine: a bus with one pxr5100 module (address 12) and one pxr5700 module
// (address 2) served on a pseudo-terminal that the Wine prefix maps to COM
// ports. Prints the terminal's path as the first line of its output, then
// serves until its standard input closes, a SIGINT, SIGTERM or SIGHUP, or
// the time limit. At the end it writes every exchange the bus saw to
// LOG-FILE, one line each: the family of the module that took the command
// (or "dropped" for bytes no module took) and the bytes, printable ASCII as
// it is, a backslash as "\\", CR as "\r" and any other byte as "\xNN".
// Exits 0 when it served to the end, 1 when the server failed, 2 on misuse.
// Usage: tarvo_sim_peer LOG-FILE [SECONDS]
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr5100/module.h"
#include "sim/pxr5700/module.h"

namespace {

using namespace tarvo::sim;

void Populate(Bus& bus) {
  auto& sensors = bus.Emplace<Pxr5100Module>(12);
  sensors.SetValues(1, 0, {.ta = 23.5});
  sensors.SetValues(1, 3, {.tb = -10.125, .ua = 18.25});
  sensors.SetValues(1, 7, {.wa = 21.5, .wb = 46.7});
  sensors.SetValues(1, 9, {.ub = 12.5});
  sensors.SetValues(1, 63, {.wm = 123.45});
  sensors.SetValues(4, 5, {.ta = -3.0});

  auto& io = bus.Emplace<Pxr5700Module>(2);
  // Inputs 0, 2 and 3 on: the reply's data byte is CR.
  io.SetInputs(0x0D);
  io.SetOutputs(0x00);
  io.SetNumericText(1, "23.45");
  io.SetNumericText(2, " -1.5");
}

std::string Escape(const Bytes& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    if (byte == '\\') {
      text += "\\\\";
    } else if (byte == kCr) {
      text += "\\r";
    } else if (byte >= 0x20 && byte < 0x7F) {
      text += static_cast<char>(byte);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

bool WriteLog(const ExchangeLog& log, const char* path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const Exchange& exchange : log.Entries()) {
    const std::string who =
        exchange.address == Exchange::kNoModule ? "dropped" : std::string(exchange.family);
    out << who << ' ' << Escape(exchange.command) << '\n';
  }
  out.close();
  return static_cast<bool>(out);
}

// Waits until stdin closes, a stop signal arrives or the limit is reached.
void WaitForStop(int signals, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      std::fprintf(stderr, "tarvo_sim_peer: time limit reached\n");
      return;
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signals, POLLIN, 0}};
    const int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (fds[0].revents != 0) {
      char discard[64];
      if (read(STDIN_FILENO, discard, sizeof discard) <= 0) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: tarvo_sim_peer LOG-FILE [SECONDS]\n");
    return 2;
  }
  const char* logPath = argv[1];
  const long seconds = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 90;
  if (seconds <= 0) {
    std::fprintf(stderr, "tarvo_sim_peer: bad time limit %s\n", argv[2]);
    return 2;
  }

  // Stop signals are taken through a descriptor, before any thread starts,
  // so that the server thread never receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, signal);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const int signals = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signals < 0) {
    std::perror("tarvo_sim_peer: signalfd");
    return 1;
  }

  try {
    Bus bus;
    Populate(bus);
    PtyPair pty;
    PtyServer server(pty, bus.Peer());
    std::printf("%s\n", pty.slavePath().c_str());
    std::fflush(stdout);

    WaitForStop(signals, std::chrono::seconds(seconds));
    server.Stop();
    bool ok = WriteLog(bus.log(), logPath);
    if (!ok) std::fprintf(stderr, "tarvo_sim_peer: cannot write %s\n", logPath);
    if (!server.error().empty()) {
      std::fprintf(stderr, "tarvo_sim_peer: the bus failed: %s\n", server.error().c_str());
      ok = false;
    }
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvo_sim_peer: %s\n", e.what());
    return 1;
  }
}
