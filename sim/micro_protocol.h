// The amplifier micro's end of the serial protocol: the CRC-8 that guards every frame,
// the parser that cuts the controller's byte stream into frames and checks them, and the
// framing of the micro's replies. Written from the protocol, apart from the controller's
// driver, so that a misreading of the protocol cannot hide in both.
//
// A frame, in both directions, is the checksum as two hexadecimal digits followed by the
// text, which ends with ';'. The checksum is CRC-8/MAXIM (polynomial x^8 + x^5 + x^4 + 1
// taken least-significant bit first, initial value 0, no final XOR) over the text, ';'
// included. The controller writes its digits in lower case, the micro in upper case;
// the controller rejects a reply whose digits are lower-case letters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::bench {

uint8_t crc8Maxim(std::string_view bytes);

enum class DigitCase { Lower, Upper };

// The two checksum digits of text.
std::string checksumDigits(std::string_view text, DigitCase digits);

// A reply as the micro sends it: upper-case digits, then text (which ends with ';').
std::string frameReply(std::string_view text, DigitCase digits = DigitCase::Upper);
// A command as the controller sends it: lower-case digits, then text.
std::string frameCommand(std::string_view text);

// What the micro finds in one frame from the controller.
enum class FrameCheck {
  Ok,
  TooShort,         // fewer than two digits and ';'
  NotHex,           // a checksum character that is no hexadecimal digit
  WrongChecksum,    // the digits do not match the text
  UpperCaseDigits,  // the right value, but the controller must write lower case
  Overlong,         // no ';' within kMaxFrameBytes: the bytes are dropped
};

std::string_view describe(FrameCheck check);

FrameCheck checkFrame(std::string_view bytes);

struct Frame {
  std::string bytes;  // as received, ';' included
  FrameCheck check = FrameCheck::Ok;
  // The command text after the two digits (empty for a frame too short to hold them).
  std::string_view text() const {
    return bytes.size() >= 2 ? std::string_view(bytes).substr(2) : std::string_view();
  }
};

// The longest command is 21 bytes ("TS" with four 4-digit thresholds, framed); a frame
// that runs past this without ';' is noise, and the micro drops it rather than let its
// buffer grow.
inline constexpr size_t kMaxFrameBytes = 64;

// Cuts the byte stream from the controller into frames at each ';'. The bytes of an
// unfinished frame are kept for the next feed.
class FrameParser {
 public:
  void feed(std::string_view bytes, std::vector<Frame>& out);
  size_t pending() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

// The frame as the wire log shows it: printable ASCII as it is, every other byte and
// the backslash as \xHH and \\.
std::string printable(std::string_view bytes);

}  // namespace corvid::bench
