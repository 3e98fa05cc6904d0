// The completion rules of the USB IQ capture, transfer by transfer and without USB: which
// transfers are transformed and sent, when failures end the stream, the calibration's
// scale, and the stop that asks for a restart.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "scope/usb_capture.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using platform::UsbCompletion;
using platform::UsbNext;
using platform::UsbTransferStatus;

std::vector<size_t> g_sent;  // sizes of the spectra sent, in order

void recordSpectrum(Works&, std::span<const uint8_t> spectrum) {
  g_sent.push_back(spectrum.size());
}

class UsbCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setLogSink([this](platform::LogLevel, std::string_view line) {
      log_.emplace_back(line);
    });
    initSetup(w());
    w().errors.errorsMuted = 0;
    w().set.text.setFlag(Slot::EnableFFT, '1');
    w().set.text.setFlag(Slot::EnableFFT2, '1');
    w().set.text.setFlag(Slot::Enable1600, '0');
    w().set.Divide = 4;
    w().remote.wsClientReady = 1;
    w().trx.hooks.sendWebSockSerSpectrFrame = &recordSpectrum;
    g_sent.clear();
    bytes_.assign(kIqTransferBytes, 0);
  }
  void TearDown() override { platform::setLogSink(nullptr); }
  Works& w() { return *works_; }

  UsbNext complete(IqCapture& capture, int index) {
    return capture.cb_in({index, UsbTransferStatus::completed, bytes_});
  }
  UsbNext fail(IqCapture& capture, int index, UsbTransferStatus status) {
    return capture.cb_in({index, status, {}});
  }
  bool logged(const std::string& text) const {
    for (const std::string& line : log_) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::vector<uint8_t> bytes_;

 private:
  testing::TempRoot root_;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  std::vector<std::string> log_;
};

