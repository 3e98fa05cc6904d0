#include "platform/usb.h"

#include <libusb.h>

#include <chrono>
#include <utility>

namespace corvid::platform {

static_assert(usbCode(UsbError::io) == LIBUSB_ERROR_IO);
static_assert(usbCode(UsbError::invalidParam) == LIBUSB_ERROR_INVALID_PARAM);
static_assert(usbCode(UsbError::access) == LIBUSB_ERROR_ACCESS);
static_assert(usbCode(UsbError::noDevice) == LIBUSB_ERROR_NO_DEVICE);
static_assert(usbCode(UsbError::notFound) == LIBUSB_ERROR_NOT_FOUND);
static_assert(usbCode(UsbError::busy) == LIBUSB_ERROR_BUSY);
static_assert(usbCode(UsbError::timeout) == LIBUSB_ERROR_TIMEOUT);
static_assert(usbCode(UsbError::overflow) == LIBUSB_ERROR_OVERFLOW);
static_assert(usbCode(UsbError::pipe) == LIBUSB_ERROR_PIPE);
static_assert(usbCode(UsbError::interrupted) == LIBUSB_ERROR_INTERRUPTED);
static_assert(usbCode(UsbError::noMem) == LIBUSB_ERROR_NO_MEM);
static_assert(usbCode(UsbError::notSupported) == LIBUSB_ERROR_NOT_SUPPORTED);
static_assert(usbCode(UsbError::other) == LIBUSB_ERROR_OTHER);

namespace {

constexpr int kInvalid = LIBUSB_ERROR_INVALID_PARAM;

timeval millisecondsToTimeval(int ms) {
  if (ms < 0) ms = 0;
  timeval tv{};
  tv.tv_sec = ms / 1000;
  tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
  return tv;
}

struct DeviceListDeleter {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*, DeviceListDeleter>;

// The attached devices, or the list call's code.
Result<DeviceList> listDevices(libusb_context* context, ssize_t* count) {
  libusb_device** raw = nullptr;
  *count = libusb_get_device_list(context, &raw);
  if (*count < 0) return Result<DeviceList>::failure(static_cast<int>(*count));
  return DeviceList(raw);
}

Result<UsbDeviceInfo> describe(libusb_device* device) {
  libusb_device_descriptor d{};
  if (const int e = libusb_get_device_descriptor(device, &d); e < 0) {
    return Result<UsbDeviceInfo>::failure(e);
  }
  UsbDeviceInfo info;
  info.bus = libusb_get_bus_number(device);
  info.address = libusb_get_device_address(device);
  info.idVendor = d.idVendor;
  info.idProduct = d.idProduct;
  info.bcdUSB = d.bcdUSB;
  info.bcdDevice = d.bcdDevice;
  info.bDeviceClass = d.bDeviceClass;
  info.iManufacturer = d.iManufacturer;
  info.iProduct = d.iProduct;
  info.iSerialNumber = d.iSerialNumber;
  info.bNumConfigurations = d.bNumConfigurations;
  return info;
}

}  // namespace

const char* usbErrorName(int code) {
  return libusb_error_name(code);
}

UsbTransferStatus usbTransferStatus(int libraryStatus) {
  struct Row {
    libusb_transfer_status library;
    UsbTransferStatus ours;
  };
  static constexpr Row kStatuses[] = {
      {LIBUSB_TRANSFER_COMPLETED, UsbTransferStatus::completed},
      {LIBUSB_TRANSFER_ERROR, UsbTransferStatus::error},
      {LIBUSB_TRANSFER_TIMED_OUT, UsbTransferStatus::timedOut},
      {LIBUSB_TRANSFER_CANCELLED, UsbTransferStatus::cancelled},
      {LIBUSB_TRANSFER_STALL, UsbTransferStatus::stall},
      {LIBUSB_TRANSFER_NO_DEVICE, UsbTransferStatus::noDevice},
      {LIBUSB_TRANSFER_OVERFLOW, UsbTransferStatus::overflow},
  };
  for (const Row& row : kStatuses) {
    if (static_cast<int>(row.library) == libraryStatus) return row.ours;
  }
  return UsbTransferStatus::error;
}

// ---- UsbDevice

UsbDevice::UsbDevice(UsbDevice&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), claimed_(std::exchange(other.claimed_, 0)) {}

UsbDevice& UsbDevice::operator=(UsbDevice&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
    claimed_ = std::exchange(other.claimed_, 0);
  }
  return *this;
}

UsbDevice::~UsbDevice() {
  close();
}

void UsbDevice::close() {
  if (handle_ == nullptr) return;
  for (int interface = 0; interface < 32; ++interface) {
    if ((claimed_ & (1u << interface)) != 0) libusb_release_interface(handle_, interface);
  }
  claimed_ = 0;
  libusb_close(std::exchange(handle_, nullptr));
}

Result<std::string> UsbDevice::stringDescriptor(uint8_t index) {
  if (handle_ == nullptr) return Result<std::string>::failure(kInvalid);
  unsigned char text[256] = {};
  const int n = libusb_get_string_descriptor_ascii(handle_, index, text, sizeof text);
  if (n < 0) return Result<std::string>::failure(n);
  return std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
}

Result<bool> UsbDevice::kernelDriverActive(int interface) {
  if (handle_ == nullptr) return Result<bool>::failure(kInvalid);
  const int r = libusb_kernel_driver_active(handle_, interface);
  if (r < 0) return Result<bool>::failure(r);
  return r == 1;
}

int UsbDevice::detachKernelDriver(int interface) {
  if (handle_ == nullptr) return kInvalid;
  return libusb_detach_kernel_driver(handle_, interface);
}

int UsbDevice::claimInterface(int interface) {
  if (handle_ == nullptr || interface < 0 || interface >= 32) return kInvalid;
  const int e = libusb_claim_interface(handle_, interface);
  if (e == 0) claimed_ |= 1u << interface;
  return e;
}

int UsbDevice::releaseInterface(int interface) {
  if (handle_ == nullptr || interface < 0 || interface >= 32) return kInvalid;
  const int e = libusb_release_interface(handle_, interface);
  if (e == 0) claimed_ &= ~(1u << interface);
  return e;
}

long UsbDevice::controlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                uint16_t index, std::span<uint8_t> data, unsigned timeoutMs) {
  if (handle_ == nullptr || data.size() > 0xFFFF) return kInvalid;
  return libusb_control_transfer(handle_, requestType, request, value, index, data.data(),
                                 static_cast<uint16_t>(data.size()), timeoutMs);
}

