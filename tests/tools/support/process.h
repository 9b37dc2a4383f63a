// A program run by a test: its standard output and error collected as it
// runs, its exit status awaited with a time limit. The destructor kills a
// program still running, so a failing test leaves nothing behind.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarvo::test {

class Process {
 public:
  // Starts argv[0] (a path) with argv; throws std::runtime_error when it
  // cannot be started. Standard input is /dev/null.
  explicit Process(std::vector<std::string> argv);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Waits until the standard output holds `text`; false after `limit` or
  // when the program ended without printing it.
  bool WaitForOutput(std::string_view text, std::chrono::milliseconds limit) {
    return WaitFor(out_, text, limit);
  }
  // The same for the standard error.
  bool WaitForError(std::string_view text, std::chrono::milliseconds limit) {
    return WaitFor(err_, text, limit);
  }
  // The exit status (128 + n after signal n), or nothing after `limit`.
  std::optional<int> Wait(std::chrono::milliseconds limit);
  void Signal(int signal);

  std::string out() const;
  std::string err() const;
  int pid() const { return pid_; }

 private:
  bool WaitFor(const std::string& stream, std::string_view text, std::chrono::milliseconds limit);
  void Collect(int outFd, int errFd);
  bool Exited();

  int pid_ = -1;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  std::string out_;
  std::string err_;
  bool closed_ = false;
  std::thread reader_;
};

struct RunResult {
  int status = -1;  // -1: did not end in time (and was killed)
  std::string out;
  std::string err;
};

// Runs a program to its end, at most `limit`.
RunResult RunProgram(std::vector<std::string> argv,
                     std::chrono::milliseconds limit = std::chrono::seconds(60));

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `text` to the file `name` in the folder; returns its path.
  std::string Write(const std::string& name, std::string_view text) const;

 private:
  std::string path_;
};

}  // namespace tarvo::test
