#include "sim/scenarios.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "sim/root_settings.h"
#include "sim/standins.h"

namespace corvid::bench {

namespace {

using namespace std::chrono_literals;

// Nothing beyond the defaults: every stand-in answers its default, no fault is
// injected, the micro starts from power-on (bypassed, not transmitting), the station
// receives on its power-on frequency.
void configureNothing(PrepareOptions&) {}
void atPowerOn(AmpSimulator&, Station&) {}

// The operator keys the transceiver with drive watts. Only the station's own state is
// changed (Station::update is its lock), so the feed carries it to the micro.
void transmitWith(Station& station, double watts) {
  station.update([watts](StationState& s) {
    s.pttWatts = watts;
    s.ptt = true;
  });
}

// The operator has switched the amplifier in and keys 10 W into a 1.5:1 load.
void transmitting(AmpSimulator& micro, Station& station) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setLoadSwr(1.5);
  });
  transmitWith(station, 10.0);
}

// The same into a 3.5:1 load: above the micro's SWR limit.
void intoBadLoad(AmpSimulator& micro, Station& station) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setLoadSwr(3.5);
  });
  transmitWith(station, 10.0);
}

// The amplifier in, keyed with 10 W on 7.1 MHz, the tuner network and the three antennas
// of tuner_model.h behind it: the SWR follows the antenna the controller selects and the
// tune value it sends (antenna 1, the 20 m dipole, is far off on 40 m).
void intoAntennas(AmpSimulator& micro, Station& station) {
  micro.withMicro([](AmpMicro& m) {
    m.settings().bypassed = false;
    m.setTuner(std::make_shared<TunerLoad>());
  });
  station.update([](StationState& s) {
    s.memory = false;
    s.vfoB = false;
    s.split = false;
    s.freqA = 7'100'000;
  });
  transmitWith(station, 10.0);
}

// Heat sink 1 reads 75 °C, above the controller's default 70 °C limit. The word is in
// the faults file, so that removing it there shows the recovery.
void configureHot(PrepareOptions& options) {
  options.faults.emplace_back("amp-temp1:75");
}

// my_vorn reports no connection: the panel's top line shows "No Conn" and no update is
// looked for.
void configureLanOffline(PrepareOptions& options) {
  options.answers["my_vorn"] = std::string(kMyVornNoConn);
}

// my_vorn offers software 01.047 (and amplifier firmware 001.012), newer than the
// controller's: the update is announced and, when the operator starts it, the update
// script succeeds.
void configureUpdateOffered(PrepareOptions& options) {
  options.answers["my_vorn"] = std::string(kMyVornUpdateOffered);
}

// The amplifier's firmware is the one the offer names (001.012), so that only the
// software is newer: the menu's update then runs the update script. With the micro's
// power-on version the controller would first ask for a firmware update.
void withOfferedFirmware(AmpSimulator& micro, Station&) {
  micro.withMicro([](AmpMicro& m) { m.setFirmwareVersion(std::string(kOfferedFirmware)); });
}

// The same offer, but both update scripts fail with error 12.
void configureUpdateError(PrepareOptions& options) {
  options.answers["my_vorn"] = std::string(kMyVornUpdateOffered);
  options.answers["getpack.sh"] = std::string(kGetpackError);
  options.answers["getpack2.sh"] = std::string(kGetpackError);
}

constexpr std::array<Scenario, 10> kScenarios = {{
    {"default", "the simulators at power-on; stand-ins answer their defaults, no faults",
     &configureNothing, &atPowerOn, 0s, Operation::Local},
    {"transmit", "the amplifier in, the transceiver keyed with 10 W drive into a 1.5:1 load",
     &configureNothing, &transmitting, 0s, Operation::Local},
    {"high-swr", "the amplifier in, the transceiver keyed with 10 W drive into a 3.5:1 load",
     &configureNothing, &intoBadLoad, 0s, Operation::Local},
    {"antennas",
     "the amplifier in, keyed with 10 W on 7.1 MHz into the tuner network and three antennas",
     &configureNothing, &intoAntennas, 0s, Operation::Local},
    {"hot", "heat sink 1 at 75 C (amp-temp1:75 in the faults file)", &configureHot, &atPowerOn, 0s,
     Operation::Local},
    {"lan-offline", "my_vorn reports no connection (\"No Conn\"): no update is looked for",
     &configureLanOffline, &atPowerOn, 0s, Operation::Local},
    {"update-offered",
     "my_vorn offers software 01.047, newer than the controller's; the update succeeds",
     &configureUpdateOffered, &withOfferedFirmware, 0s, Operation::Local},
    {"update-error", "my_vorn offers software 01.047; both update scripts fail with error 12",
     &configureUpdateError, &withOfferedFirmware, 0s, Operation::Local},
    {"poll-benchmark",
     "polling figures: the controller against a zero-latency micro, 10 s after start-up",
     &configureNothing, &atPowerOn, 10s, Operation::Local},
    {"remote",
     "remote operation: the server on a free port (password \"bench\"), the CAT link on "
     "DIR/dev/ttyUSB0, the banks on EXT IO",
     &configureNothing, &atPowerOn, 0s, Operation::Remote},
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

std::string withSetupValue(std::string_view setupText, std::string_view key,
                           std::string_view value) {
  const std::string line = std::string(key) + ": " + std::string(value);
  std::string out;
  bool replaced = false;
  size_t start = 0;
  while (start < setupText.size()) {
    size_t end = setupText.find('\n', start);
    if (end == std::string_view::npos) end = setupText.size();
    const std::string_view old = setupText.substr(start, end - start);
    start = end + 1;
    // "Key:" alone (an empty value) or "Key: value", as the controller reads them.
    const bool ours = old.starts_with(key) && old.size() > key.size() && old[key.size()] == ':';
    if (ours && !replaced) {
      out += line;
      replaced = true;
    } else if (!ours) {
      out.append(old);
    } else {
      continue;  // a second line of the key: the controller would take the last
    }
    out += '\n';
  }
  if (!replaced) out += line + "\n";
  return out;
}

std::string setRemoteOperation(const BenchRoot& root, uint16_t tcpPort,
                               std::string_view passphrase) {
  const std::filesystem::path path = root.under("/opt/set/setup.txt");
  std::string text = readWholeFile(path).value_or("");
  const std::string port = std::to_string(tcpPort);
  for (const auto& [key, value] :
       {std::pair<std::string_view, std::string_view>{"LocalRemote", "1"},
        {"WebSocket", "1"},
        {"EnableCAT", "1"},
        {"TcpPort", port},
        {"Passphrase", passphrase},
        // The sound card beside the transceiver: the bench's devices, not the factory hw:1.
        {"AudioIn", kRxAudioDevice},
        {"AudioOut", kTxAudioDevice}}) {
    text = withSetupValue(text, key, value);
  }
  // Replaced whole, as the controller replaces its files.
  const std::filesystem::path temp = path.string() + ".bench-new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) return "cannot write " + temp.string();
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) return "cannot replace " + path.string() + ": " + ec.message();
  return setBankInterface(root, BankInterface::ExtIo);
}

uint16_t freeTcpPort() {
  // Bound on every address, as the controller's server binds.
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace corvid::bench