long UsbDevice::vendorOut(uint8_t request, uint16_t value, uint16_t index,
                          std::span<const uint8_t> data, unsigned timeoutMs) {
  // The library only reads the buffer of a host-to-device request.
  std::span<uint8_t> writable(const_cast<uint8_t*>(data.data()), data.size());
  return controlTransfer(kUsbVendorOut, request, value, index, writable, timeoutMs);
}

// ---- UsbContext

Result<UsbContext> UsbContext::create(int logLevel) {
  libusb_context* context = nullptr;
  if (const int e = libusb_init(&context); e < 0) return Result<UsbContext>::failure(e);
  UsbContext owner(context);
  if (logLevel > 0) libusb_set_option(context, LIBUSB_OPTION_LOG_LEVEL, logLevel);
  return owner;
}

UsbContext::UsbContext(UsbContext&& other) noexcept
    : context_(std::exchange(other.context_, nullptr)) {}

UsbContext& UsbContext::operator=(UsbContext&& other) noexcept {
  if (this != &other) {
    if (context_ != nullptr) libusb_exit(context_);
    context_ = std::exchange(other.context_, nullptr);
  }
  return *this;
}

UsbContext::~UsbContext() {
  if (context_ != nullptr) libusb_exit(context_);
}

Result<std::vector<UsbDeviceInfo>> UsbContext::devices() {
  if (context_ == nullptr) return Result<std::vector<UsbDeviceInfo>>::failure(kInvalid);
  ssize_t count = 0;
  auto list = listDevices(context_, &count);
  if (!list.ok()) return Result<std::vector<UsbDeviceInfo>>::failure(list.error());
  std::vector<UsbDeviceInfo> found;
  for (ssize_t i = 0; i < count; ++i) {
    // A device whose descriptor cannot be read is left out of the list.
    auto info = describe(list.value().get()[i]);
    if (info.ok()) found.push_back(info.value());
  }
  return found;
}

Result<UsbDevice> UsbContext::openDevice(uint16_t idVendor, uint16_t idProduct) {
  if (context_ == nullptr) return Result<UsbDevice>::failure(kInvalid);
  ssize_t count = 0;
  auto list = listDevices(context_, &count);
  if (!list.ok()) return Result<UsbDevice>::failure(list.error());
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* device = list.value().get()[i];
    auto info = describe(device);
    if (!info.ok() || info->idVendor != idVendor || info->idProduct != idProduct) continue;
    libusb_device_handle* handle = nullptr;
    if (const int e = libusb_open(device, &handle); e < 0) return Result<UsbDevice>::failure(e);
    return UsbDevice(handle);
  }
  return Result<UsbDevice>::failure(LIBUSB_ERROR_NOT_FOUND);
}

Result<UsbDevice> UsbContext::openDevice(const UsbDeviceInfo& wanted) {
  if (context_ == nullptr) return Result<UsbDevice>::failure(kInvalid);
  ssize_t count = 0;
  auto list = listDevices(context_, &count);
  if (!list.ok()) return Result<UsbDevice>::failure(list.error());
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* device = list.value().get()[i];
    if (libusb_get_bus_number(device) != wanted.bus ||
        libusb_get_device_address(device) != wanted.address) {
      continue;
    }
    libusb_device_handle* handle = nullptr;
    if (const int e = libusb_open(device, &handle); e < 0) return Result<UsbDevice>::failure(e);
    return UsbDevice(handle);
  }
  return Result<UsbDevice>::failure(LIBUSB_ERROR_NOT_FOUND);
}

