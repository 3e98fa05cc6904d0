// The serial link to the amplifier's microcontroller: framed ASCII commands with a
// CRC-8, one reply per command, a status poll between queued commands, and retries.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "amp/amp_state.h"
#include "platform/serial.h"

namespace corvid {

struct Works;

inline constexpr size_t kReplyMax = 500;         // characters of one reply
inline constexpr int kReplyTimeoutLooks = 1500;  // 1 ms looks without data

// CRC-8/MAXIM (reflected polynomial 0x8C, initial value 0, no final XOR).
uint8_t Sys_Crc8Calculation(std::span<const uint8_t> data);
uint8_t Sys_Crc8Calculation(std::string_view text);

// The text of a command index with its side effects on works (tune value, bypass
// request, fan values...) and its messages; empty for an index that sends nothing.
// letters receives the two letters recorded for retries.
std::string buildCommand(Works& works, int index, char letters[2]);

// Thread body of the link.
void Linear(Works& works);
// Opens and sets up the port; 0 on success. report: log the attempt and a failure.
int OpenLinear(Works& works, platform::SerialPort& port, bool report = true);
// Sends one framed command: the checksum as two lower-case hex digits, then the text.
long writeLinearPort(platform::ByteStream& port, std::string_view text, Works& works);

// Appends a command index to the queue; safe from any thread. Returns the index.
int IncPNTIn_CMDLinear(int index, Works& works);
// The state after a reply: the next queued command in drain mode, else fallback.
int NextCmdPriority(Works& works, int fallback);
void LastCmdSent(Works& works, char letter1, char letter2, int index);
// A missing, refused or unrecognised reply: resend, or after four tries raise the
// communication error and restart with ST.
void GestRetrayCMD(Works& works);
// Queues the amplifier's start-up commands.
void InitMicroCmd(Works& works);
// Takes and releases the tune-value lock.
void WaitSemaforoTuneval(Works& works);
void StopSemaforoTuneval(Works& works);

// One pass of the link's state machine over a port (the thread runs it in a loop).
// Returns false when the port failed and should be reopened.
struct LinkReceiver;
bool linkStep(Works& works, platform::ByteStream& port, LinkReceiver& receiver);

// The reply being received (link thread only).
struct LinkReceiver {
  std::string reply;    // checksum digits, text and ';'
  std::string pending;  // bytes read past the last ';'
  int ioErrors = 0;     // consecutive read or write failures
};

}  // namespace corvid
