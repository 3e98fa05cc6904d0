#include "sim/scenarios.h"

#include <array>
#include <memory>

namespace corvid::bench {

namespace {

using namespace std::chrono_literals;

// Nothing beyond the defaults: every stand-in answers its default, no fault is
// injected, the micro starts from power-on (bypassed, not transmitting).
void configureNothing(PrepareOptions&) {}
void microAtPowerOn(AmpSimulator&) {}

// The operator has switched the amplifier in and keys 10 W into a 1.5:1 load.
void microTransmitting(AmpSimulator& micro) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setLoadSwr(1.5);
    m.key(10.0);
  });
}

// The same into a 3.5:1 load: above the micro's SWR limit.
void microIntoBadLoad(AmpSimulator& micro) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setLoadSwr(3.5);
    m.key(10.0);
  });
}

// The amplifier in, keyed with 10 W on 7.1 MHz, the tuner network and the three antennas
// of tuner_model.h behind it: the SWR follows the antenna the controller selects and the
// tune value it sends (antenna 1, the 20 m dipole, is far off on 40 m).
void microIntoAntennas(AmpSimulator& micro) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setTuner(std::make_shared<TunerLoad>());
    m.setTransceiverFrequency(7100000);
    m.key(10.0);
  });
}

// Heat sink 1 reads 75 °C, above the controller's default 70 °C limit. The word is in
// the faults file, so that removing it there shows the recovery.
void configureHot(PrepareOptions& options) {
  options.faults.emplace_back("amp-temp1:75");
}

constexpr std::array<Scenario, 6> kScenarios = {{
    {"default", "the micro simulator at power-on; stand-ins answer their defaults, no faults",
     &configureNothing, &microAtPowerOn, 0s},
    {"transmit", "the amplifier in, keyed with 10 W drive into a 1.5:1 load", &configureNothing,
     &microTransmitting, 0s},
    {"high-swr", "the amplifier in, keyed with 10 W drive into a 3.5:1 load", &configureNothing,
     &microIntoBadLoad, 0s},
    {"antennas",
     "the amplifier in, keyed with 10 W on 7.1 MHz into the tuner network and three antennas",
     &configureNothing, &microIntoAntennas, 0s},
    {"hot", "heat sink 1 at 75 C (amp-temp1:75 in the faults file)", &configureHot, &microAtPowerOn,
     0s},
    {"poll-benchmark",
     "polling figures: the controller against a zero-latency micro, 10 s after start-up",
     &configureNothing, &microAtPowerOn, 10s},
}};

}  // namespace

std::span<const Scenario> scenarios() {
  return kScenarios;
}

const Scenario* findScenario(std::string_view name) {
  for (const Scenario& scenario : kScenarios) {
    if (scenario.name == name) return &scenario;
  }
  return nullptr;
}

}  // namespace corvid::bench
