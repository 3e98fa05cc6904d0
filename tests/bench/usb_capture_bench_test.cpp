// The IQ capture of the real controller from the transceiver's USB interface, emulated
// for the real USB library: the spectrum a client asks for with "VORNFT01" / "VORNFT02"
// computed from the bench's IQ tones (854 and 1706 points, the tones at their points, the
// calibration in the levels), a stream that stalls or times out ending the capture with
// error 5 and coming back when the device does, and the set-up failures of a transceiver
// of another product, a short serial number and a refused stream start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/child_process.h"
#include "sim/gpio_keys.h"
#include "sim/root_settings.h"
#include "sim/scenarios.h"
#include "sim/usb_device_sim.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/remote_client_run.h"
#include "tests/bench/usb_bench.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

constexpr double kRate = 192000;
// Tones on FFT bins that the client's width keeps at both sizes (2048 points: even bins;
// 4096: bins of one parity), well apart.
const std::vector<UsbTone> kTones = {{214 * 93.75, -20}, {-480 * 93.75, -40}};

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The point of the strongest level within radius points of at.
int peakNear(const std::vector<uint8_t>& s, double at, int radius) {
  int best = -1;
  for (int i = static_cast<int>(at) - radius; i <= static_cast<int>(at) + radius + 1; ++i) {
    if (i < 0 || i >= static_cast<int>(s.size())) continue;
    if (best < 0 || s[static_cast<size_t>(i)] > s[static_cast<size_t>(best)]) best = i;
  }
  return best;
}

uint8_t median(std::vector<uint8_t> s) {
  std::nth_element(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(s.size() / 2), s.end());
  return s[s.size() / 2];
}

TEST(UsbCaptureBench, SpectrumFromTheIqStreamAndAStreamThatFailsAndComesBack) {
  SKIP_WITHOUT_EMULATED_USB();
  UsbSimOptions options;
  options.tones = kTones;
  options.sampleRate = kRate;
  UsbBench b(options);
  ASSERT_TRUE(b.usb) << b.error;
  ASSERT_TRUE(b.start()) << b.error;
  CorvidRun& run = b.bench.corvid();
  ASSERT_TRUE(run.waitForLog("Listening on port " + std::to_string(b.port), 60s)) << run.log();
  ASSERT_TRUE(run.waitForLog("SYN transfer starting", 60s)) << run.log();
  for (const char* line : {"QTR Device Opened", "USB Driver Version: 2.7", "HW Version: 1.3",
                           "QTR PEX", "Serial: PX4-21-00417", "Global Offset: 1.500000",
                           "LP Offset: 0.750000", "ATT Offset: 10.250000", "Stop FIFO\n",
                           "Init FIFO\n", "SYN Enabled"}) {
    EXPECT_NE(run.log().find(line), std::string::npos) << line << "\n" << run.log();
  }
  EXPECT_EQ(run.log().find("Enable SYN failed"), std::string::npos);
  {
    const UsbSimFigures f = b.usb->figures();
    EXPECT_TRUE(f.synOn);
    // The requests in the order the set-up makes them (the search's own reads aside).
    const std::vector<std::string> expected = {
        "FF 0000 0000 2",  "A2 404C 0151 2", "A2 4000 0151 32", "A2 4028 0151 4",
        "A2 402C 0151 4",  "A2 4030 0151 4", "E1 0000 E900 1",  "E1 0000 E800 1",
        "E1 0001 E900 1"};
    ASSERT_GE(f.requests.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.requests.end() - 9))
        << testing::PrintToString(f.requests);
  }
  const fs::path dir = run.root().dir();
  // The levels the calibration gives a tone: its dBFS, the gain 21.4 - global offset
  // (the LP offset only counts with the LP filter in), the window's coherent gain
  // (0.35875, then the spectrum's division by N/2), truncated toward zero.
  // At 4096 points a tone on an even bin lies between two of the points kept, one bin
  // off each: the window's response there is 0.48829 / 2 of its 0.35875 at the centre.
  auto expectedByte = [](double dbfs, int points) {
    double db = dbfs + (21.4 - 1.5) + 20 * std::log10(2 * 0.35875);
    if (points == 1706) db += 20 * std::log10(0.48829 / 2 / 0.35875);
    return 192 + static_cast<int>(db);
  };
  for (const auto& [word, points] : {std::pair<const char*, int>{"VORNFT01", 854},
                                     std::pair<const char*, int>{"VORNFT02", 1706}}) {
    SCOPED_TRACE(word);
    const fs::path data = dir / (std::string(word) + ".bin");
    const Finished f = runRemote(b.port,
                                 {"--password", kUsbPassword, "--for", "4", "--stats", "--send",
                                  word, "--spectrum-data", data.string()},
                                 dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << f.err << f.out;
    std::vector<uint8_t> s = readBytes(data);
    ASSERT_EQ(s.size(), static_cast<size_t>(points));
    for (const UsbTone& tone : kTones) {
      const double at = usbSpectrumPoint(tone.offsetHz, kRate, points);
      const int peak = peakNear(s, at, 6);
      EXPECT_NEAR(peak, at, 1.0) << tone.offsetHz << " Hz";
      EXPECT_NEAR(s[static_cast<size_t>(peak)], expectedByte(tone.dbfs, points), 1)
          << tone.offsetHz;
    }
    EXPECT_LT(median(s), expectedByte(-40, points) - 30) << "the noise floor under both tones";
    EXPECT_TRUE(run.waitForLog("TCP closed", 5s));
  }
  EXPECT_EQ(rootSetting(run.root(), "Enable1600").value_or(""), "1");

  {
    SCOPED_TRACE("a stream that stalls: eleven failures end the capture with error 5");
    const size_t from = run.logSize();
    b.usb->setStall(true);
    ASSERT_TRUE(run.waitForLogFrom(from, "CB result: Stalled", 10s)) << run.logFrom(from);
    ASSERT_TRUE(run.waitForLogFrom(from, "libusb_err_counter (11)", 10s)) << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "PEXRead Operations end", 10s)) << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "err:5", 10s)) << run.logFrom(from);
    // The operator's error reset (key 6) starts the capture again.
    b.usb->setStall(false);
    const size_t back = run.logSize();
    GpioKeys keys(run.root().gpioBlock());
    ASSERT_TRUE(keys.ok()) << keys.error();
    keys.set(6, true);
    std::this_thread::sleep_for(120ms);
    keys.set(6, false);
    EXPECT_TRUE(run.waitForLogFrom(back, ">>> RESTART REMOTE!", 10s)) << run.logFrom(back);
    const int before = b.usb->figures().bulkCompleted;
    EXPECT_TRUE(run.waitForLogFrom(back, "SYN transfer starting", 30s)) << run.logFrom(back);
    EXPECT_TRUE(waitUntil([&] { return b.usb->figures().bulkCompleted > before + 20; }, 20s));
    EXPECT_TRUE(run.alive());
  }
  {
    SCOPED_TRACE("a stream that stops: the transfers time out");
    const size_t from = run.logSize();
    b.usb->setTimeout(true);
    ASSERT_TRUE(run.waitForLogFrom(from, "CB result: Timedout", 10s)) << run.logFrom(from);
    ASSERT_TRUE(run.waitForLogFrom(from, "libusb_err_counter (11)", 20s)) << run.logFrom(from);
    b.usb->setTimeout(false);
    EXPECT_GT(b.usb->figures().discarded, 10);
    const Finished f = runRemote(b.port, {"--password", kUsbPassword, "--once"}, dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << "the server runs on: " << f.err;
  }
  run.stop();
  EXPECT_EQ(run.log().find("Sanitizer"), std::string::npos) << run.log();
}

