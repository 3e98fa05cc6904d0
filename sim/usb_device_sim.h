// The USB devices beside the maker's transceiver, for the real USB library in the
// controller: a test bed of umockdev (a sysfs tree and /dev/bus/usb nodes in a folder of
// its own, which a process started with its preload library sees as the machine's), with
// every ioctl on the device nodes answered here, control transfers and bulk URBs alike.
// The controller does not know it runs on the bench: start it with environment().
//
// Devices on bus 1:
//   address 2  the transceiver, 1721:061A (or the product chosen, e.g. 0610, 061C), with
//              its vendor control requests (request type 0xC0):
//                0xFF  value 0       index 0       2 bytes  driver version major, minor
//                0xA2  value 0x404C  index 0x0151  2 bytes  hardware version
//                0xA2  value 0x4000  index 0x0151  32 bytes serial number text
//                0xA2  value 0x4028/0x402C/0x4030  4 bytes  global / LP / ATT level offset,
//                                                           float, little-endian
//                0xE1  value 0 index 0xE900 / 0xE800  1 byte   stop / init the sample FIFO
//                0xE1  value 1 index 0xE900   1 byte 0xE9   the stream on (SYN)
//              anything else stalls. Bulk IN endpoint 0x86: once SYN is on, the IQ stream,
//              signed 32-bit little-endian I, Q pairs at sampleRate, paced in real time: a
//              URB completes when its samples would have come; the signal is the tones and
//              the noise of the options, continuous from URB to URB.
//   address 3  the transceiver's USB sound card, C-Media 0d8c:01af (if audio is set).
// The root's answer file for the lsusb stand-in lists both, so the controller's
// "lsusb | grep" pipelines count what the USB library sees.
//
// Faults (the options, or words of DIR/bench/faults read every 100 ms):
//   usb-stall     every bulk URB ends stalled
//   usb-timeout   bulk URBs never complete: the host's 2 s timeout cancels them
// Options only: the product, a short serial reply (shortSerial), a refused SYN
// (refuseSyn: the request answers 0x00).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvid::bench {

struct UsbTone {
  double offsetHz = 0;  // from the centre of the IQ band
  double dbfs = 0;      // amplitude relative to full scale (0: 2^31)
};

struct UsbSimOptions {
  std::filesystem::path root;  // the bench root: the lsusb answer and the faults file
  bool watchFaultsFile = true;
  uint16_t product = 0x061A;
  bool audio = true;  // the sound card beside the transceiver
  std::string serial = "PX4-21-00417";
  float globalOffset = 1.5f;
  float lpOffset = 0.75f;
  float attOffset = 10.25f;
  double sampleRate = 192000;
  std::vector<UsbTone> tones = {{20000, -20}, {-45000, -40}};
  double noiseDbfs = -110;  // per sample, RMS
  bool shortSerial = false;
  bool refuseSyn = false;
  bool stall = false;
  bool timeout = false;
};

struct UsbSimFigures {
  int opens = 0;                   // device nodes opened (clients that connected)
  int controls = 0;                // control transfers answered
  int bulkCompleted = 0;           // bulk URBs completed with data
  int bulkFailed = 0;              // ended stalled
  int discarded = 0;               // cancelled by the host (its timeouts among them)
  std::vector<std::string> requests;  // "A2 4000 0151 32", in order, the newest 200
  bool synOn = false;
};

class UsbDeviceSimulator {
 public:
  // False with error when umockdev is missing or the test bed cannot be made. Make it
  // before other threads of the process start: the test bed sets UMOCKDEV_DIR here.
  static std::unique_ptr<UsbDeviceSimulator> start(const UsbSimOptions& options,
                                                   std::string& error);
  ~UsbDeviceSimulator();
  UsbDeviceSimulator(const UsbDeviceSimulator&) = delete;
  UsbDeviceSimulator& operator=(const UsbDeviceSimulator&) = delete;

  // Whether this build has the test bed at all (umockdev found when it was configured).
  static bool available();
  // "UMOCKDEV_DIR=...", "LD_PRELOAD=..." (and what the sanitizers need beside it), to
  // add to the controller's environment.
  std::vector<std::string> environment() const;
  const std::filesystem::path& testbedDir() const;

  UsbSimFigures figures() const;
  void setTones(std::vector<UsbTone> tones);
  void setStall(bool on);
  void setTimeout(bool on);

  struct Impl;

 private:
  explicit UsbDeviceSimulator(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The expected point of a tone in the USB spectrum of points wide (854 or 1706): the
// FFT's bin of the tone, shifted and decimated as the controller does.
double usbSpectrumPoint(double offsetHz, double sampleRate, int points);

}  // namespace corvid::bench
