// Scenarios of the bench: what a run sets up around the controller. Each is a row of the
// scenario table: the name that --scenario takes, a line for the help text, and a
// function that adds its faults and stand-in answers to the root's preparation. The
// simulators (amplifier micro, transceivers, keys) join as further rows, each naming
// what it starts on which device files.
#pragma once

#include <span>
#include <string_view>

#include "sim/bench_root.h"

namespace corvid::bench {

struct Scenario {
  std::string_view name;
  std::string_view summary;
  void (*configure)(PrepareOptions& options);
};

std::span<const Scenario> scenarios();
// Empty when no scenario has that name.
const Scenario* findScenario(std::string_view name);

}  // namespace corvid::bench
