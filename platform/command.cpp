#include "platform/command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/root.h"

extern char** environ;

namespace corvid::platform {

namespace {

// LD_PRELOAD's list without ThreadSanitizer's runtime; empty when nothing else is left.
std::string withoutThreadSanitizer(std::string_view list) {
  std::string kept;
  while (!list.empty()) {
    const size_t end = list.find_first_of(": ");
    const std::string_view entry = list.substr(0, end);
    list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
    const size_t slash = entry.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? entry : entry.substr(slash + 1);
    if (entry.empty() || name.starts_with("libtsan.so")) continue;
    if (!kept.empty()) kept += ':';
    kept += entry;
  }
  return kept;
}

// The environment of a command: the process's own, with PATH replaced under a root.
// Under a root (the bench) a preloaded ThreadSanitizer runtime, which the controller's
// own build needs first in the list beside a preloaded library, is not handed on: the
// uninstrumented shell every command runs in crashes with it.
class Environment {
 public:
  Environment() {
    const std::string path = commandSearchPath();
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
      if (!path.empty() && std::strncmp(*e, "PATH=", 5) == 0) continue;
      if (!path.empty() && std::strncmp(*e, "LD_PRELOAD=", 11) == 0) {
        const std::string kept = withoutThreadSanitizer(*e + 11);
        if (!kept.empty()) storage_.push_back("LD_PRELOAD=" + kept);
        continue;
      }
      storage_.emplace_back(*e);
    }
    if (!path.empty()) storage_.push_back("PATH=" + path);
    for (auto& s : storage_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

CommandStatus waitFor(pid_t pid) {
  CommandStatus status;
  int wstatus = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &wstatus, 0);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    status.spawnError = errno;
    return status;
  }
  status.exitCode = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return status;
}

// Starts /bin/sh -c COMMAND; with outFd >= 0 its standard output goes there.
int spawnShell(std::string_view command, int outFd, int closeFd, pid_t* pid) {
  std::string line = hostCommand(command);
  char shell[] = "/bin/sh";
  char dashC[] = "-c";
  char* argv[] = {shell, dashC, line.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (outFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, outFd);
  }
  if (closeFd >= 0) posix_spawn_file_actions_addclose(&actions, closeFd);
  Environment env;
  const int rc = ::posix_spawn(pid, shell, &actions, nullptr, argv, env.get());
  posix_spawn_file_actions_destroy(&actions);
  return rc;
}

}  // namespace

namespace {
std::atomic<CommandHook> gCommandHook{nullptr};
}  // namespace

void setCommandHook(CommandHook hook) {
  gCommandHook.store(hook);
}

CommandStatus runCommand(std::string_view command) {
  if (const CommandHook hook = gCommandHook.load()) return hook(command);
  pid_t pid = -1;
  const int rc = spawnShell(command, -1, -1, &pid);
  if (rc != 0) {
    CommandStatus status;
    status.spawnError = rc;
    return status;
  }
  return waitFor(pid);
}

std::optional<CommandPipe> CommandPipe::start(std::string_view command) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  Fd readEnd(fds[0]);
  Fd writeEnd(fds[1]);
  pid_t pid = -1;
  if (spawnShell(command, writeEnd.get(), readEnd.get(), &pid) != 0) return std::nullopt;
  return CommandPipe(std::move(readEnd), pid);
}

CommandPipe::CommandPipe(CommandPipe&& other) noexcept
    : out_(std::move(other.out_)),
      pid_(std::exchange(other.pid_, -1)),
      pending_(std::move(other.pending_)),
      eof_(other.eof_) {}

CommandPipe& CommandPipe::operator=(CommandPipe&& other) noexcept {
  if (this != &other) {
    close();
    out_ = std::move(other.out_);
    pid_ = std::exchange(other.pid_, -1);
    pending_ = std::move(other.pending_);
    eof_ = other.eof_;
  }
  return *this;
}

CommandPipe::~CommandPipe() { close(); }

bool CommandPipe::readLine(std::string& line, size_t maxChars) {
  for (;;) {
    const size_t nl = pending_.find('\n');
    if (nl != std::string::npos || (eof_ && !pending_.empty())) {
      const size_t end = nl == std::string::npos ? pending_.size() : nl;
      line.assign(pending_, 0, std::min(end, maxChars));
      pending_.erase(0, nl == std::string::npos ? end : nl + 1);
      return true;
    }
    if (eof_ || !out_.valid()) return false;
    char buffer[512];
    const ssize_t n = ::read(out_.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      eof_ = true;
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

CommandStatus CommandPipe::close() {
  out_.reset();
  if (pid_ < 0) return {};
  const pid_t pid = std::exchange(pid_, -1);
  return waitFor(pid);
}

}  // namespace corvid::platform
