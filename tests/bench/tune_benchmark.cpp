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

namespace {

using namespace corvid;
using namespace corvid::bench;

struct BenchLoad {
  int antenna;
  uint64_t hz;
  const char* what;
};

constexpr BenchLoad kLoads[] = {
    {1, 7100000, "dipole 40 m"},       {1, 14200000, "dipole 20 m"},
    {1, 21200000, "dipole 15 m"},      {2, 1850000, "long wire 160 m"},
    {2, 3600000, "long wire 80 m"},    {2, 10120000, "long wire 30 m"},
    {2, 18100000, "long wire 17 m"},   {2, 28500000, "long wire 10 m"},
    {2, 50200000, "long wire 6 m"},    {3, 7100000, "vertical 40 m"},
    {3, 21200000, "vertical 15 m"},    {3, 28500000, "vertical 10 m"},
};

struct Result {
  size_t statusCycles = 0;
  size_t settings = 0;
  double millis = 0;
  double finalSwr = 0;
  bool ended = false;
};

Result runOne(const BenchLoad& load, const std::shared_ptr<const TunerLoad>& tuner, bool fine) {
  corvid::testing::TempRoot root;
  AmpMicro micro;
  micro.setTuner(tuner);
  micro.setTransceiverFrequency(load.hz);
  micro.settings().selectedAntenna = load.antenna;
  micro.key(5.0);
  auto works = std::make_unique<Works>();
  prepareTuneWorks(*works, load.antenna, load.hz);
  if (fine) {
    const BestMatch best = tuner->best(load.antenna, load.hz);
    const TuneSteps near{std::min(best.steps.l + 2, 511), std::min(best.steps.c + 4, 511),
                         best.steps.network == Network::Bypass ? Network::LC
                                                               : best.steps.network};
    works->atu.tuneValue = tuneValueOf(near);
    ReadTnePar(*works);
    micro.settings().tuneValue = tuneValueOf(near);
  }
  MicroStream stream(micro);
  LinkReceiver receiver;
  works->atu.fineTuneRequest = fine ? 1 : 0;

  Result result;
  const auto start = std::chrono::steady_clock::now();
  GoTune(*works);
  result.ended = runTuneToEnd(*works, stream, receiver);
  for (int i = 0; i < 20; ++i) linkStep(*works, stream, receiver);  // the last setting out
  result.millis =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (const std::string& c : stream.commands) result.statusCycles += c == "ST;";
  result.settings = tuneWrites(stream.commands).size();
  result.finalSwr = micro.loadSwr();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fine = argc > 1 && std::strcmp(argv[1], "--fine") == 0;
  corvid::testing::InstantSleep instant;
  auto tuner = std::make_shared<TunerLoad>();
  std::printf("%s tunes, zero-latency micro, 5 W drive\n", fine ? "fine" : "complete");
  std::printf("%-4s %-16s %9s %7s %9s %8s %9s %8s %-14s\n", "ant", "load", "MHz", "cycles",
              "settings", "ms", "final SWR", "best", "best at");
  int within = 0;
  int count = 0;
  for (const BenchLoad& load : kLoads) {
    const BestMatch best = tuner->best(load.antenna, load.hz);
    const Result r = runOne(load, tuner, fine);
    const char* net = best.steps.network == Network::LC   ? "LC"
                      : best.steps.network == Network::CL ? "CL"
                                                          : "bypass";
    char at[32];
    std::snprintf(at, sizeof at, "%s L%d C%d", net, best.steps.l, best.steps.c);
    std::printf("%-4d %-16s %9.3f %7zu %9zu %8.1f %9.2f %8.2f %-14s%s\n", load.antenna, load.what,
                static_cast<double>(load.hz) / 1e6, r.statusCycles, r.settings, r.millis,
                r.finalSwr, best.swr, at, r.ended ? "" : "  (did not end)");
    const double accepted = best.swr <= 1.2 ? std::max(1.5, best.swr + 0.3) : best.swr + 0.3;
    within += r.finalSwr <= accepted ? 1 : 0;
    ++count;
  }
  std::printf("%d of %d loads within 0.3 of the best (or at most 1.5 where the best is 1.2)\n",
              within, count);
  return 0;
}
