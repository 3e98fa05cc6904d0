// Each word is matched at the start of the text with its exact length; a number, where
// there is one, starts at the eighth character (after the six letters and one separator
// of any kind) and is read up to its last digit.
#include "remote/remote_commands.h"

#include <chrono>
#include <climits>
#include <cstdio>
#include <string>

#include "amp/amp_state.h"
#include "amp/link.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/log.h"

namespace corvid {

namespace {

constexpr uint8_t kTinyReboot = 0xC5;
constexpr size_t kArgumentAt = 7;
// The power controller's mailbox is emptied within a few milliseconds; a reboot does not
// wait for ever on a GPIO thread that has gone.
constexpr auto kMailboxWait = std::chrono::seconds(2);

bool startsWith(std::string_view text, std::string_view word) {
  return text.substr(0, word.size()) == word;
}

// The leading digits (with a sign) from the eighth character on; 0 without any. Values
// beyond the int range are held at its ends.
int argumentOf(std::string_view text) {
  if (text.size() <= kArgumentAt) return 0;
  std::string_view rest = text.substr(kArgumentAt);
  bool negative = false;
  size_t i = 0;
  while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
  long long value = 0;
  for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    value = std::min<long long>(value * 10 + (rest[i] - '0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void raiseDivideForUsb(Works& works) {
  if (works.set.Divide.load() <= 1) works.set.Divide = 2;
}

void rebootUnit(Works& works) {
  const auto deadline = std::chrono::steady_clock::now() + kMailboxWait;
  while (works.core.tinyCommand.load() != 0 && std::chrono::steady_clock::now() < deadline) {
    platform::sleepMs(1);
  }
  works.core.tinyCommand = kTinyReboot;
  platform::sleepMs(4000);
  platform::runCommand("reboot");
}

}  // namespace

void dispStat(Works& works, std::string_view command) {
  // The text ends at its first zero byte, as the copy it comes from is zero-filled.
  command = command.substr(0, command.find('\0'));
  std::fprintf(stderr, "BUFFER Wsocket : %.*s\n", static_cast<int>(command.size()), command.data());
  SetupText& text = works.set.text;
  if (startsWith(command, "VORNBANK")) {
    std::fputs("ChangeBanco\n", stderr);
    ChangeBanco(works);
    return;
  }
  if (startsWith(command, "VORNFT00")) {
    text.setFlag(Slot::EnableFFT2, '0');
    return;
  }
  if (startsWith(command, "VORNFT01") || startsWith(command, "VORNFT02")) {
    text.setFlag(Slot::EnableFFT2, '1');
    text.setFlag(Slot::Enable1600, command[7] == '2' ? '1' : '0');
    raiseDivideForUsb(works);
    return;
  }
  if (startsWith(command, "VORNFD")) {
    works.set.Divide = argumentOf(command);
    return;
  }
  if (startsWith(command, "VORNRB")) {
    rebootUnit(works);
    return;
  }
  // The rest may each act on the same text; no two of them can match one text.
  if (startsWith(command, "VORNAN")) {
    // The unit has three antenna outputs: a larger number would be sent to the micro,
    // stored in the band table and the settings, and overflow the settings' digit.
    if (const int antenna = argumentOf(command); antenna >= 1 && antenna <= kAntennas) {
      works.set.NumAntenna = antenna - 1;
      SetAnt(works);
    }
  }
  if (startsWith(command, "VORNAT")) {
    if (const int att = argumentOf(command); att >= 0) {
      works.atu.attSelect = att;
      SetAtt(works);
    }
  }
  if (startsWith(command, "VORNRE")) GPIO_Errori(works);
  if (startsWith(command, "VORNTU0")) {
    works.atu.tunerBypassed = 1;
    IncPNTIn_CMDLinear(CmdMTbypass, works);
    SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
  }
  if (startsWith(command, "VORNTU1")) {
    works.atu.tunerBypassed = 0;
    GestioneLoadTuneVal(works, 1);
    SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
  }
  // "VORNPA0" and "VORNPA1" are known words without an effect.
}

}  // namespace corvid