int UsbContext::handleEvents(int timeoutMs) {
  if (context_ == nullptr) return kInvalid;
  timeval tv = millisecondsToTimeval(timeoutMs);
  return libusb_handle_events_timeout_completed(context_, &tv, nullptr);
}

// ---- UsbBulkStream

struct UsbBulkStream::State {
  struct Slot {
    State* state = nullptr;
    int index = 0;
    libusb_transfer* transfer = nullptr;
    std::vector<uint8_t> buffer;
    bool inFlight = false;
  };

  libusb_context* context = nullptr;
  Callback callback;
  std::vector<Slot> slots;  // never resized once the transfers point into it
  int inFlight = 0;
  int submitError = 0;
  bool stopping = false;

  ~State() {
    for (Slot& slot : slots) {
      if (slot.transfer != nullptr && !slot.inFlight) libusb_free_transfer(slot.transfer);
    }
  }

  int submit(Slot& slot) {
    const int e = libusb_submit_transfer(slot.transfer);
    if (e == 0) {
      slot.inFlight = true;
      ++inFlight;
    }
    return e;
  }

  static void LIBUSB_CALL completed(libusb_transfer* transfer) {
    auto* slot = static_cast<Slot*>(transfer->user_data);
    State& self = *slot->state;
    slot->inFlight = false;
    --self.inFlight;
    if (self.stopping) return;
    UsbCompletion completion;
    completion.index = slot->index;
    completion.status = usbTransferStatus(transfer->status);
    const int length = transfer->actual_length > 0 ? transfer->actual_length : 0;
    completion.data = std::span<const uint8_t>(transfer->buffer, static_cast<size_t>(length));
    if (self.callback(completion) != UsbNext::resubmit || self.stopping) return;
    if (const int e = self.submit(*slot); e != 0) self.submitError = e;
  }

  // Cancels what is out and runs the event loop until it has all come back.
  int cancelAndWait(int timeoutMs) {
    stopping = true;
    for (Slot& slot : slots) {
      if (slot.inFlight) libusb_cancel_transfer(slot.transfer);
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (inFlight > 0 && std::chrono::steady_clock::now() < end) {
      timeval tv = millisecondsToTimeval(100);
      libusb_handle_events_timeout_completed(context, &tv, nullptr);
    }
    return inFlight == 0 ? 0 : LIBUSB_ERROR_TIMEOUT;
  }
};

UsbBulkStream::UsbBulkStream() = default;
UsbBulkStream::UsbBulkStream(std::unique_ptr<State> state) : state_(std::move(state)) {}
UsbBulkStream::UsbBulkStream(UsbBulkStream&& other) noexcept = default;

UsbBulkStream& UsbBulkStream::operator=(UsbBulkStream&& other) noexcept {
  if (this != &other) {
    stop();
    state_ = std::move(other.state_);
  }
  return *this;
}

UsbBulkStream::~UsbBulkStream() {
  stop();
}

Result<UsbBulkStream> UsbBulkStream::start(UsbContext& context, UsbDevice& device, uint8_t endpoint,
                                           int count, size_t bytes, unsigned timeoutMs,
                                           Callback callback) {
  if (context.context_ == nullptr || device.handle_ == nullptr || count <= 0 || bytes == 0 ||
      bytes > static_cast<size_t>(INT32_MAX) || !callback) {
    return Result<UsbBulkStream>::failure(kInvalid);
  }
  auto state = std::make_unique<State>();
  state->context = context.context_;
  state->callback = std::move(callback);
  state->slots.resize(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    State::Slot& slot = state->slots[static_cast<size_t>(i)];
    slot.state = state.get();
    slot.index = i;
    slot.buffer.resize(bytes);
    slot.transfer = libusb_alloc_transfer(0);
    if (slot.transfer == nullptr) return Result<UsbBulkStream>::failure(LIBUSB_ERROR_NO_MEM);
    libusb_fill_bulk_transfer(slot.transfer, device.handle_, endpoint, slot.buffer.data(),
                              static_cast<int>(bytes), &State::completed, &slot, timeoutMs);
  }
  for (State::Slot& slot : state->slots) {
    if (const int e = state->submit(slot); e != 0) {
      if (state->cancelAndWait(5000) != 0) (void)state.release();  // still out: never freed
      return Result<UsbBulkStream>::failure(e);
    }
  }
  return UsbBulkStream(std::move(state));
}

int UsbBulkStream::inFlight() const {
  return state_ == nullptr ? 0 : state_->inFlight;
}

int UsbBulkStream::submitError() const {
  return state_ == nullptr ? 0 : state_->submitError;
}

int UsbBulkStream::stop(int timeoutMs) {
  if (state_ == nullptr) return 0;
  const int e = state_->cancelAndWait(timeoutMs);
  if (e != 0) {
    (void)state_.release();  // the library still holds transfers that point into it
  } else {
    state_.reset();
  }
  return e;
}

}  // namespace corvid::platform
