// The controller in remote operation with the transceiver's USB devices emulated (its
// IQ interface and sound card), its EXT IO link and USB CAT port simulated, for the bench
// tests and the benchmark of the USB IQ capture.
#pragma once

#include <memory>
#include <string>

#include "sim/child_process.h"
#include "sim/scenarios.h"
#include "sim/usb_device_sim.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/remote_transceiver.h"

namespace corvid::bench::test {

inline constexpr const char* kUsbPassword = "usb-pass";

// The controller in remote operation with the transceiver's USB devices emulated.
struct UsbBench {
  explicit UsbBench(const UsbSimOptions& usbOptions) {
    CorvidRun& run = bench.corvid();
    UsbSimOptions options = usbOptions;
    options.root = run.root().dir();
    usb = UsbDeviceSimulator::start(options, error);
  }
  bool start() {
    CorvidRun& run = bench.corvid();
    run.writeFile("/opt/set/setup.txt", goldenSetup());
    port = freeTcpPort();
    if (port == 0 || !setRemoteOperation(run.root(), port, kUsbPassword).empty()) return false;
    run.setEnvironment(usb->environment());
    transceiver = std::make_unique<RemoteTransceiver>(run.root());
    if (!transceiver->start(error)) return false;
    return bench.start();
  }

  MicroRun bench;
  std::string error;
  std::unique_ptr<UsbDeviceSimulator> usb;
  std::unique_ptr<RemoteTransceiver> transceiver;
  uint16_t port = 0;
};

#define SKIP_WITHOUT_EMULATED_USB()                                                         \
  do {                                                                                      \
    if (!UsbDeviceSimulator::available()) GTEST_SKIP() << "this build has no umockdev";     \
    if (!emulatorWords().empty()) {                                                         \
      GTEST_SKIP() << "the emulated USB devices need the controller to run on this machine"; \
    }                                                                                       \
  } while (false)

}  // namespace corvid::bench::test
