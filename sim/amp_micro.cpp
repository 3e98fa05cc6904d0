#include "sim/amp_micro.h"

#include <algorithm>
#include <cstdio>

namespace corvid::bench {

namespace {

constexpr std::string_view kHexUpper = "0123456789ABCDEF";

bool allDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The number of a text of decimal digits (at most 18, checked by the callers).
uint64_t decimal(std::string_view digits) {
  uint64_t value = 0;
  for (const char c : digits) value = value * 10 + static_cast<uint64_t>(c - '0');
  return value;
}

int hexDigit(char c, std::string_view allowed) {
  const size_t at = allowed.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// n groups of four decimal digits, each 0..max, into values; false when malformed.
template <size_t N>
bool fourDigitGroups(std::string_view params, std::array<int, N>& values, int max) {
  if (params.size() != 4 * N || !allDigits(params)) return false;
  std::array<int, N> parsed{};
  for (size_t i = 0; i < N; ++i) {
    parsed[i] = static_cast<int>(decimal(params.substr(4 * i, 4)));
    if (parsed[i] > max) return false;
  }
  values = parsed;
  return true;
}

void appendHex(std::string& out, uint8_t byte) {
  out += kHexUpper[byte >> 4];
  out += kHexUpper[byte & 0x0F];
}

// A decimal number as the CM command carries it: digits, one point, digits.
bool isDecimalText(std::string_view text) {
  const size_t point = text.find('.');
  if (point == std::string_view::npos || point == 0 || point + 1 == text.size()) return false;
  return allDigits(text.substr(0, point)) && allDigits(text.substr(point + 1));
}

}  // namespace

const std::array<AmpMicro::Command, 21> AmpMicro::kCommands = {{
    {"VS", &AmpMicro::onVersion},
    {"ST", &AmpMicro::onStatus},
    {"SA", &AmpMicro::onSelectAntenna},
    {"FM", &AmpMicro::onCounter},
    {"FA", &AmpMicro::onFrequency},
    {"MT", &AmpMicro::onTune},
    {"FS", &AmpMicro::onCounterSetup},
    {"CP", &AmpMicro::onClearProtection},
    {"AT", &AmpMicro::onPads},
    {"MP", &AmpMicro::onProtection},
    {"AB", &AmpMicro::onBypass},
    {"AN", &AmpMicro::onAntennaInUse},
    {"TS", &AmpMicro::onThresholds},
    {"FN", &AmpMicro::onFan},
    {"PS", &AmpMicro::onProtectionSetup},
    {"SF", &AmpMicro::onFilter},
    {"MR", &AmpMicro::onMicroReset},
    {"GM", &AmpMicro::onGenericMode},
    {"GS", &AmpMicro::onGeneralSettings},
    {"ER", &AmpMicro::onEeprom},
    {"CM", &AmpMicro::onMultiplier},
}};

Eeprom Eeprom::factory(AmpModel model) {
  Eeprom eeprom;
  // Calibration bytes of a unit off the line: any values do, as long as they are fixed.
  for (size_t i = 0; i < eeprom.page0.size(); ++i) {
    eeprom.page0[i] = static_cast<uint8_t>(0x10 + i);
    eeprom.page1[i] = static_cast<uint8_t>(0xF0 - 3 * i);
  }
  eeprom.page2 = {0x01, 0x46, 0x00, 0x00, 0x5A, 0xA5};
  eeprom.model = model == AmpModel::Watts120 ? '1' : '0';
  return eeprom;
}

std::string formatStatus(const StatusReadings& r) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "ST%c%c%04u%04u%04u%04u%04u%04u%c%c%c0%04u;",
                kHexUpper[r.statusA & 0x0F], kHexUpper[r.statusB & 0x0F], unsigned{r.input},
                unsigned{r.forward}, unsigned{r.reflected}, unsigned{r.current}, unsigned{r.temp1},
                unsigned{r.temp2}, kHexUpper[r.alarms & 0x0F], kHexUpper[r.alarms >> 4],
                kHexUpper[r.statusC & 0x0F], unsigned{r.forwardPeak});
  return text.data();
}

AmpMicro::AmpMicro(AmpModel model) : eeprom_(Eeprom::factory(model)) {}

