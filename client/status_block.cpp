// Decoding of the status text and of the transceiver parameter record (see status_block.h).
#include "client/status_block.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <utility>

namespace corvid::client {

namespace {

// Where each value sits in the status text. Numbers are printed one after the other at
// their positions, so a value wider than its field has lost its tail to the next field:
// the decoder reads what is there.
struct Field {
  size_t offset;
  size_t width;
};
constexpr Field kBand{0, 4};          // "%-4.4s", "----" outside every band
constexpr Field kSource{4, 1};        // '0' generic, '1' EXT IO, '2' FT-817
constexpr Field kAttenuator{5, 1};    // step '0'..'3'
constexpr Field kAntenna{6, 1};       // 0-based digit
constexpr Field kBypass{7, 1};        // '1' amplifier bypassed
constexpr Field kTuner{8, 1};         // 'N' none, 'B' bypassed, 'T' in line
constexpr Field kTuning{9, 1};        // '1' while a tune runs
constexpr Field kSwr{10, 6};          // "%06.02f"
constexpr Field kForward{16, 6};      // "%06.2f" W
constexpr Field kInput{22, 6};        // "%06.02f" W
constexpr Field kTemperature{28, 4};  // "%04.01f" degrees C
constexpr Field kSupply{32, 4};       // "%4.1f" V
constexpr Field kCurrent{36, 4};      // "%04.01f" A
constexpr Field kBank{40, 2};         // "%02d"
constexpr Field kError{42, 1};        // a byte value, not a digit
constexpr Field kVersions{43, 14};    // "%s %s": software, amplifier firmware
constexpr Field kTuningFlag{57, 1};   // the byte value 1 or 0

struct ErrorText {
  std::string_view title;
  std::string_view detail;
};
// By error number; the detail of 4, 15 and 25 is set at run time on the amplifier and
// does not travel, so the usual text is shown.
constexpr std::array<ErrorText, 28> kErrors{{
    {"1-High", "temperature"},
    {"HI SWR", "error"},
    {"1-High", "temperature"},
    {"PWR IN", "error"},
    {"Comm", "warn"},
    {"Remote warn", "Usb"},
    {"Audio", "not found"},
    {"PEX mode", "not activated"},
    {"PEX EXTIO", "warning"},
    {"Audio read", "warning"},
    {"Audio write", "warning"},
    {"Web socket", "warning"},
    {"Auto Tune", "timeout"},
    {"Auto Tune", "SWR warning"},
    {"Auto Tune", "PEX aborts"},
    {"Error", "alarm"},
    {"Micro Reset", "warning"},
    {"CMD not", "available"},
    {"Auto Tune", "Max SWR"},
    {"Band warn", "StdBy"},
    {"Remote warn", "Cat"},
    {"2-High", "temperature"},
    {"2-High", "temperature"},
    {"2-Warning", "temperature"},
    {"2-Warning", "temperature"},
    {"Error Open", "EXT IO port"},
    {"Error", "Soket Close"},
    {"Auto Tune", "Low Pwr"},
}};

constexpr std::array<int, 4> kAttenuatorDb{0, 2, 3, 5};

std::optional<std::string_view> field(std::span<const uint8_t> text, Field f) {
  if (text.size() < f.offset + f.width) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(text.data()) + f.offset, f.width);
}

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

std::optional<double> number(std::span<const uint8_t> text, Field f) {
  const auto raw = field(text, f);
  if (!raw) return std::nullopt;
  const std::string_view digits = trimBlanks(*raw);
  if (digits.empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::optional<char> character(std::span<const uint8_t> text, Field f) {
  const auto raw = field(text, f);
  if (!raw) return std::nullopt;
  return (*raw)[0];
}

// A one-character field read through a table of (character, value) rows.
template <typename T, size_t N>
std::optional<T> lookUp(std::optional<char> c, const std::array<std::pair<char, T>, N>& rows) {
  if (!c) return std::nullopt;
  for (const auto& [key, value] : rows) {
    if (key == *c) return value;
  }
  return std::nullopt;
}

constexpr std::array<std::pair<char, FrequencySource>, 3> kSources{{{'0', FrequencySource::generic},
                                                                    {'1', FrequencySource::extIo},
                                                                    {'2', FrequencySource::ft817}}};
constexpr std::array<std::pair<char, TunerState>, 3> kTuners{
    {{'N', TunerState::notInstalled}, {'B', TunerState::bypassed}, {'T', TunerState::inLine}}};
constexpr std::array<std::pair<char, bool>, 2> kFlags{{{'0', false}, {'1', true}}};

std::optional<int> digit(std::optional<char> c, int highest) {
  if (!c || *c < '0' || *c > '0' + highest) return std::nullopt;
  return *c - '0';
}

std::string fixed(const std::optional<double>& value, int decimals, std::string_view unit) {
  if (!value) return "?";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, *value);
  std::string out = text;
  if (!unit.empty()) out += " " + std::string(unit);
  return out;
}

template <typename T, typename F>
std::string orUnknown(const std::optional<T>& value, F show) {
  return value ? std::string(show(*value)) : std::string("?");
}

}  // namespace

StatusBlock decodeStatus(std::span<const uint8_t> text) {
  StatusBlock status;
  status.length = text.size();
  if (const auto band = field(text, kBand)) {
    const std::string_view name = trimBlanks(*band);
    status.band = name == "----" ? std::string() : std::string(name);
  }
  status.frequencySource = lookUp(character(text, kSource), kSources);
  status.attenuatorStep = digit(character(text, kAttenuator), 3);
  if (const auto antenna = digit(character(text, kAntenna), 9)) status.antenna = *antenna + 1;
  status.ampBypassed = lookUp(character(text, kBypass), kFlags);
  status.tuner = lookUp(character(text, kTuner), kTuners);
  status.tuning = lookUp(character(text, kTuning), kFlags);
  status.swr = number(text, kSwr);
  status.forwardW = number(text, kForward);
  status.inputW = number(text, kInput);
  status.temperatureC = number(text, kTemperature);
  status.supplyV = number(text, kSupply);
  status.currentA = number(text, kCurrent);
  if (const auto bank = number(text, kBank); bank && *bank >= 0) {
    status.bank = static_cast<int>(*bank);
  }
  if (const auto code = character(text, kError)) {
    status.errorCode = static_cast<uint8_t>(*code);
  }
  if (const auto versions = field(text, kVersions)) {
    std::string_view both = *versions;
    both = both.substr(0, both.find('\0'));
    const size_t blank = both.find(' ');
    status.softwareVersion = std::string(trimBlanks(both.substr(0, blank)));
    status.ampFirmware = blank == std::string_view::npos
                             ? std::string()
                             : std::string(trimBlanks(both.substr(blank + 1)));
  }
  if (const auto flag = character(text, kTuningFlag)) {
    if (*flag == 0 || *flag == 1) status.tuningFlag = *flag == 1;
  }
  return status;
}

std::optional<int> newestError(const StatusBlock& status) {
  if (!status.errorCode) return std::nullopt;
  if (*status.errorCode == '0') return -1;
  if (*status.errorCode == 0) return std::nullopt;  // no number gives this byte
  return *status.errorCode - 1;
}

std::string_view errorTitle(int number) {
  return number >= 0 && number < static_cast<int>(kErrors.size()) ? kErrors[number].title : "";
}

std::string_view errorDetail(int number) {
  return number >= 0 && number < static_cast<int>(kErrors.size()) ? kErrors[number].detail : "";
}

std::optional<int> attenuatorDb(int step) {
  if (step < 0 || step >= static_cast<int>(kAttenuatorDb.size())) return std::nullopt;
  return kAttenuatorDb[step];
}

std::string_view name(FrequencySource source) {
  switch (source) {
    case FrequencySource::generic:
      return "generic (the amplifier's counter)";
    case FrequencySource::extIo:
      return "EXT IO transceiver";
    case FrequencySource::ft817:
      return "FT-817";
  }
  return "?";
}

std::string_view name(TunerState state) {
  switch (state) {
    case TunerState::notInstalled:
      return "not installed";
    case TunerState::bypassed:
      return "bypassed";
    case TunerState::inLine:
      return "in line";
  }
  return "?";
}

std::string formatStatus(const StatusBlock& s) {
  std::string out = "status\n";
  const auto line = [&out](std::string_view label, const std::string& value) {
    out += "  ";
    out += label;
    out += ": ";
    out += value;
    out += '\n';
  };
  line("band", orUnknown(s.band, [](const std::string& b) { return b.empty() ? "none" : b; }));
  line("frequency source", orUnknown(s.frequencySource, [](auto v) { return name(v); }));
  line("forward power", fixed(s.forwardW, 2, "W"));
  line("input power", fixed(s.inputW, 2, "W"));
  line("SWR", fixed(s.swr, 2, ""));
  line("temperature", fixed(s.temperatureC, 1, "°C"));
  line("supply voltage", fixed(s.supplyV, 1, "V"));
  line("current", fixed(s.currentA, 1, "A"));
  std::string error = "?";
  if (const auto newest = newestError(s)) {
    if (*newest < 0) {
      error = "none";
    } else if (!errorTitle(*newest).empty()) {
      error = std::to_string(*newest) + " " + std::string(errorTitle(*newest)) + " " +
              std::string(errorDetail(*newest));
    } else {
      error = "unknown code " + std::to_string(*s.errorCode);
    }
  }
  line("newest error", error);
  line("antenna", orUnknown(s.antenna, [](int a) { return std::to_string(a); }));
  line("attenuator", orUnknown(s.attenuatorStep, [](int step) {
         return std::to_string(attenuatorDb(step).value_or(0)) + " dB (step " +
                std::to_string(step) + ")";
       }));
  line("amplifier", orUnknown(s.ampBypassed, [](bool b) { return b ? "bypassed" : "operating"; }));
  line("tuner", orUnknown(s.tuner, [](auto v) { return name(v); }));
  line("tuning", orUnknown(s.tuning, [](bool b) { return b ? "yes" : "no"; }));
  line("bank", orUnknown(s.bank, [](int b) { return std::to_string(b); }));
  line("software", orUnknown(s.softwareVersion, [](const std::string& v) { return v; }));
  line("amplifier firmware", orUnknown(s.ampFirmware, [](const std::string& v) { return v; }));
  return out;
}

std::optional<TrxParameters> decodeParameters(std::span<const uint8_t> payload) {
  if (payload.size() < 9) return std::nullopt;
  TrxParameters parameters;
  uint32_t frequency = 0;
  for (size_t i = 1; i <= 8; ++i) {
    // A digit travels as 0x30 + value or as the bare value 0..15.
    const uint8_t value = static_cast<uint8_t>((payload[i] | 0x30) - 0x30);
    if (value > 15) return std::nullopt;
    frequency = frequency << 4 | value;
  }
  parameters.frequencyHz = frequency;
  parameters.vfoB = (payload[0] & 0x10) != 0;
  parameters.memory = (payload[0] & 0x01) != 0;
  if (payload.size() > 9 && (payload[9] & 0x80) != 0) {
    parameters.transmitting = (payload[9] & 0x40) != 0;
  }
  return parameters;
}

std::string formatParameters(const TrxParameters& p) {
  std::string out = "  transceiver: " + std::to_string(p.frequencyHz) + " Hz, " +
                    (p.memory ? "memory"
                     : p.vfoB ? "VFO B"
                              : "VFO A");
  if (p.transmitting) out += *p.transmitting ? ", transmitting" : ", receiving";
  return out + "\n";
}

}  // namespace corvid::client
