#include "sim/micro_faults.h"

#include <array>
#include <charconv>
#include <cstdio>

namespace corvid::bench {

namespace {

constexpr std::string_view kPrefix = "amp-";

struct ReplyWord {
  std::string_view word;
  ReplyFault fault;
};

constexpr std::array<ReplyWord, 7> kReplyWords = {{
    {"silent", ReplyFault::Silent},
    {"bad-crc", ReplyFault::BadChecksum},
    {"lower-crc", ReplyFault::LowerCaseChecksum},
    {"refuse", ReplyFault::Refused},
    {"garbage", ReplyFault::Garbage},
    {"semicolon", ReplyFault::Semicolon},
    {"overlong", ReplyFault::Overlong},
}};

constexpr double kLowestTemperature = -40.0;
constexpr double kHighestTemperature = 150.0;
constexpr long kLatestMs = 10000;

bool isCommandLetters(std::string_view text) {
  return text.size() == 2 && text[0] >= 'A' && text[0] <= 'Z' && text[1] >= 'A' && text[1] <= 'Z';
}

bool parseDouble(std::string_view text, double& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc{} && end == text.data() + text.size();
}

bool parseLong(std::string_view text, long& value, int base = 10) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc{} && end == text.data() + text.size() && !text.empty();
}

std::string formatTemperature(double celsius) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%g", celsius);
  return text.data();
}

// Applies one amp- word (without the prefix) to faults; an error text, or empty.
std::string applyWord(std::string_view word, MicroFaults& faults) {
  const size_t colon = word.find(':');
  const std::string_view name = word.substr(0, colon);
  const bool hasValue = colon != std::string_view::npos;
  const std::string_view value = hasValue ? word.substr(colon + 1) : std::string_view();

  for (const ReplyWord& row : kReplyWords) {
    if (name != row.word) continue;
    if (hasValue && !isCommandLetters(value)) return "the command must be two capital letters";
    faults.replies.push_back({row.fault, std::string(value)});
    return {};
  }
  if (name == "high-swr" || name == "reset") {
    if (hasValue) return "takes no value";
    (name == "reset" ? faults.microReset : faults.highSwr) = true;
    return {};
  }
  if (name == "late") {
    long ms = 0;
    if (!parseLong(value, ms) || ms < 0 || ms > kLatestMs) return "needs :MS, 0 to 10000";
    faults.late = std::chrono::milliseconds(ms);
    return {};
  }
  if (name == "alarm") {
    long bits = 0;
    if (value.size() != 2 || !parseLong(value, bits, 16)) return "needs :HH, two hex digits";
    faults.alarmBits = static_cast<uint8_t>(faults.alarmBits | bits);
    return {};
  }
  if (name == "status-c") {
    long bits = 0;
    if (value.size() != 1 || !parseLong(value, bits, 16)) return "needs :H, one hex digit";
    faults.statusCBits = static_cast<uint8_t>(faults.statusCBits | bits);
    return {};
  }
  if (name == "temp1" || name == "temp2") {
    double celsius = 0;
    if (!parseDouble(value, celsius) || celsius < kLowestTemperature ||
        celsius > kHighestTemperature) {
      return "needs :C, -40 to 150";
    }
    (name == "temp1" ? faults.temp1 : faults.temp2) = celsius;
    return {};
  }
  return "unknown";
}

}  // namespace

std::optional<ReplyFault> MicroFaults::replyFaultFor(std::string_view commandText) const {
  for (const ScopedReplyFault& scoped : replies) {
    if (scoped.letters.empty() || commandText.starts_with(scoped.letters)) return scoped.fault;
  }
  return std::nullopt;
}

MicroFaults MicroFaults::mergedWith(const MicroFaults& other) const {
  MicroFaults merged = other;
  merged.replies.insert(merged.replies.end(), replies.begin(), replies.end());
  if (!merged.late) merged.late = late;
  merged.alarmBits = static_cast<uint8_t>(merged.alarmBits | alarmBits);
  merged.highSwr = merged.highSwr || highSwr;
  merged.microReset = merged.microReset || microReset;
  if (!merged.temp1) merged.temp1 = temp1;
  if (!merged.temp2) merged.temp2 = temp2;
  merged.statusCBits = static_cast<uint8_t>(merged.statusCBits | statusCBits);
  return merged;
}

std::vector<std::string> MicroFaults::words() const {
  std::vector<std::string> out;
  for (const ScopedReplyFault& scoped : replies) {
    for (const ReplyWord& row : kReplyWords) {
      if (row.fault != scoped.fault) continue;
      out.push_back(std::string(kPrefix) + std::string(row.word) +
                    (scoped.letters.empty() ? "" : ":" + scoped.letters));
    }
  }
  if (late) out.push_back("amp-late:" + std::to_string(late->count()));
  if (alarmBits != 0) {
    std::array<char, 3> hex{};
    std::snprintf(hex.data(), hex.size(), "%02X", alarmBits);
    out.push_back(std::string("amp-alarm:") + hex.data());
  }
  if (highSwr) out.emplace_back("amp-high-swr");
  if (microReset) out.emplace_back("amp-reset");
  if (temp1) out.push_back("amp-temp1:" + formatTemperature(*temp1));
  if (temp2) out.push_back("amp-temp2:" + formatTemperature(*temp2));
  if (statusCBits != 0) {
    std::array<char, 2> hex{};
    std::snprintf(hex.data(), hex.size(), "%X", statusCBits & 0x0F);
    out.push_back(std::string("amp-status-c:") + hex.data());
  }
  return out;
}

MicroFaults microFaultsOf(const Faults& faults, std::vector<std::string>* errors) {
  MicroFaults micro;
  for (const Fault& fault : faults.all()) {
    if (!std::string_view(fault.word).starts_with(kPrefix)) continue;
    if (const std::string err =
            applyWord(std::string_view(fault.word).substr(kPrefix.size()), micro);
        !err.empty() && errors != nullptr) {
      errors->push_back("fault \"" + fault.word + "\": " + err);
    }
  }
  return micro;
}

}  // namespace corvid::bench