void AmpMicro::reset() {
  settings_ = MicroSettings{};
  settings_.resetAlarm = true;
}

double AmpMicro::loadReflection() const {
  if (tuner_) {
    return tuner_->reflection(settings_.selectedAntenna, trxFrequency_, settings_.tuneValue);
  }
  return load_->reflection(trxFrequency_, settings_.tuneValue);
}

double AmpMicro::loadSwr() const {
  return swrOfReflection(loadReflection());
}

RfState AmpMicro::rf() const {
  StageInput input;
  input.driveWatts = driveWatts_;
  input.pads = settings_.pads;
  input.inPath = !settings_.bypassed && !settings_.protectionLatched;
  input.reflection = loadReflection();
  return computeRf(eeprom_.ampModel(), input);
}

void AmpMicro::advance(SimClock::time_point now) {
  const RfState state = rf();
  if (lastAdvance_ && now > *lastAdvance_) {
    const double seconds = std::chrono::duration<double>(now - *lastAdvance_).count();
    sinks_.advance(seconds, state.dissipationWatts, settings_.fanPercent);
  }
  if (!lastAdvance_ || now > *lastAdvance_) lastAdvance_ = now;

  if (!settings_.protectionOn || settings_.protectionLatched) return;
  const StatusReadings raw = readings();
  uint8_t trips = 0;
  if (raw.input > settings_.thresholds[0]) trips |= 1u << 5;
  if (raw.forward > settings_.thresholds[1]) trips |= 1u << 2;
  if (raw.reflected > settings_.thresholds[2]) trips |= 1u << 1;
  if (raw.current > settings_.thresholds[3]) trips |= 1u << 0;
  if (trips != 0) {
    settings_.protectionLatched = true;
    settings_.latchedAlarms = static_cast<uint8_t>(settings_.latchedAlarms | trips);
  }
}

StatusReadings AmpMicro::readings(const MicroFaults& faults) const {
  const RfState state = rf();
  StatusReadings r;
  const bool highSwr =
      faults.highSwr || (state.forwardWatts >= kHighSwrMinimumWatts && loadSwr() > kHighSwrLimit);
  r.statusA = static_cast<uint8_t>(settings_.pads << 2);
  r.statusB =
      static_cast<uint8_t>((state.transmitting ? 1 : 0) | (highSwr ? 2 : 0) |
                           (settings_.protectionLatched ? 4 : 0) | (settings_.bypassed ? 8 : 0));
  r.input = rawOfPower(state.inputWatts, kInputDetector);
  r.forward = rawOfPower(state.forwardWatts, kForwardDetector);
  r.reflected =
      rawOfPower(state.reflectedWatts + kCouplerLeakage * state.forwardWatts, kReflectedDetector);
  r.current = rawOfCurrent(state.currentAmps);
  r.temp1 = rawOfTemperature(faults.temp1.value_or(sinks_.temperature(0)));
  r.temp2 = rawOfTemperature(faults.temp2.value_or(sinks_.temperature(1)));
  r.alarms = static_cast<uint8_t>(settings_.latchedAlarms | faults.alarmBits |
                                  (settings_.resetAlarm || faults.microReset ? 0x80 : 0));
  r.statusC = static_cast<uint8_t>(faults.statusCBits & 0x0F);
  r.forwardPeak = r.forward;
  return r;
}

std::optional<std::string> AmpMicro::answer(std::string_view text, SimClock::time_point now,
                                            const MicroFaults& faults) {
  advance(now);
  if (restarting(now)) return std::nullopt;
  if (text.size() < 3 || text.back() != ';') return refuse(text, '?');
  const std::string_view letters = text.substr(0, 2);
  const std::string_view params = text.substr(2, text.size() - 3);
  for (const Command& command : kCommands) {
    if (command.letters != letters) continue;
    resetRequested_ = false;
    currentText_ = std::string(text);
    std::string reply = (this->*command.handler)(letters, params, faults);
    if (resetRequested_) {
      reset();
      silentUntil_ = now + kRestartSilence;
      return std::nullopt;
    }
    return reply;
  }
  return refuse(text, '?');
}

