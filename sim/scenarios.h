// Scenarios of the bench: what a run sets up around the controller. Each is a row of the
// scenario table: the name that --scenario takes, a line for the help text, a function
// that adds its faults and stand-in answers to the root's preparation, and a function
// that sets up the amplifier micro simulator, which every scenario starts before the
// controller (its state, the drive it is keyed with, its load). A benchmark row also
// gives the time to measure after the controller's start-up commands; the bench then
// stops the controller and prints its figures.
#pragma once

#include <chrono>
#include <span>
#include <string_view>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"

namespace corvid::bench {

struct Scenario {
  std::string_view name;
  std::string_view summary;
  void (*configure)(PrepareOptions& options);
  void (*setupMicro)(AmpSimulator& micro);
  // Zero: the run lasts until it is stopped. Otherwise a benchmark: the steady polling
  // is measured this long after the start-up commands, then the run ends.
  std::chrono::seconds measure{0};
};

std::span<const Scenario> scenarios();
// Empty when no scenario has that name.
const Scenario* findScenario(std::string_view name);

}  // namespace corvid::bench
