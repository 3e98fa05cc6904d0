// The controller's own link and tuner code run in-process against the bench's micro:
// the controller has no way yet to start a tune from outside (the tune key's handler is
// not built), so a test or the tune benchmark calls GoTune itself and turns the link's
// state machine (linkStep, the body of the Linear thread) until the tune has ended.
//
// microLine is the zero-latency line: the micro answers each frame as it is written.
// On the bench proper the same link runs over the simulator's pseudo-terminal.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "amp/link.h"
#include "app/wiring.h"
#include "atu/atu.h"
#include "core/works.h"
#include "platform/serial.h"
#include "sim/amp_micro.h"
#include "sim/micro_protocol.h"
#include "sim/tuner_model.h"
#include "tests/unit/fake_micro.h"
#include "tests/unit/test_support.h"

namespace corvid::bench {

// The zero-latency line to a micro simulator: it answers each frame as it is written.
inline testing::FakeMicro microLine(AmpMicro& micro) {
  return testing::FakeMicro([&micro](const std::string& command) -> std::string {
    const auto reply = micro.answer(command, SimClock::now());
    return reply ? frameReply(*reply) : std::string();
  });
}

// A record as the link has it after the amplifier's start-up, set for a tune on antenna
// (1..3) at a frequency: automatic tuning enabled, no SWR target (the fine passes run
// to 1.1), the status poll running.
inline void prepareTuneWorks(Works& works, int antenna, uint64_t frequencyHz) {
  testing::prepareLinkedWorks(works);
  works.set.AutoTuneMode = 1;
  works.set.AutoTuneMaxCicli = 0;  // 600 cycles
  works.set.NumAntenna = antenna - 1;
  works.atu.tunerBypassed = 0;
  works.ui.trxFreq = static_cast<uint32_t>(frequencyHz);
  works.amp.linearProcessStatus = CmdST;
  wireHooks(works);
}

// Turns the link until the tune started by the caller has ended, or the step budget is
// spent; true when it ended.
template <class Port>
bool runTuneToEnd(Works& works, Port& port, LinkReceiver& receiver, long maxSteps = 2000000) {
  for (long i = 0; i < maxSteps; ++i) {
    if (works.atu.tuneState.load() == TuneState::Idle) return true;
    linkStep(works, port, receiver);
  }
  return works.atu.tuneState.load() == TuneState::Idle;
}

// The tune values of the MT1 commands, in order.
inline std::vector<uint32_t> tuneWrites(const std::vector<std::string>& commands) {
  std::vector<uint32_t> values;
  for (const std::string& c : commands) {
    if (c.size() == 12 && c.compare(0, 3, "MT1") == 0) {
      values.push_back(static_cast<uint32_t>(std::stoul(c.substr(3, 8), nullptr, 16)));
    }
  }
  return values;
}

// What a tune should reach. With no SWR target the controller's fine passes stop at 1.1
// or when their spans run out, and it reads the SWR from two square-law detectors in 12
// bits, so it cannot be held to the exact optimum: within 0.3 of the best any setting
// reaches, or at most 1.5 where that best is 1.2 or lower (a load an operator calls
// matched).
inline double acceptedSwr(double best) {
  return best <= 1.2 ? std::max(1.5, best + 0.3) : best + 0.3;
}

// The loads of the tune benchmark and of the acceptance suite: each antenna on bands
// where it is matched at once, needs a long way of L or C, or is barely in reach.
struct BenchLoad {
  int antenna;
  uint64_t hz;
  const char* what;
};

inline constexpr BenchLoad kBenchLoads[] = {
    {1, 7100000, "dipole 40 m"},     {1, 14200000, "dipole 20 m"},
    {1, 21200000, "dipole 15 m"},    {2, 1850000, "long wire 160 m"},
    {2, 3600000, "long wire 80 m"},  {2, 10120000, "long wire 30 m"},
    {2, 18100000, "long wire 17 m"}, {2, 28500000, "long wire 10 m"},
    {2, 50200000, "long wire 6 m"},  {3, 7100000, "vertical 40 m"},
    {3, 21200000, "vertical 15 m"},  {3, 28500000, "vertical 10 m"},
};

struct TuneOutcome {
  size_t statusCycles = 0;  // ST polls from the start of the tune to its end
  size_t settings = 0;      // MT1 writes
  double millis = 0;
  double finalSwr = 0;  // of the load at the setting the micro holds at the end
  bool ended = false;
};

// One tune on a fresh record and micro over the zero-latency line, 5 W of drive. A fine
// tune starts 2 L and 4 C steps off the best setting. The caller holds a TempRoot and an
// InstantSleep.
inline TuneOutcome tuneOnZeroLatencyMicro(const BenchLoad& load,
                                          const std::shared_ptr<const TunerLoad>& tuner,
                                          bool fine) {
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
                         best.steps.network == Network::Bypass ? Network::LC : best.steps.network};
    works->atu.tuneValue = tuneValueOf(near);
    ReadTnePar(*works);
    micro.settings().tuneValue = tuneValueOf(near);
  }
  works->atu.fineTuneRequest = fine ? 1 : 0;
  testing::FakeMicro stream = microLine(micro);
  LinkReceiver receiver;

  TuneOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  GoTune(*works);
  outcome.ended = runTuneToEnd(*works, stream, receiver);
  for (int i = 0; i < 20; ++i) linkStep(*works, stream, receiver);  // the last setting out
  outcome.millis =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  for (const std::string& c : stream.commands) outcome.statusCycles += c == "ST;";
  outcome.settings = tuneWrites(stream.commands).size();
  outcome.finalSwr = micro.loadSwr();
  return outcome;
}

}  // namespace corvid::bench
