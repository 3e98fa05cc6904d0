#include "scope/usb_capture.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "trx/trx.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::UsbCompletion;
using platform::UsbNext;
using platform::UsbTransferStatus;

namespace {

constexpr const char* kSource = "PEXRead";

// The vendor requests of the transceiver (all device to host, no timeout).
constexpr uint8_t kRequestDriverVersion = 0xFF;
constexpr uint8_t kRequestEeprom = 0xA2;
constexpr uint16_t kEepromIndex = 0x0151;
constexpr uint16_t kHardwareVersion = 0x404C;
constexpr uint16_t kSerialNumber = 0x4000;
constexpr uint16_t kGlobalOffset = 0x4028;
constexpr uint16_t kLpOffset = 0x402C;
constexpr uint16_t kAttOffset = 0x4030;
constexpr uint8_t kRequestFifo = 0xE1;
constexpr uint16_t kFifoStop = 0xE900;  // index; with value 1 it turns the stream on
constexpr uint16_t kFifoInit = 0xE800;
constexpr uint8_t kSynAnswer = 0xE9;
constexpr size_t kSerialBytes = 32;

bool captureWanted(const Works& works) {
  return works.core.running.load() != 0 && works.set.text.flag(Slot::EnableFFT) == '1';
}

// A 32-bit float sent little-endian, on any host; a value that is not a number counts
// as no offset, so that one bad calibration cell cannot blank the whole spectrum.
float littleEndianFloat(const uint8_t* b) {
  const uint32_t bits = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                        static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
  const float value = std::bit_cast<float>(bits);
  return std::isfinite(value) ? value : 0.0f;
}

// The serial number's text: up to its first NUL, within the 32 bytes, printable only.
std::string serialText(const std::array<uint8_t, kSerialBytes>& bytes) {
  std::string text;
  for (const uint8_t b : bytes) {
    if (b == 0) break;
    text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '?';
  }
  return text;
}

std::optional<float> readOffset(platform::UsbDevice& device, uint16_t value, const char* name) {
  std::array<uint8_t, 4> bytes{};
  const long n = device.vendorIn(kRequestEeprom, value, kEepromIndex, bytes, 0);
  if (n != 4) {
    logInfo("%s Offset failed (%ld)\n", name, n);
    return std::nullopt;
  }
  const float offset = littleEndianFloat(bytes.data());
  logInfo("%s Offset: %f\n", name, static_cast<double>(offset));
  return offset;
}

const char* statusName(UsbTransferStatus status) {
  switch (status) {
    case UsbTransferStatus::timedOut:
      return "Timedout";
    case UsbTransferStatus::cancelled:
      return "Cancelled";
    case UsbTransferStatus::stall:
      return "Stalled";
    case UsbTransferStatus::noDevice:
      return "Nodevice";
    case UsbTransferStatus::overflow:
      return "Overflowed";
    default:
      return "Error";
  }
}

}  // namespace

IqCapture::IqCapture(Works& works, float globalOffset, float lpOffset)
    : works_(works), globalOffset_(globalOffset), lpOffset_(lpOffset) {
  for (auto& buffer : floats_) buffer.assign(kIqValues, 0.0f);
}

const std::vector<float>& IqCapture::floats(int index) const {
  return floats_[static_cast<size_t>(std::clamp(index, 0, kIqTransfers - 1))];
}

