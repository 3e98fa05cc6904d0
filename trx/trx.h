// The transceiver links that give the amplifier its operating frequency: the FT-817
// serial CAT link (5-byte commands, polled) and the EXT IO link of the maker's
// transceiver (parameter records and FFT messages, with short text commands back).
// Each link has one thread that owns its port; the logic runs on a byte stream so that
// a unit test can drive it from memory.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/serial.h"
#include "trx/port_reader.h"
#include "trx/trx_state.h"

namespace corvid {

struct Works;

// ---- FT-817 serial CAT link ----

// Read frequency and mode: four unused parameter bytes, then the opcode.
inline constexpr std::array<uint8_t, 5> kCatReadFreqMode = {0x00, 0x00, 0x00, 0x00, 0x03};
inline constexpr int kCatOpReadFreqMode = 0x03;
inline constexpr size_t kCatReplyBytes = 5;
inline constexpr int kCatReplyTimeoutMs = 1500;  // idle milliseconds before a new request
inline constexpr int kCatTimeoutPauseMs = 1000;  // pause after a timeout
inline constexpr int kCatDecodePauseMs = 20;     // pause after every handled reply

enum CatProcess : int { CatDecode = 1, CatReceive = 2, CatSend = 3 };

// Nonzero when the byte is no valid pair of decimal digits.
int VerifyByteFreq(uint8_t byte);
// The frequency in Hz of a reply's four BCD bytes (10 Hz unit), or -1 when one is not
// BCD.
long catReplyFrequency(std::span<const uint8_t> reply);
// Decodes a complete reply to the last request into catSerFreq; true when it took it.
bool DecodeCatSerialCmd(Works& works, std::span<const uint8_t> reply);
// Writes every byte and restarts the reply timeout; the count or -errno.
long writeSerialCatPort(platform::ByteStream& port, std::span<const uint8_t> data, Works& works);

// The polling machine on an open port.
class CatSerialPoller {
 public:
  CatSerialPoller(Works& works, platform::ByteStream& port);
  // One turn: sends the request, takes at most one byte, or decodes the reply.
  void step();
  // Runs turns while the link is to run (catSerialEnable '1' and running).
  void run();

 private:
  Works& works_;
  platform::ByteStream& port_;
  PortReader reader_;
  std::array<uint8_t, kCatReplyBytes> reply_{};
  size_t received_ = 0;
  ReadFailureLog readFailures_{ReadFailureLog::Link::Ft817};
};

// The thread body: opens CatSerialPort and polls it.
void CatSerial(Works& works);

// ---- EXT IO serial link ----

inline constexpr size_t kExtIoPayloadMax = 2000;  // the payload buffer
inline constexpr int kExtIoLengthCut = 1999;      // what a length of 2000 or more becomes
inline constexpr uint8_t kExtIoLastType = 14;     // type bytes are 0..14
inline constexpr uint8_t kExtIoTypeFft = 0;
inline constexpr uint8_t kExtIoTypeParameters = 1;
inline constexpr uint8_t kExtIoKindFft = '0';
inline constexpr uint8_t kExtIoKindParameters = '1';
inline constexpr int kExtIoSilenceMs = 1500;  // idle milliseconds before error 8
inline constexpr int kCommErrorHoldoffMs = 2000;
inline constexpr size_t kFftBins = 1024;   // 187.5 Hz each, 192 kHz
inline constexpr size_t kFftLevels = 938;  // payload bytes 1..938 become levels
inline constexpr int kSerMutTries = 10;    // 1 ms apart

// The payload length of the four length digits, in arrival order (least significant
// first, each 0x30 + value); 2000 or more is reported and becomes 1999.
int decodeCmdParameters(std::span<const uint8_t, 4> lengthDigits);
// Decodes a parameter payload into pex under serMut; false when the lock stayed busy
// and the record was dropped.
bool storeParameters(Works& works, std::span<const uint8_t> payload);
// Stores an FFT payload's levels under serMut; false when dropped.
bool storeFFT(Works& works, std::span<const uint8_t> payload);
// Copies pex under serMut; false (copy unchanged) when the lock stayed busy.
bool getParameters(PexParams& copy, Works& works);
// Writes to the EXT IO port while its link runs (the remote client's "SC" and "PA"): the
// count, -ENODEV when the link is not running, or -errno.
long writeExtIo(Works& works, std::span<const uint8_t> data);
// Copies the spectrum levels under serMut (a frame never reads them while a spectrum is
// stored); false (copy unchanged) when the lock stayed busy.
bool getLevels(std::span<float, kPexSpectrumPoints> copy, Works& works);

// The first bin of the client spectrum for the transceiver's offset, shift and mode,
// already brought into 0..1023.
int clientSpectrumStart(const PexParams& params);
// The client spectrum of an FFT payload: its 1024 bins (0 past the payload) rotated so
// that the start bin comes first; returns how many of them are sent (length - 170,
// within 0..1024).
size_t buildClientSpectrum(std::span<const uint8_t> payload, const PexParams& params,
                           std::span<uint8_t, kFftBins> out);

// Writes every byte; the count or -errno.
long writeSerialPort(platform::ByteStream& port, std::span<const uint8_t> data, Works& works);
// Sends the commands other parts of the program asked for, in their order.
void sendRequestedCommands(Works& works, platform::ByteStream& port);

// The receive loop on an open port.
class ExtIoLink {
 public:
  ExtIoLink(Works& works, platform::ByteStream& port);
  // Waits for one message, handles it and sends the requested commands; false once the
  // link is to stop (extIoEnable no longer '1', or running 0).
  bool step();
  void run();
  // Reads exactly buffer.size() bytes, reporting silence but never giving up, except
  // when the link is to stop (then false).
  bool readSerialPort(std::span<uint8_t> buffer);

 private:
  bool keepRunning() const;
  bool waitForType(uint8_t& type);
  void readFailed(long result);
  void reportSilence(int where);

  Works& works_;
  platform::ByteStream& port_;
  PortReader reader_;
  std::array<uint8_t, kExtIoPayloadMax> payload_{};
  std::array<uint8_t, kFftBins> spectrum_{};
  int idleMs_ = 0;
  ReadFailureLog readFailures_{ReadFailureLog::Link::ExtIo};
};

// The thread body: opens SerPort and runs the receive loop.
void Serial(Works& works);

}  // namespace corvid
