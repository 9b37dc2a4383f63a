#include "tools/gateway/modbus_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

#include "tools/gateway/gateway_log.h"

namespace tarvo::tools {
namespace {

constexpr int kHeader = 7;          // the MBAP header, the unit identifier last
constexpr int kMaxFrame = 6 + 254;  // the header's length field counts up to 254
constexpr int32_t kUnmapped = -1;
constexpr int32_t kLineState = -2;  // input register 0
constexpr uint16_t kNoCode = 65535;

uint16_t Word(const uint8_t* at) { return static_cast<uint16_t>(at[0] << 8 | at[1]); }

void SetNonBlocking(int socket) { fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK); }

}  // namespace

// A line's unit: for each address of each table, its item (its place in
// map.items), kUnmapped or kLineState; the libmodbus mapping the answers
// are built from, filled from the status before each.
struct ModbusServer::Unit {
  ModbusUnit map;
  size_t statusFirst;
  std::vector<int32_t> registers, inputs, coils;
  modbus_mapping_t* mapping = nullptr;
  std::vector<PlantStatus::ItemSnapshot> snapshot;
  ~Unit() { modbus_mapping_free(mapping); }
};

struct ModbusServer::Client {
  int socket;
  std::chrono::steady_clock::time_point active;
  uint8_t frame[kMaxFrame];
  int length = 0;
};

ModbusServer::ModbusServer(ModbusSettings settings, const PlantStatus& status,
                           std::vector<size_t> statusFirst, Write write)
    : settings_(std::move(settings)), status_(status), write_(std::move(write)) {
  for (size_t l = 0; l < settings_.units.size(); ++l) {
    auto unit = std::make_unique<Unit>();
    unit->map = settings_.units[l];
    unit->statusFirst = statusFirst[l];
    unit->registers.assign(1, kLineState);
    for (size_t i = 0; i < unit->map.items.size(); ++i) {
      const ModbusItem& item = unit->map.items[i];
      const auto at = static_cast<size_t>(item.address);
      auto mark = [&](std::vector<int32_t>& table, size_t from, size_t count) {
        if (table.size() < from + count) table.resize(from + count, kUnmapped);
        std::fill_n(table.begin() + static_cast<std::ptrdiff_t>(from), count,
                    static_cast<int32_t>(i));
      };
      mark(unit->registers, at, kItemRegisters);
      if (item.kind == ModbusKind::kDiscreteInput) mark(unit->inputs, at, 1);
      if (item.kind == ModbusKind::kCoil) mark(unit->coils, at, 1);
    }
    unit->mapping = modbus_mapping_new(static_cast<int>(unit->coils.size()),
                                       static_cast<int>(unit->inputs.size()), 0,
                                       static_cast<int>(unit->registers.size()));
    units_.push_back(std::move(unit));
  }
}

ModbusServer::~ModbusServer() {
  Stop();
  if (context_ != nullptr) modbus_free(context_);
}

