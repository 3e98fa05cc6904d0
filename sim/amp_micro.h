// The amplifier's microcontroller as the controller meets it: its state, its answer to
// each command, and the measurements of its status reply. No I/O and no threads here:
// the simulator (amp_simulator.h) hands it each command text with the time.
//
// Replies (text after the checksum; the micro's own choices are marked *):
//   VSM;            VSM + the 7-character firmware version ("VSM1.02.03;")
//   ST;             the status reply (statusText)
//   SAn;            n = 1..3, the selected antenna; echoed
//   FM;             FM, a '0'*, the counter's frequency in 11 digits ("FM000014070000;");
//                   the counter holds the frequency of the bench's transceiver*
//   FAnnnnnnnnnnn;  the operating frequency; echoed
//   MT;  MT1XXXXXXXX;   read / write the tune value (8 upper-case hex digits);
//                   both answer MT and the value now set, 8 digits
//   FSdnnnn;        frequency counter sensitivity and period / 10 ms; echoed
//   CPFFFF;         clears the latched protection and its alarm bits*; echoed
//   ATxy;           x the 3 dB pad, y the 2 dB pad (0 or 1); echoed
//   MP0; MP1;       protection off / on; echoed
//   AB0; AB1;       amplifier in the path / bypassed; echoed
//   ANn;            n = 0..2, the antenna in use; echoed
//   TSaaaabbbbccccdddd;  the trip thresholds (raw input, forward, reflected, current,
//                   each 0..4095); echoed
//   FN1nnn; FN2nnn; fan mode and percent (0..100); echoed
//   PSaaaabbbbccccdddd;  GMaaaabbbb;  parameters kept as they are; echoed
//   SF30000xx;      the receive-filter relay byte (2 lower-case hex digits); echoed
//   MR0;            ends a micro reset: clears alarm bit 7; echoed
//   MR1;            resets the micro: no reply; it is silent for kRestartSilence*, then
//                   answers again from its power-on state with alarm bit 7 set until MR0
//   GS;  GS<10 characters>;   read / write the general settings: GS and the 10 characters
//   ER000n;         EEPROM page n (0..3): ER000n and the page's bytes in hex, high digit
//                   first: pages 0 and 1 32 bytes; page 2 ampModelAux, ampModel ('1' the
//                   120 W model) and 6 bytes; page 3 the power multiplier as 11 bytes of
//                   decimal text, padded with zero bytes
//   CMd.ddddddddd;  the power multiplier, kept as text; echoed
// A command the micro does not know is refused with its letters and '?' ("XY?;"), one
// with malformed parameters with '!' ("TS!;")*. Power-on state*: antenna 1 selected,
// antenna 0 in use, no pads, bypassed, protection on, thresholds 4095, fan 100 % mode 1,
// tune value 0, general settings "0000000000".
//
// Protection*: while it is on (MP1), a raw reading above its TS threshold latches it:
// statusB bit 2, the matching alarm bit (input 5, forward 2, reflected 1, current 0) and
// the power stage out of the path until CP. The high-SWR bit (statusB bit 1) shows while
// the forward power is at least 1 W and the SWR of the load is above kHighSwrLimit.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sim/amp_model.h"
#include "sim/micro_faults.h"
#include "sim/tuner_model.h"

namespace corvid::bench {

using SimClock = std::chrono::steady_clock;

inline constexpr std::chrono::milliseconds kRestartSilence{2000};
inline constexpr double kHighSwrLimit = 3.0;
inline constexpr double kHighSwrMinimumWatts = 1.0;

struct Eeprom {
  std::array<uint8_t, 32> page0{};
  std::array<uint8_t, 32> page1{};
  uint8_t modelAux = '0';
  uint8_t model = '0';  // '1': the 120 W model; anything else the 60 W model
  std::array<uint8_t, 6> page2{};
  std::string multiplier = "1.000000000";  // at most 11 characters

  static Eeprom factory(AmpModel model);
  AmpModel ampModel() const { return model == '1' ? AmpModel::Watts120 : AmpModel::Watts60; }
};

// What the commands set; the power-on values are the defaults.
struct MicroSettings {
  int selectedAntenna = 1;  // SA, 1-based
  int antennaInUse = 0;     // AN, 0-based
  int pads = 0;             // AT: bit 1 the 3 dB pad, bit 0 the 2 dB pad
  bool bypassed = true;     // AB1
  bool protectionOn = true;
  bool protectionLatched = false;
  uint8_t latchedAlarms = 0;
  bool resetAlarm = false;  // alarm bit 7: set by a reset, cleared by MR0
  uint32_t tuneValue = 0;
  uint8_t filterRelays = 0;
  int fanMode = 1;
  int fanPercent = 100;
  std::array<int, 4> thresholds = {4095, 4095, 4095, 4095};  // input, fwd, refl, current
  std::array<int, 4> psParameters{};
  std::array<int, 2> gmParameters{};
  std::string generalSettings = "0000000000";
  uint64_t frequency = 0;  // FA
  int counterSensitivity = 0;
  int counterPeriod = 0;   // FS, in 10 ms
  std::string multiplier;  // CM, as received

  bool operator==(const MicroSettings&) const = default;
};

// The readings the status reply carries, raw as the micro's converter gives them.
struct StatusReadings {
  uint8_t statusA = 0;
  uint8_t statusB = 0;
  uint16_t input = 0;
  uint16_t forward = 0;
  uint16_t reflected = 0;
  uint16_t current = 0;
  uint16_t temp1 = 0;
  uint16_t temp2 = 0;
  uint8_t alarms = 0;
  uint8_t statusC = 0;
  uint16_t forwardPeak = 0;
};

// "ST", the flags and readings in their places, ';'.
std::string formatStatus(const StatusReadings& readings);

class AmpMicro {
 public:
  explicit AmpMicro(AmpModel model = AmpModel::Watts60);