UsbNext IqCapture::cb_in(const UsbCompletion& completion) {
  if (completion.status == UsbTransferStatus::completed) {
    errCounter_ = 0;
    if (works_.set.text.flag(Slot::EnableFFT2) != '0') {
      PexParams pex;
      getParameters(pex, works_);  // the last copy when the lock stays busy
      const double lp = pex.lp > 0 ? lpOffset_ : 0.0;
      recalc_ = std::pow(10.0, (21.4 - globalOffset_ + lp) / 20);
      std::vector<float>& out = floats_[static_cast<size_t>(
          std::clamp(completion.index, 0, kIqTransfers - 1))];
      // Whole 32-bit samples only; a longer transfer than asked keeps to the buffer.
      const size_t count = std::min(completion.data.size() / 4, out.size());
      const double scale = recalc_ / 2 / 1024 / 1024 / 1024;
      for (size_t i = 0; i < count; ++i) {
        const uint8_t* b = completion.data.data() + 4 * i;
        const auto sample = static_cast<int32_t>(
            static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
            static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
        out[i] = static_cast<float>(static_cast<float>(sample) * scale);
      }
      std::fill(out.begin() + static_cast<std::ptrdiff_t>(count), out.end(), 0.0f);
      // A Divide of 0 or below (the remote word takes any number) transforms every
      // transfer rather than counting down for ever.
      if (--divide_ <= 0) {
        divide_ = std::max(works_.set.Divide.load(), 1);
        if (works_.remote.wsClientReady.load() == 1) fftCalc(out);
      }
    }
  } else {
    logInfo("CB result: %s %d\n", statusName(completion.status), completion.index);
    ++errCounter_;
  }
  if (errCounter_ < kIqMaxFailures && !fftFailed_ && captureWanted(works_)) {
    return UsbNext::resubmit;
  }
  if (errCounter_ >= kIqMaxFailures) {
    logError("libusb_err_counter (%d), %s:%d\n", errCounter_, kSource, __LINE__);
  }
  return UsbNext::release;
}

void IqCapture::fftCalc(const std::vector<float>& samples) {
  const std::span<const uint8_t> bytes =
      fft_.fftCalc(samples, works_.set.text.flag(Slot::Enable1600));
  if (bytes.empty()) {
    logError("error allocating %s buffer", fft_.failedBuffer());
    fftFailed_ = true;
    return;
  }
  ++transforms_;
  if (works_.remote.wsClientReady.load() == 1 && works_.trx.hooks.sendWebSockSerSpectrFrame) {
    works_.trx.hooks.sendWebSockSerSpectrFrame(works_, bytes);
  }
}

void ExitPexread(Works& works) {
  AddErrore(works, Err::RemoteUsb);
  works.set.text.setFlag(Slot::EnableFFT, '0');
  works.core.remoteRestartRequest = 1;
}

namespace {

// Finds, opens and sets up the transceiver; empty when the capture cannot go on (the
// reason logged). Offsets out: global, LP.
std::optional<platform::UsbDevice> openTransceiver(platform::UsbContext& context, float& global,
                                                   float& lp) {
  auto devices = context.devices();
  if (!devices.ok()) {
    logInfo("Get Device Error\n");
    return std::nullopt;
  }
  int i = 0;
  std::optional<platform::UsbDevice> opened;
  uint16_t product = 0;
  for (const platform::UsbDeviceInfo& info : devices.value()) {
    logInfo("%d vid %04x pid %04x %d\n", i++, static_cast<unsigned>(info.idVendor),
         static_cast<unsigned>(info.idProduct), static_cast<int>(info.address));
    if (info.idVendor != kQtrVendor) continue;
    auto device = context.openDevice(info);
    if (!device.ok()) {
      logError("Cannot open QTR Device\n");
      return std::nullopt;
    }
    logInfo("QTR Device Opened\n");
    opened.emplace(std::move(device.value()));
    product = info.idProduct;
    break;
  }
  if (!opened) {
    logError("Cannot find QTR Device\n");
    return std::nullopt;
  }
  platform::UsbDevice& device = *opened;
  if (auto active = device.kernelDriverActive(0); active.ok() && active.value()) {
    logInfo("Kernel Driver Active\n");
    if (device.detachKernelDriver(0) == 0) logInfo("Kernel Driver Detached\n");
  }
  if (device.claimInterface(0) != 0) {
    logError("Cannot claim Interface\n");
    return std::nullopt;
  }
  std::array<uint8_t, 2> version{};
  if (device.vendorIn(kRequestDriverVersion, 0, 0, version, 0) == 2) {
    logInfo("USB Driver Version: %d.%d\n", version[0], version[1]);
  } else {
    logInfo("USB Driver Version read failed\n");
  }
  version = {};
  if (device.vendorIn(kRequestEeprom, kHardwareVersion, kEepromIndex, version, 0) == 2) {
    logInfo("HW Version: %d.%d\n", version[0], version[1]);
  } else {
    logInfo("HW Version read failed\n");
  }
  std::array<uint8_t, kSerialBytes> serial{};
  const long n = device.vendorIn(kRequestEeprom, kSerialNumber, kEepromIndex, serial, 0);
  if (n != static_cast<long>(kSerialBytes)) {
    logError("Serial read failed (%ld)\n", n);
    return std::nullopt;
  }
  if (product == kQtrR2 || product == kQtrR1) {
    const char* name = product == kQtrR2 ? "QTR R2 " : "QTR R1 ";
    logError("%s", name);
    return std::nullopt;
  }
  if (product == kQtrPex) logInfo("QTR PEX ");
  logInfo("Serial: %-s\n", serialText(serial).c_str());
  logInfo("Device caught\n");
  logInfo("libusb devices list freed\n");

  const std::optional<float> g = readOffset(device, kGlobalOffset, "Global");
  if (!g) return std::nullopt;
  const std::optional<float> l = readOffset(device, kLpOffset, "LP");
  if (!l) return std::nullopt;
  if (!readOffset(device, kAttOffset, "ATT")) return std::nullopt;
  global = *g;
  lp = *l;

  std::array<uint8_t, 1> reply{};
  if (const long r = device.vendorIn(kRequestFifo, 0, kFifoStop, reply, 0); r == 1) {
    logInfo("Stop FIFO\n");
  } else {
    logInfo("Stop FIFO failed (%ld)\n", r);
  }
  if (const long r = device.vendorIn(kRequestFifo, 0, kFifoInit, reply, 0); r == 1) {
    logInfo("Init FIFO\n");
  } else {
    logInfo("Init FIFO failed (%ld)\n", r);
  }
  reply = {};
  const long r = device.vendorIn(kRequestFifo, 1, kFifoStop, reply, 0);
  if (r != 1 || reply[0] != kSynAnswer) {
    logInfo("Enable SYN failed (%ld %02X)\n", r, static_cast<unsigned>(reply[0]));
  }
  logInfo("SYN Enabled\n");
  return opened;
}

}  // namespace

void PEXRead(Works& works) {
  logInfo("Operations init vorn-comms version 1.0\n");
  platform::trace("Operations init vorn-comms version 1.0\n");
  auto context = platform::UsbContext::create(3);
  if (!context.ok()) {
    logInfo("Init Error %d\n", context.error());
    ExitPexread(works);
    return;
  }
  int result = 0;
  {
    float global = 0;
    float lp = 0;
    std::optional<platform::UsbDevice> device = openTransceiver(context.value(), global, lp);
    if (!device) {
      ExitPexread(works);
      return;
    }
    IqCapture capture(works, global, lp);
    auto stream = platform::UsbBulkStream::start(
        context.value(), *device, kIqEndpoint, kIqTransfers, kIqTransferBytes,
        kIqTransferTimeoutMs, [&capture](const UsbCompletion& c) { return capture.cb_in(c); });
    if (!stream.ok()) {
      if (stream.error() == platform::usbCode(platform::UsbError::noMem)) {
        logInfo("libusb_alloc_transfer failed\n");
      } else {
        logInfo("libusb_submit_transfer failed (%d) %s:%d\n", stream.error(), kSource, __LINE__);
      }
      ExitPexread(works);
      return;
    }
    logInfo("SYN transfer starting\n");
    while (captureWanted(works) && !capture.failedOut() && !capture.fftFailed()) {
      result = context->handleEvents(0);
      if (result != 0 && result != platform::usbCode(platform::UsbError::interrupted)) {
        std::printf("libusb_handle_events %d\n", result);
      }
      if (const int e = stream->submitError(); e != 0) {
        logError("libusb_submit_transfer failed (%d)  %s:%d\n", e, kSource, __LINE__);
        break;
      }
      platform::sleepMs(1);
    }
    // The transfers come back before the device closes; then the device closes.
    stream->stop();
  }
  logInfo("libusb_handle events completed (%d)\n", result);
  logInfo("%s Operations end\n", kSource);
  ExitPexread(works);
}

}  // namespace corvid
