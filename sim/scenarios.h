// Scenarios of the bench: what a run sets up around the controller. Each is a row of the
// scenario table: the name that --scenario takes, a line for the help text, a function
// that adds its faults and stand-in answers to the root's preparation, and a function
// that sets up the simulators, which every scenario starts before the controller: the
// amplifier micro (its state, its load) and the station of the transceivers (frequency,
// transmission, drive). The station reaches the micro through the bench's feed, so a
// scenario keys the transmitter on the station, never on the micro. A benchmark row also
// gives the time to measure after the controller's start-up commands; the bench then
// stops the controller and prints its figures.
//
// A scenario in remote operation has the bench write the settings of it into the root
// before the start (setRemoteOperation): remote operation, the server on a free port with
// the bench's passphrase, the CAT link, the bench's sound devices, and the banks on the
// EXT IO interface ("!Pex"), which remote operation needs. They stay in the root's
// setup.txt like any setting the operator changes: a later run of another scenario on the
// same root is in remote operation too, until --fresh or the menu's local/remote item.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sim/amp_simulator.h"
#include "sim/bench_root.h"
#include "sim/station.h"

namespace corvid::bench {

enum class Operation { Local, Remote };

// The passphrase a remote scenario gives the server.
inline constexpr std::string_view kBenchPassphrase = "bench";

struct Scenario {
  std::string_view name;
  std::string_view summary;
  void (*configure)(PrepareOptions& options);
  void (*setup)(AmpSimulator& micro, Station& station);
  // Zero: the run lasts until it is stopped. Otherwise a benchmark: the steady polling
  // is measured this long after the start-up commands, then the run ends.
  std::chrono::seconds measure{0};
  Operation operation = Operation::Local;
};

std::span<const Scenario> scenarios();
// Empty when no scenario has that name.
const Scenario* findScenario(std::string_view name);

// Writes remote operation into the root's setup.txt ("LocalRemote" 1, "WebSocket" 1,
// "EnableCAT" 1, "TcpPort" tcpPort, "Passphrase" passphrase, "AudioIn" and "AudioOut" the
// bench's sound devices; a missing file gets just these keys, the controller fills in the
// rest) and sets every bank's interface to EXT IO.
// Empty, or what went wrong.
std::string setRemoteOperation(const BenchRoot& root, uint16_t tcpPort,
                               std::string_view passphrase);
// setup.txt text with key set to value: its line replaced, or added at the end.
std::string withSetupValue(std::string_view setupText, std::string_view key,
                           std::string_view value);
// A TCP port that nothing listens on now (the kernel's choice); 0 when none can be had.
uint16_t freeTcpPort();

}  // namespace corvid::bench
