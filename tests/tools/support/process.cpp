#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace tarvo::test {

Process::Process(std::vector<std::string> argv) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (failed != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
  }
  reader_ = std::thread([this, out = outPipe[0], err = errPipe[0]] { Collect(out, err); });
}

Process::~Process() {
  if (!Exited()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (reader_.joinable()) reader_.join();
}

void Process::Collect(int outFd, int errFd) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      std::lock_guard lock(mutex_);
      (i == 0 ? out_ : err_).append(buffer, static_cast<size_t>(n));
    }
  }
  std::lock_guard lock(mutex_);
  closed_ = true;
}

bool Process::Exited() {
  if (status_) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool Process::WaitFor(const std::string& stream, std::string_view text,
                      std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    {
      std::lock_guard lock(mutex_);
      if (stream.find(text) != std::string::npos) return true;
      if (closed_) return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::optional<int> Process::Wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!Exited()) {
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (reader_.joinable()) reader_.join();
  return status_;
}

void Process::Signal(int signal) {
  if (!Exited()) kill(pid_, signal);
}

std::string Process::out() const {
  std::lock_guard lock(mutex_);
  return out_;
}

std::string Process::err() const {
  std::lock_guard lock(mutex_);
  return err_;
}

RunResult RunProgram(std::vector<std::string> argv, std::chrono::milliseconds limit) {
  Process process(std::move(argv));
  const std::optional<int> status = process.Wait(limit);
  if (!status) process.Signal(SIGKILL);
  process.Wait(std::chrono::seconds(5));
  return {status.value_or(-1), process.out(), process.err()};
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-tools.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(const std::string& name, std::string_view text) const {
  const std::string file = path_ + "/" + name;
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

}  // namespace tarvo::test
