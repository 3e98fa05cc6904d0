// Faults of the amplifier micro simulator. They come from the bench's faults file
// (DIR/bench/faults, faults.h), re-read whenever it changes, and from the simulator's
// C++ interface; the two sets are merged (faults of either apply; for a value set in
// both, the file's wins).
//
// The micro's words begin with "amp-"; a value follows a colon (the stand-ins' "=N"
// stays an exit status). The words that change replies apply to every command, or, with
// ":XX", only to the commands whose text begins with the two letters XX:
//
//   amp-silent[:XX]      no reply
//   amp-bad-crc[:XX]     the reply with a wrong checksum (upper case)
//   amp-lower-crc[:XX]   the reply with its checksum in lower-case digits (no change
//                        when both digits are decimal)
//   amp-refuse[:XX]      the command refused: the two letters, '?', ';'
//   amp-garbage[:XX]     instead of the reply, a burst of line noise (no ';')
//   amp-semicolon[:XX]   instead of the reply, a lone ';'
//   amp-overlong[:XX]    instead of the reply, 500 characters without ';'
//   amp-late:MS          every reply MS milliseconds late (0 to 10000)
//
// and the words that change what the status reply reports:
//
//   amp-alarm:HH         alarm bits HH (two hexadecimal digits) set
//   amp-high-swr         the high-SWR bit set
//   amp-reset            the micro-reset alarm bit (bit 7) set
//   amp-temp1:C          heat sink 1 reads C °C (-40 to 150, decimals allowed)
//   amp-temp2:C          heat sink 2 reads C °C
//   amp-status-c:H       bits H (one hexadecimal digit) of the third status digit set;
//                        bit 3 tells the controller the amplifier is locked (no band or
//                        antenna change)
//
// When several reply words match a command, the first in the file (then the API's)
// applies.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"

namespace corvid::bench {

enum class ReplyFault {
  Silent,
  BadChecksum,
  LowerCaseChecksum,
  Refused,
  Garbage,
  Semicolon,
  Overlong
};

struct ScopedReplyFault {
  ReplyFault fault;
  std::string letters;  // empty: every command
  bool operator==(const ScopedReplyFault&) const = default;
};

struct MicroFaults {
  std::vector<ScopedReplyFault> replies;
  std::optional<std::chrono::milliseconds> late;
  uint8_t alarmBits = 0;
  bool highSwr = false;
  bool microReset = false;
  std::optional<double> temp1;
  std::optional<double> temp2;
  uint8_t statusCBits = 0;  // 0..15

  bool operator==(const MicroFaults&) const = default;

  // The reply fault for a command text, if any.
  std::optional<ReplyFault> replyFaultFor(std::string_view commandText) const;
  // This set with other's faults added; other's values win.
  MicroFaults mergedWith(const MicroFaults& other) const;
  // The words that make this set, in a fixed order.
  std::vector<std::string> words() const;
};

// The micro's words of a faults file; words of other programs are passed over. A bad
// amp- word is described in errors and dropped.
MicroFaults microFaultsOf(const Faults& faults, std::vector<std::string>* errors = nullptr);

}  // namespace corvid::bench
