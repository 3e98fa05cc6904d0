// The FT-817 serial CAT link: the transceiver's frequency is polled over and over with
// the 5-byte read-frequency-and-mode command; the 5-byte reply carries the frequency in
// BCD (10 Hz unit, most significant byte first) and the mode, which is not used.
#include <cstdio>
#include <string>

#include "core/works.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "trx/trx.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

int VerifyByteFreq(uint8_t byte) {
  return (byte & 0x0F) > 9 || byte >= 0xA0 ? 1 : 0;
}

long catReplyFrequency(std::span<const uint8_t> reply) {
  if (reply.size() < 4) return -1;
  static constexpr long kWeight[4] = {10'000'000, 100'000, 1'000, 10};
  long hz = 0;
  for (size_t k = 0; k < 4; ++k) {
    if (VerifyByteFreq(reply[k]) != 0) return -1;
    hz += ((reply[k] >> 4) * 10 + (reply[k] & 0x0F)) * kWeight[k];
  }
  return hz;
}

bool DecodeCatSerialCmd(Works& works, std::span<const uint8_t> reply) {
  TrxState& trx = works.trx;
  if (trx.lastCommandSent.load() != kCatOpReadFreqMode || reply.size() < kCatReplyBytes) {
    return false;
  }
  const long hz = catReplyFrequency(reply);
  if (hz < 0) {
    trace("CAT FT817 freq not decoded :  %02x %02x %02x %02x %02x\n", reply[0], reply[1], reply[2],
          reply[3], reply[4]);
    ++trx.catSerRejected;
  } else {
    const uint32_t before = trx.catSerFreq.exchange(static_cast<uint32_t>(hz));
    if (before != static_cast<uint32_t>(hz)) trace("CAT FT817 freq %ld\n", hz);
    ++trx.catSerReplies;
  }
  platform::sleepMs(kCatDecodePauseMs);
  trx.lastCommandSent = 0;
  return hz >= 0;
}

// A failing write is not retried for ever: the reply timeout sends the request again.
long writeSerialCatPort(platform::ByteStream& port, std::span<const uint8_t> data, Works& works) {
  const long written = port.write(data);
  if (written < 0) logError("CAT serial write error %ld", -written);
  works.trx.counterimeoutCAT = 0;
  return written;
}

CatSerialPoller::CatSerialPoller(Works& works, platform::ByteStream& port)
    : works_(works), port_(port), reader_(port) {}

void CatSerialPoller::step() {
  TrxState& trx = works_.trx;
  switch (trx.catProcessStatus.load()) {
    case CatSend:
      writeSerialCatPort(port_, kCatReadFreqMode, works_);
      trx.lastCommandSent = kCatOpReadFreqMode;
      trx.catProcessStatus = CatReceive;
      break;
    case CatReceive: {
      const long n = reader_.available();
      if (n == 0 || n < 0) {
        if (n < 0) {
          // A failing port looks like silence to the timeout.
          readFailures_.failed(n);
          platform::sleepMs(kCatDecodePauseMs);
          trx.counterimeoutCAT += kCatDecodePauseMs;
        } else {
          ++trx.counterimeoutCAT;
          platform::sleepMs(1);
        }
        if (trx.counterimeoutCAT.load() >= kCatReplyTimeoutMs) {
          trace("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!\n");
          ++trx.catSerTimeouts;
          received_ = 0;
          trx.catProcessStatus = CatSend;
          platform::sleepMs(kCatTimeoutPauseMs);
        }
        break;
      }
      readFailures_.recovered();
      reply_[received_++] = reader_.take();
      if (received_ == kCatReplyBytes) trx.catProcessStatus = CatDecode;
      break;
    }
    case CatDecode:
    default:
      DecodeCatSerialCmd(works_, std::span<const uint8_t>(reply_.data(), received_));
      received_ = 0;
      trx.catProcessStatus = CatSend;
      break;
  }
}

void CatSerialPoller::run() {
  while (works_.core.running.load() != 0 && works_.set.text.on(Slot::catSerialEnable)) step();
}

void CatSerial(Works& works) {
  const std::string device = works.set.text.text(Slot::CatSerialPort);
  logInfo("Init CATSerial Port %s", device.c_str());
  // 38400 baud, 8 data bits, no parity, 2 stop bits, raw.
  const platform::SerialConfig config{
      .speed = B38400, .controlFlags = CS8 | CSTOPB | CREAD | CLOCAL, .minChars = 1};
  auto opened = platform::SerialPort::openDevice(device, config);
  if (!opened.ok()) {
    // The port layer reports one errno for opening and setting up; a device that opens
    // but refuses the line settings answers ENOTTY or EINVAL.
    const bool openFailed = opened.error() != ENOTTY && opened.error() != EINVAL;
    const char* what = openFailed ? "Unable to open device %s" : "Unable to set comm port %s";
    logError(what, device.c_str());
    char text[104];
    std::snprintf(text, sizeof text,
                  openFailed ? "CAT: Unable to open device %s" : "CAT: Unable to set comm port %s",
                  device.c_str());
    works.amp.linkErrorText.set(text);
    works.amp.linkFailed = 2;
    return;
  }
  platform::SerialPort& port = opened.value();
  logInfo("OK works->catSerFD=%d (%s)", port.fd(), device.c_str());
  trace("---------------- OK works->catSerFD=%d (%s)\n", port.fd(), device.c_str());
  works.trx.lastCommandSent = 0;
  works.trx.catProcessStatus = CatSend;
  CatSerialPoller poller(works, port);
  poller.run();
}

}  // namespace corvid
