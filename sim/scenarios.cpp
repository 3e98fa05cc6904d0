#include "sim/scenarios.h"

#include <array>

namespace corvid::bench {

namespace {

// The unit on the bench with nothing attached: every stand-in answers its default, no
// fault is injected, no simulator runs.
void configureDefault(PrepareOptions&) {}

constexpr std::array<Scenario, 1> kScenarios = {{
    {"default", "the controller alone; stand-ins answer their defaults, no faults",
     &configureDefault},
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
