// The amplifier's own FFT of one USB IQ transfer, one byte per point for the remote
// client: a 4-term Blackman-Harris window, a radix-2 decimation-in-frequency FFT of 2048
// or 4096 points (enable1600 '0' or not), levels in whole dB from -192 to +50 sent as
// 0..242 with the negative frequencies first, and every other point of the middle kept
// for the client's width. The bytes are those of this arithmetic in double precision,
// operation for operation and without fused multiply-adds, on every target; the
// cosines, sines and logarithms are the C library's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

namespace corvid {

inline constexpr size_t kIqValues = 8192;         // int32 values in one 32768-byte transfer
inline constexpr size_t kFftNarrowPoints = 2048;  // enable1600 '0'
inline constexpr size_t kFftWidePoints = 4096;    // any other enable1600
inline constexpr size_t kUsbSpectrumNarrow = 854;
inline constexpr size_t kUsbSpectrumWide = 1706;
// The first shifted point sent; the others follow two points apart.
inline constexpr size_t kUsbSpectrumFirstNarrow = 170;
inline constexpr size_t kUsbSpectrumFirstWide = 341;
// The levels' range (dB); a byte is the level + 192.
inline constexpr int kFftFloorDb = -192;
inline constexpr int kFftCeilingDb = 50;

// The transform step of fftCalc on its own, for the tests and the benchmark: radix-2
// decimation in frequency in place. In stage s (s = 0 .. log2(n) - 1) there are 2^s
// groups of span e = n / 2^(s+1); the l-th pair (a, b) of a group becomes a + b and
// (a - b) (co[t] + j si[t]), t = l 2^s. n = re.size(), a power of two from 8 to 4096;
// co and si hold at least n / 2 twiddles. The bins come out in bit-reversed order.
// Spans of any other size are left as they are.
void fftTransform(std::span<double> re, std::span<double> im, std::span<const double> co,
                  std::span<const double> si);

// Used by one thread only (the USB capture thread). The work buffers are allocated at
// the first call, for 4096 points, and the tables are rebuilt only when enable1600
// changes: a call allocates nothing once the first one succeeded.
class FftCalc {
 public:
  // Asked before each work buffer is allocated, with the buffer's name; false makes that
  // allocation fail as if memory had run out. Only tests pass one.
  using AllocationCheck = std::function<bool(std::string_view buffer)>;

  FftCalc();
  explicit FftCalc(AllocationCheck check);
  ~FftCalc();
  FftCalc(const FftCalc&) = delete;
  FftCalc& operator=(const FftCalc&) = delete;

  // samples: kIqValues floats, I at even and Q at odd indexes, of which the first 2048
  // or 4096 pairs are used; values past the span's end count as 0. Returns the 854 or
  // 1706 bytes for the client, valid until the next call; empty when a work buffer could
  // not be allocated (failedBuffer() names it, and the next call tries again).
  std::span<const uint8_t> fftCalc(std::span<const float> samples, char enable1600);

  // "fftr", "ffti", "fftout", "fftoutdec", "co", "si" or "coeff" after a failed
  // allocation (the caller logs "error allocating %s buffer"); nullptr otherwise.
  const char* failedBuffer() const { return failedBuffer_; }
  // How many times the window and twiddle tables were computed.
  int tableBuilds() const { return tableBuilds_; }

 private:
  bool allocate();
  void buildTables(size_t n);

  AllocationCheck check_;
  std::unique_ptr<double[]> fftr_;        // real parts, 4096
  std::unique_ptr<double[]> ffti_;        // imaginary parts, 4096
  std::unique_ptr<uint8_t[]> fftout_;     // the shifted bytes of the points sent, 4096
  std::unique_ptr<uint8_t[]> fftoutdec_;  // the client's bytes, 1706
  std::unique_ptr<double[]> co_;          // twiddle cosines, 2048
  std::unique_ptr<double[]> si_;          // twiddle sines, 2048
  std::unique_ptr<double[]> coeff_;       // window, 4096
  const char* failedBuffer_ = nullptr;
  // The enable1600 the tables were computed for, as an unsigned char; no char has the
  // starting value, so the first call always computes them.
  int oldEnable1600_ = 0x100;
  size_t points_ = 0;
  int tableBuilds_ = 0;
};

}  // namespace corvid
