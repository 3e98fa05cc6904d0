// The checks before remote operation. The maker's transceiver shows itself on USB as
// 1721:061A; its CAT port is one of the USB serial ports and is told apart from the others
// by its answer "DT001" to "DT;"; its sound card is a C-Media 0d8c:01af, counted in the
// output of lsusb.
#include "remote/remote_checks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/works.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/files.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "platform/usb.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

namespace {

constexpr size_t kReplyBytes = 5;  // "DT001": only these are compared
constexpr int kReplyWaitMs = 1000;

// Opens one candidate, asks it "DT;" and reads up to five bytes of its answer.
std::optional<platform::SerialPort> probeCatPort(const std::string& device) {
  // 115200 bit/s, 8 bits, receiver on, no modem control, raw, blocking for one byte.
  const platform::SerialConfig config{.speed = B115200,
                                      .inputFlags = IGNPAR,
                                      .controlFlags = CS8 | CREAD | CLOCAL,
                                      .minChars = 1,
                                      .timeTenths = 0};
  auto opened = platform::SerialPort::openDevice(device, config);
  if (!opened.ok()) {
    // One errno for opening and setting up: a device that opens but refuses the line
    // settings answers ENOTTY or EINVAL.
    const int err = opened.error();
    const bool setFailed = err == ENOTTY || err == EINVAL;
    logInfo(setFailed ? "Cannot set %s, error %d -%s" : "Cannot open %s, error %d -%s",
            device.c_str(), err, std::strerror(err));
    return std::nullopt;
  }
  platform::SerialPort port = std::move(opened.value());

  logInfo("Send \"DT;\" %s", device.c_str());
  static constexpr uint8_t kAsk[3] = {'D', 'T', ';'};
  port.write(kAsk);
  platform::sleepMs(100);
  // The transceiver's USB serial bridge passes data once the host raises both lines; a
  // port without modem lines (a pseudo-terminal) refuses and is asked all the same.
  port.setModemLine(platform::SerialPort::ModemLine::DTR, true);
  port.setModemLine(platform::SerialPort::ModemLine::RTS, true);

  // One byte at a time, each read waiting at most 1 s: a silent device costs one second,
  // a reply that stops early ends the reading at its last byte.
  std::string reply;
  while (reply.size() < kReplyBytes) {
    uint8_t byte = 0;
    const long n = port.read(std::span<uint8_t>(&byte, 1), kReplyWaitMs);
    if (n > 0) reply.push_back(static_cast<char>(byte));
    logInfo("Received %d \"%s\" %s", static_cast<int>(reply.size()), reply.c_str(), device.c_str());
    if (n <= 0) break;
  }
  logInfo("Received \"%s\" %s", reply.c_str(), device.c_str());
  if (reply.compare(0, kReplyBytes, "DT001") != 0) {
    logInfo("Cannot connect PEX using %s", device.c_str());
    return std::nullopt;
  }
  return port;
}

}  // namespace

int VerifyCAT(Works& works, platform::SerialPort* found) {
  trace("CAT serial search...\n");
  const std::vector<std::string> devices = platform::listFolder("/dev", "ttyUSB");
  if (devices.empty()) {
    logInfo("No CAT serial port found");
    return -1;
  }
  const std::string catPort = works.set.text.text(Slot::CatPort);
  for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
    if (std::optional<platform::SerialPort> port = probeCatPort(*it)) {
      trace("CAT serial found:  %s\n-------------------------------------------------\n",
            it->c_str());
      if (found != nullptr) *found = std::move(*port);
      return 0;
    }
    platform::sleepMs(2);
  }
  logError("Unable to open device %s", catPort.c_str());
  trace("CAT: Unable to open device %s\n", catPort.c_str());
  return -1;
}

int Find_Remote_Settings(Works& works) {
  // The context and its list live only for the check: nothing of them is needed later,
  // and the CAT link opens its port itself.
  auto context = platform::UsbContext::create(3);
  if (!context.ok()) return 1;
  auto devices = context->devices();
  if (!devices.ok()) return 1;
  bool present = false;
  for (const platform::UsbDeviceInfo& device : devices.value()) {
    if (device.idVendor == kPexVendor && device.idProduct == kPexProduct) {
      present = true;
      break;
    }
  }
  if (!present) return 1;
  if (VerifyCAT(works) != 0) {
    trace("---CAT: Unable to open device %s\n", works.set.text.text(Slot::CatPort).c_str());
    return 2;
  }
  return VerifyAudioPEX(works) > 0 ? 0 : 3;
}

int VerifyAudioPEX(Works&) {
  auto pipe = platform::CommandPipe::start("lsusb|grep 0d8c:01af |wc -l");
  if (!pipe) {
    trace("Error opening pipe.\n");
    return 0;
  }
  std::string line;
  int count = 0;
  if (pipe->readLine(line, 200)) {
    // wc prints a count; anything else reads as 0, a huge number as none either.
    char* end = nullptr;
    const long value = std::strtol(line.c_str(), &end, 10);
    if (end != line.c_str() && value > 0 && value < 1000000) count = static_cast<int>(value);
  }
  while (pipe->readLine(line, 200)) {
  }
  pipe->close();
  return count;
}

int Get_AudioPEX(Works&) {
  auto pipe = platform::CommandPipe::start("lsusb | grep 0d8c");
  if (!pipe) {
    trace("Error opening pipe.\n");
    return 0;
  }
  std::string line;
  int count = 0;
  while (pipe->readLine(line, 128)) {
    trace("----------------- %s\n", line.c_str());
    ++count;
  }
  const platform::CommandStatus status = pipe->close();
  // Only a failure to collect the command counts: grep without a match ends with status
  // 1, and that is just no device.
  if (status.spawnError != 0) {
    trace(" Error!\n");
    return 0;
  }
  return count;
}

}  // namespace corvid
