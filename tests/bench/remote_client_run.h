// corvid-remote run as the program it is, for the bench tests of remote operation: its
// words after the address, its standard output and error, its exit status.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/child_process.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {

struct Finished {
  std::optional<ExitStatus> status;  // empty: it had to be stopped
  std::string out;
  std::string err;
};

// corvid-remote with these words after its address; stopped after the time.
inline Finished runRemote(uint16_t port, std::vector<std::string> words,
                          const std::filesystem::path& dir, std::chrono::seconds limit = 20s) {
  ChildOptions options;
  options.argv = emulatorWords();
  options.argv.push_back(CORVID_REMOTE_BINARY);
  options.argv.push_back("127.0.0.1:" + std::to_string(port));
  options.argv.insert(options.argv.end(), words.begin(), words.end());
  options.stdoutFile = dir / "remote-stdout.txt";
  std::string error;
  std::optional<ChildProcess> child = ChildProcess::start(options, error);
  Finished f;
  if (!child) {
    f.err = error;
    return f;
  }
  const int fd = child->stderrFd();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  auto drain = [&] {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) f.err.append(buffer, n);
  };
  const auto until = std::chrono::steady_clock::now() + limit;
  while (child->running() && std::chrono::steady_clock::now() < until) {
    drain();
    std::this_thread::sleep_for(50ms);
  }
  if (child->running()) {
    child->stop();
  } else {
    f.status = child->poll();
  }
  drain();
  std::ifstream in(options.stdoutFile);
  std::stringstream text;
  text << in.rdbuf();
  f.out = text.str();
  return f;
}

}  // namespace corvid::bench::test
