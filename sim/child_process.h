// A child process of the bench or of a bench test: started with fork and exec, its
// standard error read through a pipe, stopped and reaped by its owner. The child is
// asked by the kernel to die with its parent (PR_SET_PDEATHSIG), so a crashed bench or
// test leaves no controller running behind it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvid::bench {

struct ExitStatus {
  int code = 0;    // exit status when it exited
  int signal = 0;  // the signal that ended it, else 0
  // As a shell reports it: the exit status, or 128 + the signal.
  int shellStatus() const { return signal != 0 ? 128 + signal : code; }
  std::string describe() const;
};

enum class ProcessGroup { Inherit, Own };

struct ChildOptions {
  std::vector<std::string> argv;  // argv[0] is the program's path
  // The whole environment as "NAME=value" words; empty: this process's environment.
  std::vector<std::string> env;
  // Standard output to this file (created or truncated); empty: inherited.
  std::filesystem::path stdoutFile;
  // Own: the child leads a process group of its own, so the terminal's Ctrl-C reaches
  // only the parent, which then stops the child in an orderly way.
  ProcessGroup group = ProcessGroup::Inherit;
  // The child's working directory; empty: this process's.
  std::filesystem::path workingDir;
};

class ChildProcess {
 public:
  // Empty, with error set, when the program could not be started.
  static std::optional<ChildProcess> start(const ChildOptions& options, std::string& error);

  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Stops the child if it still runs.
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  // Read end of the child's standard error (a pipe; -1 once released or closed).
  int stderrFd() const { return stderr_; }

  // Reaps the child if it has ended; its status then (also on later calls).
  std::optional<ExitStatus> poll();
  bool running() { return !poll().has_value(); }
  // Blocks until the child ends.
  ExitStatus wait();
  // SIGTERM, then SIGKILL when it is still there after grace; always reaps it.
  ExitStatus stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

 private:
  ChildProcess(pid_t pid, int stderrFd) : pid_(pid), stderr_(stderrFd) {}
  void release();
  pid_t pid_ = -1;
  int stderr_ = -1;
  std::optional<ExitStatus> status_;
};

// The emulator that runs programs built for another processor (CORVID_EMULATOR, its
// words separated by blanks, "/usr/bin/qemu-arm -L /"), to put before such a program's
// path: without binfmt_misc the kernel cannot exec it directly. Empty natively.
// This process's environment with the words of extra ("NAME=value") added, each in place
// of a word of the same name.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra);
std::vector<std::string> emulatorWords();

}  // namespace corvid::bench
