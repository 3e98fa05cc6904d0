// corvid-idle-benchmark: the processor share of the whole idle controller. The real
// controller runs on a bench root against the amplifier micro simulator (and, when
// asked, the FT-817 or EXT IO transceiver simulator), with the panel pictures; once the
// start-up has ended and the display loop runs, its processor time (user + system, all
// threads, from /proc/PID/stat) is sampled over a window, and the share of one core is
// printed for the process and for each thread. Not a test: run it by hand.
//
//   corvid-idle-benchmark [SECONDS] [ft817|extio]     (default 20 s, micro only)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/extio_sim.h"
#include "sim/ft817_sim.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/proc_ticks.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string bandTable(const char* interfaceLine) {
  return std::string(interfaceLine) + "\n" +
         "40m 7000000 7300000 1 1 1 0 5.0\n"
         "20m 14000000 14350000 1 1 1 0 5.0\n"
         "15m 21000000 21450000 1 1 1 0 5.0\n";
}

int run(double seconds, const std::string& trx) {
  MicroRun bench({.faults = {}, .answers = {}, .workingDir = CORVID_PICTURES_DIR});
  CorvidRun& controller = bench.corvid();
  if (!controller.prepared()) return 1;
  std::unique_ptr<Ft817Simulator> ft817;
  std::unique_ptr<ExtIoSimulator> extio;
  std::unique_ptr<StationFeed> feed;
  std::string error;
  if (trx == "ft817") {
    controller.writeFile("/opt/set/antenna.txt", bandTable("!817"));
    controller.writeFile("/opt/set/antenna_b1.txt", bandTable("!817"));
    ft817 = std::make_unique<Ft817Simulator>(Ft817Options{.root = controller.root().dir(),
                                                          .port = "/dev/VORN817",
                                                          .watchFaultsFile = false,
                                                          .station = {}});
    if (!ft817->start(error)) {
      std::fprintf(stderr, "FT-817 simulator: %s\n", error.c_str());
      return 1;
    }
    feed = std::make_unique<StationFeed>(ft817->sharedStation(), bench.micro());
  } else if (trx == "extio") {
    controller.writeFile("/opt/set/antenna.txt", bandTable("!Pex"));
    controller.writeFile("/opt/set/antenna_b1.txt", bandTable("!Pex"));
    extio = std::make_unique<ExtIoSimulator>(ExtIoOptions{.root = controller.root().dir(),
                                                          .port = "/dev/VORNSER",
                                                          .watchFaultsFile = false,
                                                          .cycleMs = 100,
                                                          .station = {}});
    if (!extio->start(error)) {
      std::fprintf(stderr, "EXT IO simulator: %s\n", error.c_str());
      return 1;
    }
    feed = std::make_unique<StationFeed>(extio->sharedStation(), bench.micro());
  }
  if (feed) feed->start();
  if (!bench.start()) return 1;
  if (!controller.waitForLog("Timer thread started", 60s)) {
    std::fprintf(stderr, "the controller's start-up did not end:\n%s\n", controller.log().c_str());
    return 1;
  }
  std::this_thread::sleep_for(2s);  // the first frames, the first follow-up

  const pid_t pid = controller.pid();
  const fs::path stat = fs::path("/proc") / std::to_string(pid) / "stat";
  const auto threadsBefore = threadTicks(pid);
  const auto before = cpuTicks(stat);
  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const auto after = cpuTicks(stat);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const auto threadsAfter = threadTicks(pid);
  if (!before || !after || !controller.alive()) {
    std::fprintf(stderr, "the controller ended during the window\n");
    return 1;
  }
  const double tick = static_cast<double>(::sysconf(_SC_CLK_TCK));
  const auto share = [&](unsigned long long ticks) {
    return static_cast<double>(ticks) / tick / wall * 100.0;
  };

  std::printf("idle controller (micro%s), %.1f s window, pid %d\n",
              trx.empty() ? "" : (" + " + trx).c_str(), wall, static_cast<int>(pid));
  std::printf("process: %.1f %% of one core\n", share(*after - *before));
  std::vector<std::pair<double, std::string>> threads;
  for (const auto& [name, ticks] : threadsAfter) {
    const auto was = threadsBefore.find(name);
    threads.emplace_back(share(ticks - (was == threadsBefore.end() ? 0 : was->second)), name);
  }
  std::sort(threads.rbegin(), threads.rend());
  for (const auto& [percent, name] : threads)
    std::printf("  %-28s %5.1f %%\n", name.c_str(), percent);
  return 0;
}

}  // namespace
}  // namespace corvid::bench::test

int main(int argc, char** argv) {
  double seconds = 20;
  std::string trx;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "ft817" || arg == "extio") {
      trx = arg;
    } else if (const double s = std::atof(arg.c_str()); s > 0) {
      seconds = s;
    } else {
      std::fprintf(stderr, "usage: %s [SECONDS] [ft817|extio]\n", argv[0]);
      return 2;
    }
  }
  return corvid::bench::test::run(seconds, trx);
}
