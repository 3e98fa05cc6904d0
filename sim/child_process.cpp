#include "sim/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace corvid::bench {

namespace {

std::string errnoText(int err) {
  return std::generic_category().message(err);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

ExitStatus decode(int wstatus) {
  ExitStatus status;
  if (WIFEXITED(wstatus)) status.code = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) status.signal = WTERMSIG(wstatus);
  return status;
}

}  // namespace

std::string ExitStatus::describe() const {
  if (signal == 0) return "exited with status " + std::to_string(code);
  const char* name = ::sigabbrev_np(signal);
  return "ended by signal " + std::to_string(signal) +
         (name != nullptr ? std::string(" (SIG") + name + ")" : std::string());
}

std::optional<ChildProcess> ChildProcess::start(const ChildOptions& options, std::string& error) {
  if (options.argv.empty()) {
    error = "no program to start";
    return std::nullopt;
  }
  // Everything the child needs is made before fork: after it, only calls that are safe
  // in a child of a threaded process.
  std::vector<char*> argv;
  for (const std::string& word : options.argv) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const std::string workingDir = options.workingDir.string();
  std::vector<char*> env;
  for (const std::string& word : options.env) env.push_back(const_cast<char*>(word.c_str()));
  env.push_back(nullptr);
  char** envp = options.env.empty() ? environ : env.data();

  int errPipe[2];
  int execPipe[2];  // carries errno when exec fails; closed by a successful exec
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    error = "pipe: " + errnoText(errno);
    return std::nullopt;
  }
  if (::pipe2(execPipe, O_CLOEXEC) != 0) {
    error = "pipe: " + errnoText(errno);
    ::close(errPipe[0]);
    ::close(errPipe[1]);
    return std::nullopt;
  }
  int outFd = -1;
  if (!options.stdoutFile.empty()) {
    outFd = ::open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outFd < 0) {
      error = "cannot create " + options.stdoutFile.string() + ": " + errnoText(errno);
      for (int fd : {errPipe[0], errPipe[1], execPipe[0], execPipe[1]}) ::close(fd);
      return std::nullopt;
    }
  }
  const bool ownGroup = options.group == ProcessGroup::Own;
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the parent died before the request
    if (ownGroup) ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);  // NOLINT(concurrency-mt-unsafe): one thread here
    ::dup2(errPipe[1], STDERR_FILENO);
    if (outFd >= 0) ::dup2(outFd, STDOUT_FILENO);
    if (!workingDir.empty() && ::chdir(workingDir.c_str()) != 0) {
      const int err = errno;
      [[maybe_unused]] const ssize_t n = ::write(execPipe[1], &err, sizeof err);
      ::_exit(127);
    }
    ::execve(argv[0], argv.data(), envp);
    const int err = errno;
    [[maybe_unused]] const ssize_t n = ::write(execPipe[1], &err, sizeof err);
    ::_exit(127);
  }
  const int forkErrno = errno;
  ::close(errPipe[1]);
  ::close(execPipe[1]);
  if (outFd >= 0) ::close(outFd);
  if (pid < 0) {
    error = "fork: " + errnoText(forkErrno);
    ::close(errPipe[0]);
    ::close(execPipe[0]);
    return std::nullopt;
  }
  int execErrno = 0;
  ssize_t n;
  do {
    n = ::read(execPipe[0], &execErrno, sizeof execErrno);
  } while (n < 0 && errno == EINTR);
  ::close(execPipe[0]);
  ChildProcess child(pid, errPipe[0]);
  if (n == static_cast<ssize_t>(sizeof execErrno)) {
    child.wait();
    error = "cannot run " + options.argv[0] + ": " + errnoText(execErrno);
    return std::nullopt;
  }
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      stderr_(std::exchange(other.stderr_, -1)),
      status_(std::exchange(other.status_, std::nullopt)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, -1);
    stderr_ = std::exchange(other.stderr_, -1);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  release();
}

void ChildProcess::release() {
  if (pid_ > 0 && !status_) stop();
  closeFd(stderr_);
  pid_ = -1;
}

std::optional<ExitStatus> ChildProcess::poll() {
  if (status_ || pid_ <= 0) return status_;
  int wstatus = 0;
  const pid_t r = ::waitpid(pid_, &wstatus, WNOHANG);
  if (r == pid_) {
    status_ = decode(wstatus);
  } else if (r < 0 && errno != EINTR) {
    status_ = ExitStatus{-1, 0};  // not our child any more: nothing left to wait for
  }
  return status_;
}

ExitStatus ChildProcess::wait() {
  if (status_ || pid_ <= 0) return status_.value_or(ExitStatus{-1, 0});
  int wstatus = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &wstatus, 0);
  } while (r < 0 && errno == EINTR);
  status_ = r == pid_ ? decode(wstatus) : ExitStatus{-1, 0};
  return *status_;
}

ExitStatus ChildProcess::stop(std::chrono::milliseconds grace) {
  if (poll()) return *status_;
  ::kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + grace;
  while (std::chrono::steady_clock::now() < deadline) {
    if (poll()) return *status_;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  return wait();
}

std::vector<std::string> emulatorWords() {
  std::vector<std::string> words;
  // NOLINTNEXTLINE(concurrency-mt-unsafe): the bench and its tests call no setenv
  if (const char* emulator = std::getenv("CORVID_EMULATOR"); emulator != nullptr) {
    std::istringstream text(emulator);
    for (std::string word; text >> word;) words.push_back(word);
  }
  return words;
}

std::vector<std::string> environmentWith(const std::vector<std::string>& extra) {
  auto name = [](const std::string& word) { return word.substr(0, word.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string word = *e;
    const bool replaced = std::any_of(extra.begin(), extra.end(),
                                      [&](const std::string& x) { return name(x) == name(word); });
    if (!replaced) env.push_back(word);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

}  // namespace corvid::bench
