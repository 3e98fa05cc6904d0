// corvid-tune-benchmark: complete tunes of the controller's own tuner code over a fixed
// set of loads (antenna and frequency) against the zero-latency micro with the tuner
// network, one fresh record and micro per load. Prints, per load, the status cycles
// the tune took, the wall time, the SWR at the setting it applied and the best SWR any
// setting of the network reaches; the pauses the tuner asks for are not slept.
//
//   corvid-tune-benchmark [--fine]    --fine: a fine tune from the best point's
//                                      neighbourhood (4 C and 2 L steps off) instead
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sim/tuner_model.h"
#include "tests/bench/tune_rig.h"
#include "tests/unit/test_support.h"

using namespace corvid::bench;

int main(int argc, char** argv) {
  const bool fine = argc > 1 && std::strcmp(argv[1], "--fine") == 0;
  corvid::testing::InstantSleep instant;
  corvid::testing::LogCatcher quiet;  // the tuner's trace lines
  auto tuner = std::make_shared<TunerLoad>();
  std::printf("%s tunes, zero-latency micro, 5 W drive\n", fine ? "fine" : "complete");
  std::printf("%-4s %-16s %9s %7s %9s %8s %9s %8s %-14s\n", "ant", "load", "MHz", "cycles",
              "settings", "ms", "final SWR", "best", "best at");
  int within = 0;
  int count = 0;
  for (const BenchLoad& load : kBenchLoads) {
    const BestMatch best = tuner->best(load.antenna, load.hz);
    const corvid::testing::TempRoot root;  // the tune memories of this load only
    const TuneOutcome r = tuneOnZeroLatencyMicro(load, tuner, fine);
    const char* net = best.steps.network == Network::LC   ? "LC"
                      : best.steps.network == Network::CL ? "CL"
                                                          : "bypass";
    char at[32];
    std::snprintf(at, sizeof at, "%s L%d C%d", net, best.steps.l, best.steps.c);
    std::printf("%-4d %-16s %9.3f %7zu %9zu %8.1f %9.2f %8.2f %-14s%s\n", load.antenna, load.what,
                static_cast<double>(load.hz) / 1e6, r.statusCycles, r.settings, r.millis,
                r.finalSwr, best.swr, at, r.ended ? "" : "  (did not end)");
    within += r.finalSwr <= acceptedSwr(best.swr) ? 1 : 0;
    ++count;
  }
  std::printf("%d of %d loads within 0.3 of the best (or at most 1.5 where the best is 1.2)\n",
              within, count);
  return 0;
}
