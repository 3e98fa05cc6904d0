// Scenarios of the bench: what a run sets up around the controller. Each is a row of the
// scenario table: the name that --scenario takes, a line for the help text, a function
// that adds its faults and stand-in answers to the root's preparation, and a function
// that sets up the simulators, which every scenario starts before the controller: the
// amplifier micro (its state, its load) and the station of the transceivers (frequency,
// transmission, drive). The station reaches the micro through the bench's feed, so a
// scenario keys the transmitter on the station, never on the micro. A benchmark row also
// gives the time to measure after the controller's start-up commands; the bench then
// stops the controller and prints its figures.
#pragma once

#include <chrono>
#include <span>
#include <string_view>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/station.h"

namespace corvid::bench {

struct Scenario {
  std::string_view name;
  std::string_view summary;
  void (*configure)(PrepareOptions& options);
  void (*setup)(AmpSimulator& micro, Station& station);
  // Zero: the run lasts until it is stopped. Otherwise a benchmark: the steady polling
  // is measured this long after the start-up commands, then the run ends.
  std::chrono::seconds measure{0};
};

std::span<const Scenario> scenarios();
// Empty when no scenario has that name.
const Scenario* findScenario(std::string_view name);

}  // namespace corvid::bench
