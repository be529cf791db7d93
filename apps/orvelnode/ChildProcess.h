#pragma once

// A child process with pipes to its standard input and output, and a line
// reader over its output: how clients, tests and benchmarks drive
// orvelnode. Header-only; Linux.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvel {

class ChildProcess {
public:
  // Starts `argv[0]` with the arguments; standard error is inherited unless
  // `errorToOutput`, which sends it to the same pipe as standard output.
  explicit ChildProcess(const std::vector<std::string>& argv, bool errorToOutput = false) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      dup2(in[0], STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      if (errorToOutput) dup2(out[1], STDERR_FILENO);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_in = in[1];
    m_out = out[0];
  }
  ~ChildProcess() {
    CloseInput();
    if (m_out >= 0) close(m_out);
    if (m_pid > 0 && !m_status) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  int InputFd() const { return m_in; }
  pid_t Pid() const { return m_pid; }

  // Writes `text` whole; false when the child no longer reads.
  bool Write(const std::string& text) {
    const char* at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
      const ssize_t n = write(m_in, at, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      at += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }
  bool WriteLine(const std::string& line) { return Write(line + "\n"); }
  void CloseInput() {
    if (m_in >= 0) close(m_in);
    m_in = -1;
  }

  // The next line of output (without its line feed), or nothing at end of
  // output or after `timeout`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const auto end = m_buffer.find('\n', m_scanned); end != std::string::npos) {
        std::string line = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        m_scanned = 0;
        return line;
      }
      m_scanned = m_buffer.size();
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd fd{m_out, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[65536];
      const ssize_t n = read(m_out, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (m_buffer.empty()) return std::nullopt;
        std::string last = std::move(m_buffer);
        m_buffer.clear();
        m_scanned = 0;
        return last;
      }
      m_buffer.append(chunk, static_cast<std::size_t>(n));
    }
  }

  // The exit status (or 128 + signal), waiting up to `timeout`; -1 when the
  // child is still running then.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    if (m_status) return *m_status;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      const pid_t done = waitpid(m_pid, &status, WNOHANG);
      if (done == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return *m_status;
      }
      if (std::chrono::steady_clock::now() >= deadline) return -1;
      usleep(2000);
    }
  }
  void Signal(int signal) { kill(m_pid, signal); }

private:
  pid_t m_pid = -1;
  int m_in = -1;
  int m_out = -1;
  std::string m_buffer;
  std::size_t m_scanned = 0;
  std::optional<int> m_status;
};

}  // namespace orvel