// Each variant a start of its own: the product is the device's, fixed while it is plugged.
TEST(UsbCaptureBench, TransceiversTheCaptureRefuses) {
  SKIP_WITHOUT_EMULATED_USB();
  struct Variant {
    const char* name;
    UsbSimOptions options;
    std::vector<const char*> lines;
    bool streams;
  };
  UsbSimOptions r1;
  r1.product = 0x0610;
  UsbSimOptions shortSerial;
  shortSerial.shortSerial = true;
  UsbSimOptions refusedSyn;
  refusedSyn.refuseSyn = true;
  const Variant variants[] = {
      {"R1", r1, {"QTR R1 "}, false},
      {"short serial", shortSerial, {"Serial read failed (16)"}, false},
      // The stream is asked for anyway; a device that never sends times out.
      {"refused SYN", refusedSyn, {"Enable SYN failed (1 00)", "SYN transfer starting",
                                   "CB result: Timedout"}, true},
  };
  for (const Variant& v : variants) {
    SCOPED_TRACE(v.name);
    UsbBench b(v.options);
    ASSERT_TRUE(b.usb) << b.error;
    ASSERT_TRUE(b.start()) << b.error;
    CorvidRun& run = b.bench.corvid();
    ASSERT_TRUE(run.waitForLog("Operations init vorn-comms version 1.0", 60s)) << run.log();
    for (const char* line : v.lines) {
      EXPECT_TRUE(run.waitForLog(line, 20s)) << line << "\n" << run.log();
    }
    EXPECT_TRUE(run.waitForLog("err:5", 10s)) << run.log();
    if (!v.streams) {
      EXPECT_EQ(run.log().find("SYN transfer starting"), std::string::npos);
    }
    const Finished f = runRemote(b.port, {"--password", kUsbPassword, "--once"}, run.root().dir());
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << "the rest runs on: " << f.err;
    run.stop();
    EXPECT_EQ(run.log().find("Sanitizer"), std::string::npos) << run.log();
  }
}

}  // namespace
}  // namespace corvid::bench::test