TEST_F(UsbCapture, OneTransferInDivideIsTransformedAndSentTheFirstAtOnce) {
  const struct {
    int divide;
    std::vector<int> transformed;  // 1-based numbers of the completed transfers
  } cases[] = {
      {4, {1, 5, 9}},
      {1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      // The remote word takes any number: 0 and below transform every transfer.
      {0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {-5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.divide);
    w().set.Divide = c.divide;
    IqCapture capture(w(), 0, 0);
    std::vector<int> transformed;
    for (int n = 1; n <= 10; ++n) {
      const int before = capture.transforms();
      EXPECT_EQ(complete(capture, (n - 1) % kIqTransfers), UsbNext::resubmit);
      if (capture.transforms() > before) transformed.push_back(n);
    }
    EXPECT_EQ(transformed, c.transformed);
  }
  EXPECT_FALSE(g_sent.empty());
  for (const size_t size : g_sent) EXPECT_EQ(size, kUsbSpectrumNarrow);
}

TEST_F(UsbCapture, NothingIsTransformedOrSentWithoutItsSourceOrAClient) {
  w().set.Divide = 1;
  {
    SCOPED_TRACE("the spectrum comes from the EXT IO link");
    w().set.text.setFlag(Slot::EnableFFT2, '0');
    IqCapture capture(w(), 0, 0);
    for (int n = 0; n < 5; ++n) EXPECT_EQ(complete(capture, n % 4), UsbNext::resubmit);
    EXPECT_EQ(capture.transforms(), 0);
    w().set.text.setFlag(Slot::EnableFFT2, '1');
  }
  {
    SCOPED_TRACE("no client logged in: counted down, not transformed");
    w().remote.wsClientReady = 0;
    IqCapture capture(w(), 0, 0);
    for (int n = 0; n < 5; ++n) complete(capture, n % 4);
    EXPECT_EQ(capture.transforms(), 0);
  }
  EXPECT_TRUE(g_sent.empty());
  {
    SCOPED_TRACE("the wide spectrum");
    w().remote.wsClientReady = 1;
    w().set.text.setFlag(Slot::Enable1600, '1');
    IqCapture capture(w(), 0, 0);
    complete(capture, 0);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(g_sent[0], kUsbSpectrumWide);
  }
}

TEST_F(UsbCapture, ElevenFailuresInARowEndTheStreamTenAndASuccessDoNot) {
  {
    IqCapture capture(w(), 0, 0);
    for (int n = 0; n < 10; ++n) {
      EXPECT_EQ(fail(capture, n % 4, UsbTransferStatus::stall), UsbNext::resubmit);
    }
    EXPECT_EQ(complete(capture, 2), UsbNext::resubmit);
    EXPECT_EQ(capture.errCounter(), 0);
    for (int n = 0; n < 10; ++n) fail(capture, n % 4, UsbTransferStatus::timedOut);
    EXPECT_FALSE(capture.failedOut());
  }
  IqCapture capture(w(), 0, 0);
  const UsbTransferStatus statuses[] = {
      UsbTransferStatus::error,    UsbTransferStatus::timedOut, UsbTransferStatus::cancelled,
      UsbTransferStatus::stall,    UsbTransferStatus::noDevice, UsbTransferStatus::overflow};
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(fail(capture, n % 4, statuses[n % 6]), UsbNext::resubmit);
  }
  EXPECT_EQ(fail(capture, 2, UsbTransferStatus::stall), UsbNext::release);
  EXPECT_TRUE(capture.failedOut());
  for (const char* line : {"CB result: Error 0", "CB result: Timedout 1", "CB result: Cancelled 2",
                           "CB result: Stalled 3", "CB result: Nodevice 0",
                           "CB result: Overflowed 1", "libusb_err_counter (11)"}) {
    EXPECT_TRUE(logged(line)) << line;
  }
  // The other transfers still out are let rest as they come back.
  EXPECT_EQ(complete(capture, 3), UsbNext::resubmit) << "a success starts the count again";
}

TEST_F(UsbCapture, SamplesAreScaledByTheCalibrationAndTheLpFilter) {
  const int32_t samples[] = {INT32_MAX, INT32_MIN, 0, 1 << 20, -(1 << 30)};
  std::memcpy(bytes_.data(), samples, sizeof samples);  // the bench runs little-endian
  IqCapture capture(w(), 1.5f, 0.75f);
  complete(capture, 1);
  const double recalc = std::pow(10.0, (21.4 - 1.5) / 20);  // the LP filter is out
  EXPECT_DOUBLE_EQ(capture.recalc(), recalc);
  const std::vector<float>& f = capture.floats(1);
  ASSERT_EQ(f.size(), kIqValues);
  for (size_t i = 0; i < std::size(samples); ++i) {
    EXPECT_NEAR(f[i], samples[i] * recalc / 2147483648.0, 1e-6 * recalc) << i;
  }
  EXPECT_EQ(f[kIqValues - 1], 0.0f);
  {
    SCOPED_TRACE("a short transfer: the rest of the buffer is zero");
    bytes_.assign(10, 0xFF);  // two whole samples (-1) and two stray bytes
    complete(capture, 2);
    EXPECT_FLOAT_EQ(capture.floats(2)[0], static_cast<float>(-recalc / 2147483648.0));
    EXPECT_EQ(capture.floats(2)[2], 0.0f);
  }
  {
    SCOPED_TRACE("the LP filter in: its offset counts too");
    {
      std::scoped_lock lock(w().trx.serMut);
      w().trx.pex.lp = 1;
    }
    complete(capture, 3);
    EXPECT_DOUBLE_EQ(capture.recalc(), std::pow(10.0, (21.4 - 1.5 + 0.75) / 20));
  }
}

TEST_F(UsbCapture, TheStopRaisesError5AndAsksForARestart) {
  w().core.remoteRestartRequest = 0;
  ExitPexread(w());
  EXPECT_EQ(w().set.text.flag(Slot::EnableFFT), '0');
  EXPECT_EQ(w().core.remoteRestartRequest.load(), 1);
  EXPECT_EQ(ExistError(w(), Err::RemoteUsb), 1);
  {
    SCOPED_TRACE("stopped: a transfer that comes back rests");
    IqCapture capture(w(), 0, 0);
    EXPECT_EQ(complete(capture, 0), UsbNext::release);
  }
}

}  // namespace
}  // namespace corvid
