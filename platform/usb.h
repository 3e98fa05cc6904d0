// USB devices through the USB library: the device search of the remote checks, and the
// IQ capture from the maker's receiver (vendor control requests, then a stream of bulk IN
// transfers kept in flight). Failures are the library's own codes, negative numbers named
// by UsbError, which usbErrorName turns into text for the caller's log line.
//
// Lifetimes: a device and a bulk stream live within the context they came from; the
// completion callbacks of a stream run inside UsbContext::handleEvents, in the thread
// that calls it, which should be the thread that owns the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/fd.h"

struct libusb_context;  // the library's types; only usb.cpp sees inside
struct libusb_device_handle;

namespace corvid::platform {

// The library's error codes.
enum class UsbError : int {
  io = -1,
  invalidParam = -2,
  access = -3,
  noDevice = -4,
  notFound = -5,
  busy = -6,
  timeout = -7,
  overflow = -8,
  pipe = -9,
  interrupted = -10,
  noMem = -11,
  notSupported = -12,
  other = -99,
};
inline constexpr int usbCode(UsbError error) {
  return static_cast<int>(error);
}
// "LIBUSB_ERROR_NOT_FOUND", as the library names a code.
const char* usbErrorName(int code);

// One attached device: where it is and the fields of its device descriptor.
struct UsbDeviceInfo {
  uint8_t bus = 0;
  uint8_t address = 0;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  uint16_t bcdUSB = 0;
  uint16_t bcdDevice = 0;
  uint8_t bDeviceClass = 0;
  uint8_t iManufacturer = 0;  // string descriptor indexes, 0: none
  uint8_t iProduct = 0;
  uint8_t iSerialNumber = 0;
  uint8_t bNumConfigurations = 0;
};

// The request types of the vendor control requests (bmRequestType).
inline constexpr uint8_t kUsbVendorIn = 0xC0;   // device to host, vendor, device
inline constexpr uint8_t kUsbVendorOut = 0x40;  // host to device, vendor, device

class UsbDevice {
 public:
  UsbDevice() = default;
  UsbDevice(UsbDevice&& other) noexcept;
  UsbDevice& operator=(UsbDevice&& other) noexcept;
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;
  ~UsbDevice();  // releases the interfaces it claimed, then closes
  bool isOpen() const { return handle_ != nullptr; }

  // A string descriptor in ASCII (the library's conversion), or the code.
  Result<std::string> stringDescriptor(uint8_t index);
  // Whether a kernel driver holds the interface (on Linux: usbhid, cdc_acm, ...).
  Result<bool> kernelDriverActive(int interface);
  int detachKernelDriver(int interface);  // 0 or the code
  int claimInterface(int interface);      // 0 or the code
  int releaseInterface(int interface);    // 0 or the code

  // One control transfer; timeoutMs 0 waits without a limit. The bytes moved or the code
  // (UsbError::pipe: the device refused the request).
  long controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                       std::span<uint8_t> data, unsigned timeoutMs);
  long vendorIn(uint8_t request, uint16_t value, uint16_t index, std::span<uint8_t> data,
                unsigned timeoutMs) {
    return controlTransfer(kUsbVendorIn, request, value, index, data, timeoutMs);
  }
  long vendorOut(uint8_t request, uint16_t value, uint16_t index, std::span<const uint8_t> data,
                 unsigned timeoutMs);

 private:
  friend class UsbContext;
  friend class UsbBulkStream;
  explicit UsbDevice(libusb_device_handle* handle) : handle_(handle) {}
  void close();
  libusb_device_handle* handle_ = nullptr;
  uint32_t claimed_ = 0;  // bit n: interface n claimed here
};

class UsbContext {
 public:
  // Initialises the library (it fails where the system has no USB at all); logLevel from
  // 0 (none) to 4 (debug), the library's messages on standard error.
  static Result<UsbContext> create(int logLevel = 0);

  UsbContext() = default;
  UsbContext(UsbContext&& other) noexcept;
  UsbContext& operator=(UsbContext&& other) noexcept;
  UsbContext(const UsbContext&) = delete;
  UsbContext& operator=(const UsbContext&) = delete;
  ~UsbContext();
  bool isOpen() const { return context_ != nullptr; }

  // Every attached device in the library's order (possibly none).
  Result<std::vector<UsbDeviceInfo>> devices();
  // Opens the first device with these ids: UsbError::notFound when there is none, else
  // the open's code (UsbError::access without permission on the device node).
  Result<UsbDevice> openDevice(uint16_t idVendor, uint16_t idProduct);
  // Opens the device listed at that bus and address (UsbError::notFound if it has gone).
  Result<UsbDevice> openDevice(const UsbDeviceInfo& device);

  // One step of the event loop: handles what is pending, waiting at most timeoutMs for
  // something to happen; completion callbacks run in here. 0 or the code
  // (UsbError::interrupted when a signal cut it short).
  int handleEvents(int timeoutMs);

 private:
  friend class UsbBulkStream;
  explicit UsbContext(libusb_context* context) : context_(context) {}
  libusb_context* context_ = nullptr;
};

// How a transfer ended, as the library's transfer status.
enum class UsbTransferStatus { completed, error, timedOut, cancelled, stall, noDevice, overflow };
// The library's status number as ours; any number it does not define is an error.
UsbTransferStatus usbTransferStatus(int libraryStatus);

// What the completion callback wants done with its transfer.
enum class UsbNext { resubmit, release };

struct UsbCompletion {
  int index = 0;  // which of the stream's transfers, 0 ... count - 1
  UsbTransferStatus status = UsbTransferStatus::error;
  std::span<const uint8_t> data;  // the bytes received; valid during the callback only
};

// N bulk IN transfers of one size on one endpoint, kept in flight: each completion goes to
// the callback, whose answer resubmits the transfer or lets it rest. Teardown cancels what
// is in flight and waits for the library to give it back before freeing anything.
class UsbBulkStream {
 public:
  using Callback = std::function<UsbNext(const UsbCompletion&)>;

  // Allocates count transfers of bytes each, with timeoutMs each (0: no limit), and
  // submits them all. If one cannot be submitted, those already out are cancelled and
  // waited for, and that submission's code comes back.
  static Result<UsbBulkStream> start(UsbContext& context, UsbDevice& device, uint8_t endpoint,
                                     int count, size_t bytes, unsigned timeoutMs,
                                     Callback callback);

  UsbBulkStream();
  UsbBulkStream(UsbBulkStream&& other) noexcept;
  UsbBulkStream& operator=(UsbBulkStream&& other) noexcept;
  UsbBulkStream(const UsbBulkStream&) = delete;
  UsbBulkStream& operator=(const UsbBulkStream&) = delete;
  ~UsbBulkStream();  // stop(), with its default limit

  // Transfers submitted and not yet completed. 0: the stream has come to rest.
  int inFlight() const;
  // The code of the last resubmission that failed (that transfer then rests), 0 if none.
  int submitError() const;
  // Cancels every transfer in flight and handles events until all have come back, for at
  // most timeoutMs; completions after the stop are not passed to the callback. 0, or
  // UsbError::timeout when some are still out: their memory is then left allocated, never
  // freed under the library. Not to be called from inside the callback (answer release).
  int stop(int timeoutMs = 5000);

 private:
  struct State;
  explicit UsbBulkStream(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace corvid::platform
