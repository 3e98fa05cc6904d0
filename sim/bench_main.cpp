// corvid-bench: prepares a bench root, starts the amplifier micro simulator on the
// controller's amplifier line, starts "corvid --root DIR" and shows its log.
//
//   corvid-bench [--dir DIR] [--corvid PATH] [--standin PATH] [--fresh]
//                [--scenario NAME] [--fault WORD]... [--list-scenarios]
//
// The controller's standard error (its syslog copy and trace lines) is streamed line by
// line to standard output; the traffic on the amplifier line goes to
// DIR/var/log/amp-wire.log. A benchmark scenario stops the controller after its
// measurement and prints its figures. SIGINT, SIGTERM or SIGHUP stop the controller
// (SIGTERM, then SIGKILL after 3 s) and the bench exits with 0. When the controller
// ends by itself the bench exits with its status (128 + N when signal N ended it).
// Usage and preparation errors exit with 2.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/child_process.h"
#include "sim/poll_figures.h"
#include "sim/scenarios.h"

namespace fs = std::filesystem;
using namespace corvid::bench;

namespace {

int gSignalPipe[2] = {-1, -1};

void onStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

struct Options {
  fs::path dir = "bench-root";
  fs::path corvid;
  fs::path standin;
  bool fresh = false;
  std::string scenario = "default";
  std::vector<std::string> faults;
  bool listScenarios = false;
};

void usage(std::FILE* out) {
  std::fprintf(
      out,
      "usage: corvid-bench [--dir DIR] [--corvid PATH] [--standin PATH] [--fresh]\n"
      "                    [--scenario NAME] [--fault WORD]... [--list-scenarios]\n"
      "  --dir DIR        the bench root (default ./bench-root); its opt/set is kept\n"
      "  --corvid PATH    the controller (default: ../app/corvid beside this program)\n"
      "  --standin PATH   the stand-in programs' binary (default: beside this program)\n"
      "  --fresh          wipe DIR/opt/set first (factory start)\n"
      "  --scenario NAME  what runs around the controller (default: default)\n"
      "  --fault WORD     make stand-in calls fail: mount-rw, mount-ro, my_temp, ...,\n"
      "                   or the amplifier micro: amp-silent, amp-refuse:ST, amp-temp1:75,\n"
      "                   ... (DIR/bench/faults can be edited while the bench runs)\n");
}

void message(const char* format, const std::string& text) {
  std::fprintf(stdout, "corvid-bench: ");
  std::fprintf(stdout, format, text.c_str());
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Parses the command line; false (with the reason) on an error.
bool parse(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view word = argv[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = word.find('='); word.starts_with("--") && eq != std::string_view::npos) {
      value = std::string(word.substr(eq + 1));
      word = word.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        error = std::string(word) + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    if (word == "--dir") {
      if (!takeValue()) return false;
      options.dir = value;
    } else if (word == "--corvid") {
      if (!takeValue()) return false;
      options.corvid = value;
    } else if (word == "--standin") {
      if (!takeValue()) return false;
      options.standin = value;
    } else if (word == "--scenario") {
      if (!takeValue()) return false;
      options.scenario = value;
    } else if (word == "--fault") {
      if (!takeValue()) return false;
      options.faults.push_back(value);
    } else if (word == "--fresh" && !hasValue) {
      options.fresh = true;
    } else if (word == "--list-scenarios" && !hasValue) {
      options.listScenarios = true;
    } else {
      error = "unknown option " + std::string(argv[i]);
      return false;
    }
  }
  return true;
}

// Writes whole lines of the controller's output as they complete.
class LineStream {
 public:
  // False when standard output is gone.
  bool feed(std::string_view chunk) {
    pending_.append(chunk);
    size_t start = 0;
    for (size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
      if (std::fwrite(pending_.data() + start, 1, nl + 1 - start, stdout) != nl + 1 - start) {
        return false;
      }
    }
    pending_.erase(0, start);
    return std::fflush(stdout) == 0;
  }
  void finish() {
    if (pending_.empty()) return;
    pending_ += '\n';
    std::fwrite(pending_.data(), 1, pending_.size(), stdout);
    std::fflush(stdout);
    pending_.clear();
  }

 private:
  std::string pending_;
};

// Reads what the pipe holds now; false at its end or on an error.
bool readAvailable(int fd, LineStream& lines, bool& outputGone) {
  char buffer[4096];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  if (!lines.feed(std::string_view(buffer, static_cast<size_t>(n)))) outputGone = true;
  return true;
}

// Runs until the controller ends, a stop signal comes, or finished() says so (checked
// every 200 ms when given).
int runBench(ChildProcess& child, const std::function<bool()>& finished) {
  LineStream lines;
  int errFd = child.stderrFd();
  ::fcntl(errFd, F_SETFL, ::fcntl(errFd, F_GETFL) | O_NONBLOCK);
  bool outputGone = false;
  for (;;) {
    pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {errFd, POLLIN, 0}};
    const int ready = ::poll(fds, errFd >= 0 ? 2 : 1, 200);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & POLLIN) != 0) break;  // a stop signal
    if (finished && finished()) break;
    if (errFd >= 0 && ready > 0 && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
      if (!readAvailable(errFd, lines, outputGone)) errFd = -1;  // the child closed it
    }
    if (outputGone) break;
    if (errFd < 0) {
      if (const std::optional<ExitStatus> status = child.poll()) {
        lines.finish();
        message("corvid %s", status->describe());
        return status->shellStatus();
      }
    }
  }
  if (!outputGone) message("stopping corvid (pid %s)", std::to_string(child.pid()));
  const ExitStatus status = child.stop();
  if (errFd >= 0) {
    while (!outputGone && readAvailable(errFd, lines, outputGone)) {
    }
  }
  lines.finish();
  if (!outputGone) message("corvid stopped on request: %s", status.describe());
  return 0;
}

