#include "sim/micro_protocol.h"

#include <array>
#include <cstdio>

namespace corvid::bench {

namespace {

constexpr std::string_view kLowerDigits = "0123456789abcdef";
constexpr std::string_view kUpperDigits = "0123456789ABCDEF";

// The value of a hexadecimal digit in either case, -1 for anything else.
int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

uint8_t crc8Maxim(std::string_view bytes) {
  uint8_t crc = 0;
  for (const char c : bytes) {
    auto data = static_cast<uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) {
      const bool mix = ((data ^ crc) & 1u) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (mix) crc ^= 0x8C;
      data = static_cast<uint8_t>(data >> 1);
    }
  }
  return crc;
}

std::string checksumDigits(std::string_view text, DigitCase digits) {
  const std::string_view set = digits == DigitCase::Upper ? kUpperDigits : kLowerDigits;
  const uint8_t crc = crc8Maxim(text);
  return {set[crc >> 4], set[crc & 0x0F]};
}

std::string frameReply(std::string_view text, DigitCase digits) {
  return checksumDigits(text, digits) + std::string(text);
}

std::string frameCommand(std::string_view text) {
  return checksumDigits(text, DigitCase::Lower) + std::string(text);
}

std::string_view describe(FrameCheck check) {
  switch (check) {
    case FrameCheck::Ok:
      return "ok";
    case FrameCheck::TooShort:
      return "too short";
    case FrameCheck::NotHex:
      return "checksum not hexadecimal";
    case FrameCheck::WrongChecksum:
      return "wrong checksum";
    case FrameCheck::UpperCaseDigits:
      return "upper-case checksum digits";
    case FrameCheck::Overlong:
      return "no ';' within the frame limit";
  }
  return "?";
}

FrameCheck checkFrame(std::string_view bytes) {
  if (bytes.size() > kMaxFrameBytes) return FrameCheck::Overlong;
  if (bytes.size() < 3 || bytes.back() != ';') return FrameCheck::TooShort;
  const int high = hexValue(bytes[0]);
  const int low = hexValue(bytes[1]);
  if (high < 0 || low < 0) return FrameCheck::NotHex;
  if (((high << 4) | low) != crc8Maxim(bytes.substr(2))) return FrameCheck::WrongChecksum;
  if (kLowerDigits.find(bytes[0]) == std::string_view::npos ||
      kLowerDigits.find(bytes[1]) == std::string_view::npos) {
    return FrameCheck::UpperCaseDigits;
  }
  return FrameCheck::Ok;
}

void FrameParser::feed(std::string_view bytes, std::vector<Frame>& out) {
  for (const char c : bytes) {
    buffer_ += c;
    if (c == ';') {
      out.push_back(Frame{buffer_, checkFrame(buffer_)});
      buffer_.clear();
    } else if (buffer_.size() >= kMaxFrameBytes) {
      out.push_back(Frame{buffer_, FrameCheck::Overlong});
      buffer_.clear();
    }
  }
}

std::string printable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      std::array<char, 5> hex{};
      std::snprintf(hex.data(), hex.size(), "\\x%02X", byte);
      out += hex.data();
    }
  }
  return out;
}

}  // namespace corvid::bench
