// The USB owners on a machine that may have no USB at all: the context initialises or
// says why, the listing shows whatever is attached, an absent receiver is "not found",
// and the library's transfer statuses map onto ours.
#include <gtest/gtest.h>

#include <string>

#include "platform/usb.h"

namespace corvid {
namespace {

using platform::UsbBulkStream;
using platform::usbCode;
using platform::UsbCompletion;
using platform::UsbContext;
using platform::UsbDevice;
using platform::UsbDeviceInfo;
using platform::UsbError;
using platform::UsbNext;
using platform::UsbTransferStatus;

// The maker's receiver.
constexpr uint16_t kVendor = 0x1721;
constexpr uint16_t kProduct = 0x061A;

TEST(UsbTransferStatus, EveryLibraryStatusHasItsOwnValue) {
  // The library's numbers, in the order of its enumeration of transfer statuses.
  const struct {
    int library;
    UsbTransferStatus ours;
  } cases[] = {
      {0, UsbTransferStatus::completed},
      {1, UsbTransferStatus::error},
      {2, UsbTransferStatus::timedOut},
      {3, UsbTransferStatus::cancelled},
      {4, UsbTransferStatus::stall},
      {5, UsbTransferStatus::noDevice},
      {6, UsbTransferStatus::overflow},
      // Numbers the library does not define count as errors, never as completed.
      {7, UsbTransferStatus::error},
      {-1, UsbTransferStatus::error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.library);
    EXPECT_EQ(platform::usbTransferStatus(c.library), c.ours);
  }
}

// Where the system has no USB the context may not come up: that is a value, not a crash.
TEST(UsbContext, InitialisesOrReportsWhy) {
  auto context = UsbContext::create(0);
  if (!context.ok()) {
    EXPECT_LT(context.error(), 0);
    EXPECT_EQ(std::string(platform::usbErrorName(context.error())).rfind("LIBUSB_ERROR_", 0), 0u);
    GTEST_SKIP() << "no USB here: " << platform::usbErrorName(context.error());
  }
  EXPECT_TRUE(context->isOpen());
  // Nothing is pending: one step of the event loop just returns.
  EXPECT_EQ(context->handleEvents(0), 0);

  auto devices = context->devices();
  ASSERT_TRUE(devices.ok()) << platform::usbErrorName(devices.error());
  bool receiverAttached = false;
  for (const UsbDeviceInfo& device : devices.value()) {
    EXPECT_NE(device.bus, 0) << "every device sits on a numbered bus";
    EXPECT_NE(device.address, 0);
    if (device.idVendor == kVendor && device.idProduct == kProduct) receiverAttached = true;
  }
  if (!receiverAttached) {
    auto receiver = context->openDevice(kVendor, kProduct);
    EXPECT_FALSE(receiver.ok());
    EXPECT_EQ(receiver.error(), usbCode(UsbError::notFound));
  }
  // A bus and address where nothing is attached (addresses go up to 127).
  UsbDeviceInfo nowhere;
  nowhere.bus = 255;
  nowhere.address = 200;
  EXPECT_EQ(context->openDevice(nowhere).error(), usbCode(UsbError::notFound));
}

// A stream is never started on a device that is not open, and one at rest stops at once.
TEST(UsbBulkStream, RefusesADeviceThatIsNotOpen) {
  UsbContext context;
  UsbDevice device;
  const auto callback = [](const UsbCompletion&) { return UsbNext::resubmit; };
  auto stream = UsbBulkStream::start(context, device, 0x86, 4, 32768, 2000, callback);
  EXPECT_EQ(stream.error(), usbCode(UsbError::invalidParam));
  EXPECT_EQ(stream->inFlight(), 0);
  EXPECT_EQ(stream->stop(), 0);
  uint8_t reply[2] = {};
  EXPECT_EQ(device.vendorIn(0xFF, 0, 0, reply, 0), usbCode(UsbError::invalidParam));
}

}  // namespace
}  // namespace corvid