bool ModbusServer::Start(std::string* error) {
  const std::string where = fmt::format("{}:{}", settings_.address, settings_.port);
  context_ = modbus_new_tcp_pi(settings_.address.c_str(), std::to_string(settings_.port).c_str());
  if (context_ == nullptr) {
    *error = fmt::format("Modbus: cannot serve on {}: {}", where, modbus_strerror(errno));
    return false;
  }
  listener_ = modbus_tcp_pi_listen(context_, 16);
  if (listener_ < 0) {
    *error = fmt::format("Modbus: cannot listen on {}: {}{}", where, modbus_strerror(errno),
                         settings_.port < 1024 && errno == EACCES
                             ? " (a port below 1024 needs CAP_NET_BIND_SERVICE)"
                             : "");
    return false;
  }
  SetNonBlocking(listener_);
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &size);
  port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                            : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
  if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = fmt::format("Modbus: no pipe: {}", std::strerror(errno));
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void ModbusServer::Stop() {
  if (thread_.joinable()) {
    const char stop = 0;
    (void)!write(wake_[1], &stop, 1);
    thread_.join();
  }
  for (int* fd : {&listener_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void ModbusServer::Serve() {
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<pollfd> watched;
  auto drop = [&](size_t c) {
    close(clients[c]->socket);
    clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(c));
  };
  while (true) {
    watched.assign({{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}});
    for (const auto& client : clients) watched.push_back({client->socket, POLLIN, 0});
    if (poll(watched.data(), watched.size(), -1) < 0) {
      if (errno == EINTR) continue;
      Log(fmt::format("Modbus: poll failed, no more answers: {}", std::strerror(errno)));
      break;
    }
    if (watched[0].revents != 0) break;
    // Clients first: the ones just accepted are not among the watched.
    for (size_t w = watched.size(); w-- > 2;) {
      if (watched[w].revents == 0) continue;
      const size_t c = w - 2;
      Client& client = *clients[c];
      const ssize_t got = recv(client.socket, client.frame + client.length,
                               static_cast<size_t>(kMaxFrame - client.length), 0);
      if (got <= 0) {
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        drop(c);
        continue;
      }
      client.length += static_cast<int>(got);
      client.active = std::chrono::steady_clock::now();
      bool ok = true;
      while (ok && client.length >= kHeader) {
        // The length counts the unit identifier and the request: 2 to 254.
        const int length = Word(client.frame + 4);
        if (Word(client.frame + 2) != 0 || length < 2 || length > 254) {
          ok = false;  // not Modbus TCP: no answer makes sense
          break;
        }
        const int whole = 6 + length;
        if (client.length < whole) break;
        ok = Answer(client.socket, client.frame, whole);
        std::memmove(client.frame, client.frame + whole,
                     static_cast<size_t>(client.length - whole));
        client.length -= whole;
      }
      if (!ok) drop(c);
    }
    if (watched[1].revents != 0) {
      const int socket = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (socket < 0) continue;
      // Each answer goes out whole at once: nothing to gain by holding it back.
      const int on = 1;
      setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      if (clients.size() == kMaxModbusClients) {
        const auto idlest =
            std::min_element(clients.begin(), clients.end(),
                             [](const auto& a, const auto& b) { return a->active < b->active; });
        LogLimited("Modbus: clients",
                   fmt::format("Modbus: {} clients at once: the one idle longest is closed",
                               kMaxModbusClients));
        drop(static_cast<size_t>(idlest - clients.begin()));
      }
      auto client = std::make_unique<Client>();
      client->socket = socket;
      client->active = std::chrono::steady_clock::now();
      clients.push_back(std::move(client));
    }
  }
  for (const auto& client : clients) close(client->socket);
}

bool ModbusServer::Answer(int socket, const uint8_t* request, int length) {
  modbus_t* context = context_;
  modbus_set_socket(context, socket);
  auto refuse = [&](int exception) {
    return modbus_reply_exception(context, request, static_cast<unsigned>(exception)) >= 0;
  };
  const auto unit = std::find_if(units_.begin(), units_.end(),
                                 [&](const auto& u) { return u->map.id == request[6]; });
  if (unit == units_.end()) return refuse(MODBUS_EXCEPTION_GATEWAY_PATH);
  Unit& u = **unit;
  const int function = request[7];
  const std::vector<int32_t>* table = function == MODBUS_FC_READ_COILS             ? &u.coils
                                      : function == MODBUS_FC_READ_DISCRETE_INPUTS ? &u.inputs
                                      : function == MODBUS_FC_READ_INPUT_REGISTERS ? &u.registers
                                      : function == MODBUS_FC_WRITE_SINGLE_COIL    ? &u.coils
                                      : function == MODBUS_FC_WRITE_MULTIPLE_COILS ? &u.coils
                                                                                   : nullptr;
  if (table == nullptr) return refuse(MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
  // Every function served has an address and a count (or a value) after it.
  if (length < kHeader + 5) return refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
  const int first = Word(request + 8);
  const int count = function == MODBUS_FC_WRITE_SINGLE_COIL ? 1 : Word(request + 10);
  const int most = function == MODBUS_FC_READ_INPUT_REGISTERS   ? MODBUS_MAX_READ_REGISTERS
                   : function == MODBUS_FC_WRITE_MULTIPLE_COILS ? MODBUS_MAX_WRITE_BITS
                                                                : MODBUS_MAX_READ_BITS;
  if (count < 1 || count > most) return refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
  if (function == MODBUS_FC_WRITE_MULTIPLE_COILS &&
      (length != kHeader + 6 + (count + 7) / 8 || request[12] != (count + 7) / 8))
    return refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
  for (int a = first; a < first + count; ++a)
    if (static_cast<size_t>(a) >= table->size() || (*table)[static_cast<size_t>(a)] == kUnmapped)
      return refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);

  const size_t line = static_cast<size_t>(unit - units_.begin());
  const bool up = status_.Snapshot(u.map.line, u.statusFirst, u.map.items.size(), &u.snapshot);
  if (function == MODBUS_FC_WRITE_SINGLE_COIL || function == MODBUS_FC_WRITE_MULTIPLE_COILS) {
    const uint16_t single = Word(request + 10);
    if (function == MODBUS_FC_WRITE_SINGLE_COIL && single != 0xFF00 && single != 0)
      return refuse(MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
    if (!up) return refuse(MODBUS_EXCEPTION_SLAVE_OR_SERVER_FAILURE);
    for (int a = first; a < first + count; ++a) {
      const int bit = a - first;
      const bool on = function == MODBUS_FC_WRITE_SINGLE_COIL
                          ? single == 0xFF00
                          : (request[13 + bit / 8] >> (bit % 8) & 1) != 0;
      write_(line, u.map.items[static_cast<size_t>(u.coils[static_cast<size_t>(a)])].index,
             on ? 1 : 0);
    }
  } else {
    Fill(u, up, function, first, count);
  }
  return modbus_reply(context, request, length, u.mapping) >= 0;
}

void ModbusServer::Fill(Unit& u, bool up, int function, int first, int count) {
  if (function != MODBUS_FC_READ_INPUT_REGISTERS) {
    const bool coils = function == MODBUS_FC_READ_COILS;
    const std::vector<int32_t>& table = coils ? u.coils : u.inputs;
    uint8_t* bits = coils ? u.mapping->tab_bits : u.mapping->tab_input_bits;
    for (size_t a = static_cast<size_t>(first); a < static_cast<size_t>(first + count); ++a) {
      const std::optional<double>& value = u.snapshot[static_cast<size_t>(table[a])].value;
      bits[a] = value && *value != 0 ? 1 : 0;
    }
    return;
  }
  uint16_t* words = u.mapping->tab_input_registers;
  if (first == 0) words[0] = up ? 1 : 0;
  const auto now = PlantStatus::Clock::now();
  for (size_t i = 0; i < u.map.items.size(); ++i) {
    const uint16_t base = u.map.items[i].address;
    if (base + kItemRegisters <= first || base >= first + count) continue;
    const PlantStatus::ItemSnapshot& s = u.snapshot[i];
    const bool fresh = s.outcome && s.code == 0 && s.value;
    PutFloat(fresh ? static_cast<float>(*s.value) : std::numeric_limits<float>::quiet_NaN(),
             settings_.wordOrder, words + base);
    words[base + 2] = !s.outcome || !s.code ? kNoCode : static_cast<uint16_t>(*s.code);
    const long age = s.readAt
                         ? std::chrono::duration_cast<std::chrono::seconds>(now - *s.readAt).count()
                         : 65535;
    words[base + 3] = static_cast<uint16_t>(std::clamp(age, 0L, 65535L));
  }
}

}  // namespace tarvo::tools