std::string AmpMicro::refuse(std::string_view text, char why) {
  ++refused_;
  lastRefused_ = std::string(text);
  const std::string_view letters = text.substr(0, std::min<size_t>(2, text.size()));
  return std::string(letters) + why + ';';
}

std::string AmpMicro::malformed(std::string_view letters) {
  ++refused_;
  lastRefused_ = currentText_;
  return std::string(letters) + "!;";
}

std::string AmpMicro::onVersion(std::string_view letters, std::string_view params,
                                const MicroFaults&) {
  if (params != "M") return malformed(letters);
  return "VSM" + version_ + ";";
}

std::string AmpMicro::onStatus(std::string_view letters, std::string_view params,
                               const MicroFaults& faults) {
  if (!params.empty()) return malformed(letters);
  return statusText(faults);
}

std::string AmpMicro::onSelectAntenna(std::string_view letters, std::string_view params,
                                      const MicroFaults&) {
  if (params.size() != 1 || params[0] < '1' || params[0] > '3') return malformed(letters);
  settings_.selectedAntenna = params[0] - '0';
  return "SA" + std::string(params) + ";";
}

std::string AmpMicro::onCounter(std::string_view letters, std::string_view params,
                                const MicroFaults&) {
  if (!params.empty()) return malformed(letters);
  std::array<char, 32> reply{};
  std::snprintf(reply.data(), reply.size(), "FM0%011llu;",
                static_cast<unsigned long long>(trxFrequency_ % 100000000000ULL));
  return reply.data();
}

std::string AmpMicro::onFrequency(std::string_view letters, std::string_view params,
                                  const MicroFaults&) {
  if (params.size() != 11 || !allDigits(params)) return malformed(letters);
  settings_.frequency = decimal(params);
  return "FA" + std::string(params) + ";";
}

std::string AmpMicro::onTune(std::string_view letters, std::string_view params,
                             const MicroFaults&) {
  if (!params.empty()) {
    // "1" and the value in 8 upper-case hex digits.
    if (params.size() != 9 || params[0] != '1') return malformed(letters);
    uint32_t value = 0;
    for (const char c : params.substr(1)) {
      const int digit = hexDigit(c, kHexUpper);
      if (digit < 0) return malformed(letters);
      value = (value << 4) | static_cast<uint32_t>(digit);
    }
    settings_.tuneValue = value;
  }
  std::array<char, 16> reply{};
  std::snprintf(reply.data(), reply.size(), "MT%08X;", settings_.tuneValue);
  return reply.data();
}

std::string AmpMicro::onCounterSetup(std::string_view letters, std::string_view params,
                                     const MicroFaults&) {
  if (params.size() != 5 || !allDigits(params)) return malformed(letters);
  settings_.counterSensitivity = params[0] - '0';
  settings_.counterPeriod = static_cast<int>(decimal(params.substr(1)));
  return "FS" + std::string(params) + ";";
}

std::string AmpMicro::onClearProtection(std::string_view letters, std::string_view params,
                                        const MicroFaults&) {
  if (params != "FFFF") return malformed(letters);
  settings_.protectionLatched = false;
  settings_.latchedAlarms = 0;
  return "CPFFFF;";
}

std::string AmpMicro::onPads(std::string_view letters, std::string_view params,
                             const MicroFaults&) {
  if (params.size() != 2 || (params[0] != '0' && params[0] != '1') ||
      (params[1] != '0' && params[1] != '1')) {
    return malformed(letters);
  }
  settings_.pads = ((params[0] - '0') << 1) | (params[1] - '0');
  return "AT" + std::string(params) + ";";
}

std::string AmpMicro::onProtection(std::string_view letters, std::string_view params,
                                   const MicroFaults&) {
  if (params != "0" && params != "1") return malformed(letters);
  settings_.protectionOn = params == "1";
  return "MP" + std::string(params) + ";";
}

std::string AmpMicro::onBypass(std::string_view letters, std::string_view params,
                               const MicroFaults&) {
  if (params != "0" && params != "1") return malformed(letters);
  settings_.bypassed = params == "1";
  return "AB" + std::string(params) + ";";
}

