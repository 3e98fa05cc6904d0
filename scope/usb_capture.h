// The IQ capture from the maker's transceiver over USB, for the remote client's spectrum:
// the PEXRead thread finds and opens the transceiver (vendor 0x1721), reads its version,
// serial number and the three calibration offsets, starts its sample FIFO and keeps four
// bulk transfers of 32768 bytes in flight on endpoint 0x86. Each completed transfer is
// scaled by the calibration; one in Divide is transformed (FftCalc) and, while a client is
// logged in, sent as "SP". Eleven failed transfers in a row, a failed set-up or the
// EnableFFT slot turned '0' end the capture through ExitPexread (error 5, a restart asked).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/usb.h"
#include "scope/fft_calc.h"

namespace corvid {

struct Works;

inline constexpr uint16_t kQtrVendor = 0x1721;
inline constexpr uint16_t kQtrPex = 0x061A;
inline constexpr uint16_t kQtrR2 = 0x061C;
inline constexpr uint16_t kQtrR1 = 0x0610;
inline constexpr uint8_t kIqEndpoint = 0x86;
inline constexpr int kIqTransfers = 4;
inline constexpr size_t kIqTransferBytes = 32768;
inline constexpr unsigned kIqTransferTimeoutMs = 2000;
inline constexpr int kIqMaxFailures = 11;  // failed transfers in a row that end the capture

// The completion rules of the stream, apart from the USB library, so that they can be
// driven transfer by transfer: what cb_in does with each transfer.
class IqCapture {
 public:
  IqCapture(Works& works, float globalOffset, float lpOffset);

  // One transfer came back; whether it goes out again.
  platform::UsbNext cb_in(const platform::UsbCompletion& completion);

  int errCounter() const { return errCounter_; }
  bool failedOut() const { return errCounter_ >= kIqMaxFailures; }
  // An FFT buffer could not be allocated: the capture must stop.
  bool fftFailed() const { return fftFailed_; }
  int transforms() const { return transforms_; }
  // The linear scale of the last completed transfer, before the 2^31 of the samples.
  double recalc() const { return recalc_; }
  // The scaled floats of a transfer slot, as the last completion left them.
  const std::vector<float>& floats(int index) const;

 private:
  void fftCalc(const std::vector<float>& samples);

  Works& works_;
  float globalOffset_;
  float lpOffset_;
  int errCounter_ = 0;
  int divide_ = 1;  // countdown to the next transform
  double recalc_ = 0;
  int transforms_ = 0;
  bool fftFailed_ = false;
  std::array<std::vector<float>, kIqTransfers> floats_;
  FftCalc fft_;
};

// The remote client's spectrum from the USB capture: the thread, and its stop.
void PEXRead(Works& works);
void ExitPexread(Works& works);

}  // namespace corvid