  // The reply text (';' included, no checksum) to one command text (no checksum, ';'
  // included); empty when the micro does not answer.
  std::optional<std::string> answer(std::string_view text, SimClock::time_point now,
                                    const MicroFaults& faults = {});

  // Lets the heat sinks and the protection follow the time up to now.
  void advance(SimClock::time_point now);
  StatusReadings readings(const MicroFaults& faults = {}) const;
  std::string statusText(const MicroFaults& faults = {}) const {
    return formatStatus(readings(faults));
  }

  // Power-on reset: the settings back to power-on, alarm bit 7 set until MR0.
  void reset();
  bool restarting(SimClock::time_point now) const { return now < silentUntil_; }

  // The bench's side: the transceiver keyed with a drive, its frequency, the load.
  void key(double driveWatts) { driveWatts_ = driveWatts > 0 ? driveWatts : 0; }
  void unkey() { driveWatts_ = 0; }
  double drive() const { return driveWatts_; }
  void setTransceiverFrequency(uint64_t hz) { trxFrequency_ = hz; }
  uint64_t transceiverFrequency() const { return trxFrequency_; }
  void setLoad(std::shared_ptr<const Load> load) { load_ = std::move(load); }
  void setLoadSwr(double swr) { load_ = std::make_shared<FixedLoad>(swr); }
  // The tuner network and the antennas in place of the load: the reflection then
  // follows the selected antenna (SA), the transceiver's frequency and the tune value.
  // nullptr goes back to the load.
  void setTuner(std::shared_ptr<const TunerLoad> tuner) { tuner_ = std::move(tuner); }
  const std::shared_ptr<const TunerLoad>& tuner() const { return tuner_; }

  void setFirmwareVersion(std::string version) { version_ = std::move(version); }
  void setEeprom(const Eeprom& eeprom) { eeprom_ = eeprom; }
  const Eeprom& eeprom() const { return eeprom_; }

  MicroSettings& settings() { return settings_; }
  const MicroSettings& settings() const { return settings_; }
  RfState rf() const;
  double heatSink(int sink) const { return sinks_.temperature(sink); }
  // The SWR of the load at the operating frequency.
  double loadSwr() const;
  double loadReflection() const;

  // Commands refused because the micro did not know them or their parameters were bad.
  int refusedCount() const { return refused_; }
  const std::string& lastRefused() const { return lastRefused_; }

 private:
  using Handler = std::string (AmpMicro::*)(std::string_view letters, std::string_view params,
                                            const MicroFaults& faults);
  struct Command {
    std::string_view letters;
    Handler handler;
  };
  static const std::array<Command, 21> kCommands;

  std::string refuse(std::string_view text, char why);
  std::string malformed(std::string_view letters);

  std::string onVersion(std::string_view, std::string_view params, const MicroFaults&);
  std::string onStatus(std::string_view, std::string_view params, const MicroFaults& faults);
  std::string onSelectAntenna(std::string_view, std::string_view params, const MicroFaults&);
  std::string onCounter(std::string_view, std::string_view params, const MicroFaults&);
  std::string onFrequency(std::string_view, std::string_view params, const MicroFaults&);
  std::string onTune(std::string_view, std::string_view params, const MicroFaults&);
  std::string onCounterSetup(std::string_view, std::string_view params, const MicroFaults&);
  std::string onClearProtection(std::string_view, std::string_view params, const MicroFaults&);
  std::string onPads(std::string_view, std::string_view params, const MicroFaults&);
  std::string onProtection(std::string_view, std::string_view params, const MicroFaults&);
  std::string onBypass(std::string_view, std::string_view params, const MicroFaults&);
  std::string onAntennaInUse(std::string_view, std::string_view params, const MicroFaults&);
  std::string onThresholds(std::string_view, std::string_view params, const MicroFaults&);
  std::string onFan(std::string_view, std::string_view params, const MicroFaults&);
  std::string onProtectionSetup(std::string_view, std::string_view params, const MicroFaults&);
  std::string onFilter(std::string_view, std::string_view params, const MicroFaults&);
  std::string onMicroReset(std::string_view, std::string_view params, const MicroFaults&);
  std::string onGenericMode(std::string_view, std::string_view params, const MicroFaults&);
  std::string onGeneralSettings(std::string_view, std::string_view params, const MicroFaults&);
  std::string onEeprom(std::string_view, std::string_view params, const MicroFaults&);
  std::string onMultiplier(std::string_view, std::string_view params, const MicroFaults&);

  Eeprom eeprom_;
  MicroSettings settings_;
  std::string version_ = "1.02.03";
  HeatSinks sinks_;
  std::optional<SimClock::time_point> lastAdvance_;
  SimClock::time_point silentUntil_{};
  bool resetRequested_ = false;  // MR1 seen in this answer
  std::string currentText_;      // the command being answered
  double driveWatts_ = 0;
  uint64_t trxFrequency_ = 14070000;
  std::shared_ptr<const Load> load_ = std::make_shared<FixedLoad>(1.0);
  std::shared_ptr<const TunerLoad> tuner_;
  int refused_ = 0;
  std::string lastRefused_;
};

}  // namespace corvid::bench