std::string AmpMicro::onAntennaInUse(std::string_view letters, std::string_view params,
                                     const MicroFaults&) {
  if (params.size() != 1 || params[0] < '0' || params[0] > '2') return malformed(letters);
  settings_.antennaInUse = params[0] - '0';
  return "AN" + std::string(params) + ";";
}

std::string AmpMicro::onThresholds(std::string_view letters, std::string_view params,
                                   const MicroFaults&) {
  if (!fourDigitGroups(params, settings_.thresholds, kRawMax)) return malformed(letters);
  return "TS" + std::string(params) + ";";
}

std::string AmpMicro::onFan(std::string_view letters, std::string_view params, const MicroFaults&) {
  if (params.size() != 4 || (params[0] != '1' && params[0] != '2') ||
      !allDigits(params.substr(1)) || decimal(params.substr(1)) > 100) {
    return malformed(letters);
  }
  settings_.fanMode = params[0] - '0';
  settings_.fanPercent = static_cast<int>(decimal(params.substr(1)));
  return "FN" + std::string(params) + ";";
}

std::string AmpMicro::onProtectionSetup(std::string_view letters, std::string_view params,
                                        const MicroFaults&) {
  if (!fourDigitGroups(params, settings_.psParameters, 9999)) return malformed(letters);
  return "PS" + std::string(params) + ";";
}

std::string AmpMicro::onFilter(std::string_view letters, std::string_view params,
                               const MicroFaults&) {
  constexpr std::string_view kHexLower = "0123456789abcdef";
  if (params.size() != 7 || !params.starts_with("30000")) return malformed(letters);
  const int high = hexDigit(params[5], kHexLower);
  const int low = hexDigit(params[6], kHexLower);
  if (high < 0 || low < 0) return malformed(letters);
  settings_.filterRelays = static_cast<uint8_t>((high << 4) | low);
  return "SF" + std::string(params) + ";";
}

std::string AmpMicro::onMicroReset(std::string_view letters, std::string_view params,
                                   const MicroFaults&) {
  if (params == "1") {
    resetRequested_ = true;
    return {};
  }
  if (params != "0") return malformed(letters);
  settings_.resetAlarm = false;
  return "MR0;";
}

std::string AmpMicro::onGenericMode(std::string_view letters, std::string_view params,
                                    const MicroFaults&) {
  if (!fourDigitGroups(params, settings_.gmParameters, 9999)) return malformed(letters);
  return "GM" + std::string(params) + ";";
}

std::string AmpMicro::onGeneralSettings(std::string_view letters, std::string_view params,
                                        const MicroFaults&) {
  if (params.empty()) return "GS" + settings_.generalSettings + ";";
  if (params.size() != 10) return malformed(letters);
  settings_.generalSettings = std::string(params);
  return "GS" + settings_.generalSettings + ";";
}

std::string AmpMicro::onEeprom(std::string_view letters, std::string_view params,
                               const MicroFaults&) {
  if (params.size() != 4 || !params.starts_with("000") || params[3] < '0' || params[3] > '3') {
    return malformed(letters);
  }
  std::string reply = "ER" + std::string(params);
  switch (params[3]) {
    case '0':
      for (const uint8_t byte : eeprom_.page0) appendHex(reply, byte);
      break;
    case '1':
      for (const uint8_t byte : eeprom_.page1) appendHex(reply, byte);
      break;
    case '2':
      appendHex(reply, eeprom_.modelAux);
      appendHex(reply, eeprom_.model);
      for (const uint8_t byte : eeprom_.page2) appendHex(reply, byte);
      break;
    default:
      for (size_t i = 0; i < 11; ++i) {
        appendHex(reply, i < eeprom_.multiplier.size() ? static_cast<uint8_t>(eeprom_.multiplier[i])
                                                       : uint8_t{0});
      }
      break;
  }
  return reply + ";";
}

std::string AmpMicro::onMultiplier(std::string_view letters, std::string_view params,
                                   const MicroFaults&) {
  if (params.size() > 16 || !isDecimalText(params)) return malformed(letters);
  settings_.multiplier = std::string(params);
  return "CM" + settings_.multiplier + ";";
}

}  // namespace corvid::bench
