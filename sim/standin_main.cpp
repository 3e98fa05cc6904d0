// corvid-standin: every stand-in program of a bench root in one binary. The root's copy
// (DIR/bench/bin/corvid-standin) is linked as DIR/bin/mount, DIR/sbin/reboot, ...; it
// picks the stand-in by the name it is called with and finds the root from where it
// lies. Called as "corvid-standin NAME ARGUMENT..." it acts as NAME.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "sim/bench_root.h"
#include "sim/standins.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (!args.empty() && fs::path(args[0]).filename() == "corvid-standin") {
    if (args.size() < 2) {
      std::fprintf(stderr, "usage: corvid-standin NAME [ARGUMENT...]\n");
      return 2;
    }
    args.erase(args.begin());
  }
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  const std::optional<corvid::bench::BenchRoot> root =
      ec ? std::nullopt : corvid::bench::BenchRoot::ofStandin(exe);
  if (!root) {
    // The build's own binary: it has no root to record into or to act upon.
    std::fprintf(stderr, "corvid-standin: %s does not lie in a bench root\n", exe.c_str());
    return 126;
  }
  const corvid::bench::StandinOutcome outcome = corvid::bench::runStandin({*root, args});
  std::fwrite(outcome.out.data(), 1, outcome.out.size(), stdout);
  std::fwrite(outcome.err.data(), 1, outcome.err.size(), stderr);
  std::fflush(stdout);
  std::fflush(stderr);
  if (!outcome.execPath.empty()) {
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the stand-ins run one thread
    ::setenv("PATH", root->searchPath().c_str(), 1);
    std::vector<char*> execArgv;
    for (const std::string& word : outcome.execArgv)
      execArgv.push_back(const_cast<char*>(word.c_str()));
    execArgv.push_back(nullptr);
    ::execv(outcome.execPath.c_str(), execArgv.data());
    std::fprintf(stderr, "sudo: cannot run %s: %s\n", outcome.execPath.c_str(),
                 std::generic_category().message(errno).c_str());
    return 126;
  }
  return outcome.status;
}