// The controller's amplifier line: LinPort of the root's settings, else the default.
std::string linPortOf(const BenchRoot& root) {
  std::ifstream setup(root.under("/opt/set/setup.txt"));
  for (std::string line; std::getline(setup, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.starts_with("LinPort: ") && line.size() > 9 && line[9] == '/') return line.substr(9);
  }
  return "/dev/ttyAMA0";
}

fs::path besideThisProgram(const fs::path& relative) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path() / relative).lexically_normal();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parse(argc, argv, options, error)) {
    std::fprintf(stderr, "corvid-bench: %s\n", error.c_str());
    usage(stderr);
    return 2;
  }
  if (options.listScenarios) {
    for (const Scenario& scenario : scenarios()) {
      std::printf("%-15.*s %.*s\n", static_cast<int>(scenario.name.size()), scenario.name.data(),
                  static_cast<int>(scenario.summary.size()), scenario.summary.data());
    }
    return 0;
  }
  const Scenario* scenario = findScenario(options.scenario);
  if (scenario == nullptr) {
    std::fprintf(stderr, "corvid-bench: no scenario named %s (see --list-scenarios)\n",
                 options.scenario.c_str());
    return 2;
  }
  if (options.corvid.empty()) options.corvid = besideThisProgram("../app/corvid");
  if (options.standin.empty()) options.standin = besideThisProgram("corvid-standin");
  std::error_code ec;
  if (!fs::is_regular_file(options.corvid, ec) || ::access(options.corvid.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "corvid-bench: no controller at %s (use --corvid PATH)\n",
                 options.corvid.c_str());
    return 2;
  }

  PrepareOptions prepare;
  prepare.dir = options.dir;
  prepare.standin = options.standin;
  prepare.settings = options.fresh ? SettingsStart::Fresh : SettingsStart::Keep;
  scenario->configure(prepare);
  prepare.faults.insert(prepare.faults.end(), options.faults.begin(), options.faults.end());
  const PrepareResult prepared = prepareRoot(prepare);
  for (const std::string& warning : prepared.warnings) message("warning: %s", warning);
  if (!prepared.root) {
    std::fprintf(stderr, "corvid-bench: %s\n", prepared.error.c_str());
    return 2;
  }
  const BenchRoot& root = *prepared.root;
  message("root %s", root.dir().string());
  message("calls log %s", root.callsLog().string());
  message("scenario %s", std::string(scenario->name) + " (" + std::string(scenario->summary) + ")");
  for (const std::string& fault : prepare.faults) message("fault %s", fault);

  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "corvid-bench: pipe: %s\n",
                 std::generic_category().message(errno).c_str());
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  AmpSimulatorOptions microOptions;
  microOptions.root = root.dir();
  microOptions.linPort = linPortOf(root);
  AmpSimulator micro(microOptions);
  scenario->setupMicro(micro);
  if (!micro.start(error)) {
    std::fprintf(stderr, "corvid-bench: amplifier micro: %s\n", error.c_str());
    return 2;
  }
  message("amplifier micro on %s", micro.slavePath() + " (" + micro.linkPath().string() + ")");
  message("wire log %s", root.under("/var/log/amp-wire.log").string());
  for (const std::string& err : micro.faultsFileErrors()) message("warning: %s", err);

  ChildOptions child;
  child.argv = {fs::absolute(options.corvid, ec).string(), "--root", root.dir().string()};
  child.group = ProcessGroup::Own;
  // The panel's pictures are files of the working directory, made by the build.
  child.workingDir = CORVID_PICTURES_DIR;
  message("starting %s", child.argv[0] + " --root " + root.dir().string());
  std::optional<ChildProcess> corvid = ChildProcess::start(child, error);
  if (!corvid) {
    std::fprintf(stderr, "corvid-bench: %s\n", error.c_str());
    return 2;
  }
  std::function<bool()> finished;
  if (scenario->measure.count() > 0) {
    finished = [&micro, measure = scenario->measure] {
      const std::optional<std::chrono::steady_clock::time_point> end =
          startupEnd(micro.wire().since());
      return end && std::chrono::steady_clock::now() >= *end + measure;
    };
  }
  const int status = runBench(*corvid, finished);
  corvid.reset();  // the controller first, then its micro
  micro.stop();
  if (scenario->measure.count() > 0) {
    const std::string figures = formatFigures(
        measurePolls(micro.wire().since(),
                     std::chrono::duration_cast<std::chrono::milliseconds>(scenario->measure)));
    std::fputs(figures.c_str(), stdout);
    const SimulatorCounters counters = micro.counters();
    std::printf("  frames %zu, bad frames %zu, replies %zu, refused by the micro %d\n",
                counters.frames, counters.badFrames, counters.replies, counters.refused);
  }
  return status;
}
