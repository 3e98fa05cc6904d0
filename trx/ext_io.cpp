// The EXT IO link of the maker's transceiver. The transceiver streams messages of a
// type byte, a kind character, four length digits and a payload: parameter records
// (frequencies, modes, receiver settings, transmit state) and an 8-bit FFT of its
// receiver. After every message the link sends the short text commands that other parts
// asked for ("RX;", "PT00;", "TU120;TX2;", "TQ%04i;").
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "trx/trx.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

namespace {

// serMut is never waited on for long: 10 tries 1 ms apart, then the caller drops what
// it had (a display frame or a record is not worth stalling a thread for).
class SerMutLock {
 public:
  explicit SerMutLock(std::mutex& mutex) : lock_(mutex, std::defer_lock) {
    for (int i = 0; i < kSerMutTries; ++i) {
      if (lock_.try_lock()) return;
      platform::sleepMs(1);
    }
  }
  bool owns() const { return lock_.owns_lock(); }

 private:
  std::unique_lock<std::mutex> lock_;
};

template <typename T>
void changeBits(std::atomic<T>& word, T clear, T set) {
  T value = word.load();
  while (!word.compare_exchange_weak(value, static_cast<T>((value & ~clear) | set))) {
  }
}

// A digit byte carries 0..15 as 0x30 + value or as the bare value; any other byte is
// no digit (-1), and the group it belongs to is not used.
int digitValue(uint8_t byte) {
  const int value = (byte | 0x30) - 0x30;
  return value <= 15 ? value : -1;
}

// count digit bytes, most significant first, as one number; -1 when one is no digit.
long digitsValue(std::span<const uint8_t> bytes) {
  long value = 0;
  for (uint8_t byte : bytes) {
    const int digit = digitValue(byte);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool in(uint8_t byte, uint8_t low, uint8_t high) {
  return byte >= low && byte <= high;
}
int bit(uint8_t byte, int n) {
  return (byte >> n) & 1;
}

// A level field keeps its level while off: a received 0 is stored as minus the level
// it had; a field still 0 then takes its start value (0 for those without one).
void rememberLevel(int32_t& field, int32_t received, int32_t startValue) {
  field = received != 0 ? received : -std::abs(field);
  if (field == 0) field = startValue;
}

constexpr int32_t kLevelOff = -1;
constexpr int32_t kVolumeStart = 50;
constexpr int32_t kVolumeSideStart = 5;

struct DecodeResult {
  bool gateClosed = false;  // audioGate became -1
};

// Decodes the byte groups that the payload holds into p (serMut held by the caller).
DecodeResult decodeRecord(PexParams& p, std::span<const uint8_t> b) {
  DecodeResult result;
  const size_t n = b.size();
  auto has = [n](size_t lastIndex) { return n > lastIndex; };
  if (!has(0)) return result;

  const uint8_t flags = b[0];
  p.flagA = bit(flags, 6);
  p.vfoB = bit(flags, 5);
  p.valueIsB = bit(flags, 4);
  p.flagsAB = (flags >> 2) & 3;
  p.memory = bit(flags, 0);
  if (has(8)) {
    const long value = digitsValue(b.subspan(1, 8));
    if (value >= 0) {
      p.freqValue = static_cast<uint32_t>(value);
      if (p.memory != 0)
        p.freqMemory = p.freqValue;
      else if (p.valueIsB != 0)
        p.freqB = p.freqValue;
      else
        p.freqA = p.freqValue;
    }
  }
  p.freq = p.memory != 0 ? p.freqMemory : p.vfoB != 0 ? p.freqB : p.freqA;
  p.freqRxPrev = p.freqRx;
  p.freqRx = p.freq;

  if (has(9) && bit(b[9], 7) != 0) {
    p.transmit = bit(b[9], 6);
    p.split = bit(b[9], 5);
    p.flagC = bit(b[9], 4);
    p.modeValue = b[9] & 0x0F;
    if (p.valueIsB != 0)
      p.modeB = p.modeValue;
    else
      p.modeA = p.modeValue;
    p.mode = p.vfoB != 0 ? p.modeB : p.modeA;
  }
  if (has(10) && in(b[10], 0x40, 0x7F)) {
    const int32_t gateBefore = p.audioGate;
    p.volumeTarget = (b[10] >> 4) & 3;
    p.signA = bit(b[10], 3) != 0 ? -1 : 1;
    p.signB = bit(b[10], 2) != 0 ? -1 : 1;
    p.signC = bit(b[10], 1) != 0 ? -1 : 1;
    p.audioGate = bit(b[10], 0) != 0 ? 1 : -1;
    result.gateClosed = p.audioGate == -1 && gateBefore != -1;
  }
  // The transmit frequency of a split: after freqRx took the receive frequency.
  if (p.split != 0) p.freq = p.freqB;

  if (has(11) && in(b[11], 0x40, 0x7F)) {
    rememberLevel(p.squelch, b[11] & 0x0F, kLevelOff);
    p.antennaInput = bit(b[11], 5);
    p.pttOut = bit(b[11], 4);
  }
  if (has(13) && bit(b[12], 7) != 0 && in(b[13], 0x40, 0x7F)) {
    const int32_t kind = bit(b[12], 2);
    const int32_t filterA = b[12] & 3;
    const int32_t filterB = (b[12] >> 3) & 0x0F;
    const int32_t filterC = b[13] & 0x0F;
    p.filterKind = kind;
    p.flagD = bit(b[13], 5);
    p.flagE = bit(b[13], 4);
    p.filterIndex = kind == 1 ? filterC + 5 : filterB + 1;
    rememberLevel(p.filterA, filterA, 0);
    rememberLevel(p.filterB, filterB, 0);
    rememberLevel(p.filterC, filterC, 0);
  }
  if (has(14) && (b[14] >> 4) == 3) rememberLevel(p.nr, b[14] & 0x0F, kLevelOff);
  if (has(15) && (b[15] >> 4) == 3) rememberLevel(p.nb, b[15] & 0x0F, kLevelOff);
  if (has(19) && in(b[16], 0x60, 0x7F) && in(b[17], 0x60, 0x7F) && in(b[18], 0x30, 0x3F) &&
      in(b[19], 0x60, 0x7F)) {
    p.setting1 = (b[16] & 0x1F) + 1;
    p.setting2 = (b[17] & 0x1F) + 1;
    p.setting3 = (b[18] & 0x0F) + 1;
    p.setting4 = ((b[19] >> 2) & 7) + 1;
    p.setting5 = (b[19] & 3) + 1;
  }
  if (has(20) && in(b[20], 0x40, 0x7F)) {
    rememberLevel(p.att, bit(b[20], 4), kLevelOff);
    rememberLevel(p.lp, bit(b[20], 3), kLevelOff);
    rememberLevel(p.antenna, (b[20] >> 1) & 3, kLevelOff);
    p.flagF = bit(b[20], 0) != 0 ? 1 : -1;
  }
  if (has(21)) p.level = static_cast<int32_t>(b[21]) - 211;
  if (has(22)) {
    const int32_t volume = b[22] & 0x7F;
    if (p.volumeTarget == 0)
      rememberLevel(p.volume, volume, kVolumeStart);
    else if (p.volumeTarget == 1)
      rememberLevel(p.volumeAux, volume, kVolumeStart);
    else
      rememberLevel(p.volumeSide, volume, kVolumeSideStart);
  }
  if (has(25)) {
    const long shift = digitsValue(b.subspan(23, 3));
    if (shift >= 0) p.shiftHz = static_cast<int32_t>(shift);
  }
  if (has(30)) {
    // 20 bits, two's complement: a first digit of 8 or more is negative.
    const long offset = digitsValue(b.subspan(26, 5));
    if (offset >= 0)
      p.offsetHz = static_cast<int32_t>(offset >= 0x80000 ? offset - 0x100000 : offset);
  }
  return result;
}

void writeText(Works& works, platform::ByteStream& port, std::string_view text) {
  writeSerialPort(port, {reinterpret_cast<const uint8_t*>(text.data()), text.size()}, works);
}

}  // namespace

int decodeCmdParameters(std::span<const uint8_t, 4> lengthDigits) {
  // Read as hexadecimal text in the reverse of the arrival order, each byte above '9'
  // taken 7 higher (':' .. '?' become 'A' .. 'F'); the text ends at its first byte
  // that is no hexadecimal digit.
  char text[5] = {};
  int value = 0;
  bool ended = false;
  for (size_t i = 0; i < 4; ++i) {
    const uint8_t byte = lengthDigits[3 - i];
    const int mapped = byte > '9' ? byte + 7 : byte;
    text[i] = mapped >= 0x20 && mapped < 0x7F ? static_cast<char>(mapped) : '.';
    const bool hex = (mapped >= '0' && mapped <= '9') || (mapped >= 'A' && mapped <= 'F');
    if (!hex) ended = true;
    if (!ended) value = value * 16 + (mapped <= '9' ? mapped - '0' : mapped - 'A' + 10);
  }
  if (value >= static_cast<int>(kExtIoPayloadMax)) {
    trace("----------> 3SERIAL : ERROR dataLength %d   %s!!!!!!\n", value, text);
    value = kExtIoLengthCut;
  }
  return value;
}

bool storeParameters(Works& works, std::span<const uint8_t> payload) {
  TrxState& trx = works.trx;
  DecodeResult result;
  uint32_t freqBefore = 0;
  uint32_t freqAfter = 0;
  {
    SerMutLock lock(trx.serMut);
    if (!lock.owns()) {
      logError("serMut mutex cannot be locked");
      ++trx.extIoDropped;
      return false;
    }
    if (!trx.pexDecoded) {
      trx.pex = PexParams{};
      trx.pex.shiftHz = 0;
      trx.pexDecoded = true;
    }
    freqBefore = trx.pex.freq;
    result = decodeRecord(trx.pex, payload);
    freqAfter = trx.pex.freq;
  }
  ++trx.extIoRecords;
  if (freqAfter != freqBefore) trace("EXT IO freq %u\n", freqAfter);
  if (result.gateClosed && trx.hooks.resetRemotePlayback != nullptr) {
    trx.hooks.resetRemotePlayback(works);
  }
  return true;
}

bool storeFFT(Works& works, std::span<const uint8_t> payload) {
  TrxState& trx = works.trx;
  // Payload bytes 1..938 are levels; the panel shows the first 854 of them.
  const size_t count =
      std::min({payload.size() > 0 ? payload.size() - 1 : 0, kFftLevels, kPexSpectrumPoints});
  SerMutLock lock(trx.serMut);
  if (!lock.owns()) {
    logError("serMut mutex cannot be locked");
    ++trx.extIoDropped;
    return false;
  }
  for (size_t i = 0; i < count; ++i) trx.pexLevels[i] = static_cast<float>(payload[i + 1]) - 192.0f;
  ++trx.extIoSpectra;
  return true;
}

bool getParameters(PexParams& copy, Works& works) {
  SerMutLock lock(works.trx.serMut);
  if (!lock.owns()) {
    logError("serMut mutex cannot be locked");
    return false;
  }
  copy = works.trx.pex;
  return true;
}

long writeExtIo(Works& works, std::span<const uint8_t> data) {
  std::scoped_lock lock(works.trx.serPortMutex);
  if (works.trx.serPort == nullptr) return -ENODEV;
  return works.trx.serPort->write(data);
}

bool getLevels(std::span<float, kPexSpectrumPoints> copy, Works& works) {
  SerMutLock lock(works.trx.serMut);
  if (!lock.owns()) return false;  // the frame draws the levels it had
  std::copy(works.trx.pexLevels.begin(), works.trx.pexLevels.end(), copy.begin());
  return true;
}

int clientSpectrumStart(const PexParams& params) {
  // 0.005333 bins per Hz: 1 / 187.5. Bin 85 is the tuned frequency's with no offset.
  double start = 85 + params.offsetHz * 0.005333;
  if (params.mode == 6) start += params.shiftHz * 0.005333;
  if (params.mode == 4) start -= params.shiftHz * 0.005333;
  if (start < 0) start += 1024;
  // An offset of more than about 96 kHz either way would still leave the range: wrap.
  const long bin = static_cast<long>(start) % static_cast<long>(kFftBins);
  return static_cast<int>(bin < 0 ? bin + static_cast<long>(kFftBins) : bin);
}

size_t buildClientSpectrum(std::span<const uint8_t> payload, const PexParams& params,
                           std::span<uint8_t, kFftBins> out) {
  const size_t start = static_cast<size_t>(clientSpectrumStart(params));
  for (size_t i = 0; i < kFftBins; ++i) {
    const size_t bin = (start + i) % kFftBins;
    out[i] = bin < payload.size() ? payload[bin] : 0;
  }
  const long count = static_cast<long>(payload.size()) - 170;
  return static_cast<size_t>(std::clamp(count, 0L, static_cast<long>(kFftBins)));
}

long writeSerialPort(platform::ByteStream& port, std::span<const uint8_t> data, Works& works) {
  std::scoped_lock lock(works.trx.serPortMutex);
  const long written = port.write(data);
  if (written < 0) logError("Serial write error %ld", -written);
  return written;
}

void sendRequestedCommands(Works& works, platform::ByteStream& port) {
  std::atomic<uint8_t>& tuneFlags = works.atu.tuneFlags;
  TrxState& trx = works.trx;
  // 1. Back to receive, asked by the tuning.
  if (const uint8_t flags = tuneFlags.load(); (flags & kTuneAskReceive) != 0) {
    writeText(works, port, "RX;");
    trace("SENT PEX RX;! (0x%x)\n", flags);
    changeBits<uint8_t>(tuneFlags, kTuneAskReceive, kTuneRefused);
  }
  // 2. PTT out, asked by the display loop.
  if ((trx.pexRequests.load() & 0x02) != 0) {
    writeText(works, port, "PT00;");
    trace("--------------- SENT POWER PT00;!\n");
    trx.pexRequests.fetch_and(static_cast<uint8_t>(~0x02));
  }
  // 3. A tune carrier, asked by the tuning.
  if (const uint8_t flags = tuneFlags.load(); (flags & kTuneAskCarrier) != 0) {
    writeText(works, port, "TU120;TX2;");
    trace("SENT PEX TX2;! (0x%x)\n", flags);
    changeBits<uint8_t>(tuneFlags, kTuneAskCarrier, kTuneCarrierAsked);
  }
  // 4. The carrier request of the keys and the status decoder.
  if (const uint8_t request = trx.pexTxRequest.load(); (request & 0x01) != 0) {
    const uint8_t antenna = request & 0x30;
    if ((request & 0x02) == 0) {
      writeText(works, port, "RX;");
      trace("SENT PEX RX...\n");
      trx.pexTxHold = 30;
      trx.pexTxRequest.fetch_and(static_cast<uint8_t>(~0x01));
    } else if (antenna == 0x30 || antenna == 0) {
      writeText(works, port, "TU120;TX2;");
      trace("SENT PEX TX2...\n");
      trx.pexTxRequest.fetch_and(static_cast<uint8_t>(~0x01));
    }
  }
  // 5. The drive power of the band, in mW; four digits always (at most 9.999 W).
  if ((trx.pexPowerRequest.load() & 0x01) != 0) {
    char text[16];
    std::snprintf(text, sizeof text, "TQ%04i;", std::clamp(trx.pexPowerValue.load(), 0, 9999));
    writeText(works, port, text);
    trace("--------------- SENT POWER TQ;! (%s)\n", text);
    changeBits<uint8_t>(trx.pexPowerRequest, 0x01, 0x02);
  }
}

ExtIoLink::ExtIoLink(Works& works, platform::ByteStream& port)
    : works_(works), port_(port), reader_(port) {}

bool ExtIoLink::keepRunning() const {
  return works_.core.running.load() != 0 && works_.set.text.on(Slot::extIoEnable);
}

void ExtIoLink::reportSilence(int where) {
  AmpState& amp = works_.amp;
  if (amp.commErrorHoldoff.load() != 0) return;
  if (works_.bands.freqInterface.load() == FreqInterface::ExtIo) {
    AddErrore(works_, Err::ExtIoLost);
  }
  amp.commErrorHoldoff = kCommErrorHoldoffMs;
  trace("---------------------------------------TIMEOUT EXT IO %d\n", where);
}

// Each failure waits a millisecond so that the loop never spins.
void ExtIoLink::readFailed(long result) {
  readFailures_.failed(result);
  platform::sleepMs(1);
}

bool ExtIoLink::waitForType(uint8_t& type) {
  while (keepRunning()) {
    const long n = reader_.available();
    if (n > 0) {
      readFailures_.recovered();
      idleMs_ = 0;
      const uint8_t byte = reader_.take();
      if (byte <= kExtIoLastType) {
        type = byte;
        return true;
      }
      continue;  // not a message start: skipped
    }
    if (n < 0) {
      readFailed(n);
      reportSilence(2);
      continue;
    }
    platform::sleepMs(1);
    if (++idleMs_ >= kExtIoSilenceMs) {
      reportSilence(1);
      idleMs_ = 0;
    }
  }
  return false;
}

bool ExtIoLink::readSerialPort(std::span<uint8_t> buffer) {
  size_t got = 0;
  int idle = 0;
  while (got < buffer.size()) {
    if (!keepRunning()) return false;
    const long n = reader_.available();
    if (n > 0) {
      readFailures_.recovered();
      while (got < buffer.size() && reader_.available() > 0) buffer[got++] = reader_.take();
      continue;
    }
    if (n < 0)
      readFailed(n);
    else
      platform::sleepMs(1);
    if (++idle >= kExtIoSilenceMs) reportSilence(3);
  }
  return true;
}

bool ExtIoLink::step() {
  uint8_t type = 0;
  if (!waitForType(type)) return false;
  std::array<uint8_t, 5> header{};  // kind, then the four length digits
  if (!readSerialPort(header)) return false;
  const uint8_t kind = header[0];
  const size_t length =
      static_cast<size_t>(decodeCmdParameters(std::span<const uint8_t, 4>(header.data() + 1, 4)));
  payload_.fill(0);
  const std::span<uint8_t> payload(payload_.data(), length);
  if (type == kExtIoTypeParameters && kind == kExtIoKindParameters) {
    if (!readSerialPort(payload)) return false;
    storeParameters(works_, payload);
    if (works_.trx.hooks.sendWebSockSerParFrame != nullptr) {
      works_.trx.hooks.sendWebSockSerParFrame(works_, payload);
    }
  } else if (type == kExtIoTypeFft && kind == kExtIoKindFft) {
    if (!readSerialPort(payload)) return false;
    storeFFT(works_, payload);
    if (works_.set.text.flag(Slot::EnableFFT2) == '0') {
      PexParams params;
      getParameters(params, works_);
      const size_t count = buildClientSpectrum(payload, params, spectrum_);
      if (works_.trx.hooks.sendWebSockSerSpectrFrame != nullptr) {
        works_.trx.hooks.sendWebSockSerSpectrFrame(
            works_, std::span<const uint8_t>(spectrum_.data(), count));
      }
    }
  } else if (type > kExtIoTypeParameters) {
    logError("Error3");
  }
  // Another kind character: the payload stays in the stream and is scanned as any bytes.
  sendRequestedCommands(works_, port_);
  return true;
}

void ExtIoLink::run() {
  while (step()) {
  }
}

void Serial(Works& works) {
  const std::string device = works.set.text.text(Slot::SerPort);
  logInfo("Init Serial Port %s", device.c_str());
  // 115200 8N1, raw.
  const platform::SerialConfig config{
      .speed = B115200, .controlFlags = CS8 | CREAD | CLOCAL, .minChars = 1};
  auto opened = platform::SerialPort::openDevice(device, config);
  if (!opened.ok()) {
    logError("Unable to open device %s", device.c_str());
    trace("Serial: Unable to open device %s\n", device.c_str());
    AddErrore(works, Err::ExtIoPortOpen);
    return;
  }
  platform::SerialPort& port = opened.value();
  logInfo("OK works->serFD=%d (%s)", port.fd(), device.c_str());
  trace("------------------ OK works->serFD=%d (%s)\n", port.fd(), device.c_str());
  {
    std::scoped_lock lock(works.trx.serPortMutex);
    works.trx.serPort = &port;
  }
  ExtIoLink link(works, port);
  link.run();
  {
    std::scoped_lock lock(works.trx.serPortMutex);
    works.trx.serPort = nullptr;
  }
  trace("---------------------------------------Serial EXIT %x\n",
        static_cast<unsigned>(static_cast<unsigned char>(works.set.text.flag(Slot::extIoEnable))));
}

}  // namespace corvid
