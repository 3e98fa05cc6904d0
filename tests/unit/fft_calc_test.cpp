// The USB capture's FFT: every byte against a direct DFT in long double over the same
// window, the points and levels of known tones, the floor, the window's first
// coefficient, samples that are no numbers, the tables' rebuilds on enable1600 and the
// work buffers' allocation failures.
#include "scope/fft_calc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace corvid {
namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<float>;

constexpr char kNarrow = '0';  // enable1600 of 2048 points
constexpr char kWide = '1';    // 4096

size_t pointsOf(char enable1600) {
  return enable1600 == '0' ? kFftNarrowPoints : kFftWidePoints;
}
size_t firstOf(size_t n) {
  return n == kFftNarrowPoints ? kUsbSpectrumFirstNarrow : kUsbSpectrumFirstWide;
}
size_t countOf(size_t n) {
  return n == kFftNarrowPoints ? kUsbSpectrumNarrow : kUsbSpectrumWide;
}

// The bin shown at a client point: the shifted spectrum puts bin N/2 first and DC in
// the middle.
size_t binOfPoint(size_t n, size_t point) {
  const size_t shifted = firstOf(n) + 2 * point;
  return shifted < n / 2 ? shifted + n / 2 : shifted - n / 2;
}

Bytes run(FftCalc& fft, const Samples& samples, char enable1600) {
  const std::span<const uint8_t> out = fft.fftCalc(samples, enable1600);
  return {out.begin(), out.end()};
}

Bytes runOnce(const Samples& samples, char enable1600) {
  FftCalc fft;
  return run(fft, samples, enable1600);
}

// ---- the reference ----

// One client point of the reference: its byte, and whether the level lies so close to a
// whole dB that the transform's own rounding may put it on the other side.
struct ReferencePoint {
  uint8_t byte;
  bool nearStep;
};

// A direct DFT in long double of the first n pairs, windowed by the 4-term Blackman-Harris
// window computed here from its formula (first coefficient 0), for the bins the client
// is sent; then the level in whole dB truncated toward zero, limited to -192..50.
//
// The transform under test runs in double: its error on a bin is a few rounding units
// of the samples' windowed magnitude sum per stage, plus the twiddles' recurrence, which
// drifts by about one rounding unit per step (2048 steps at most). The reference's own
// error is below n rounding units of long double (which is only double on some
// targets). A level within that error of a whole dB may honestly fall either way:
// there, and only there, a byte one off is rounding, not a fault.
std::vector<ReferencePoint> reference(const Samples& samples, size_t n) {
  using Real = long double;
  const Real pi = std::numbers::pi_v<long double>;
  std::vector<Real> w(n, 0.0L);
  for (size_t i = 1; i < n; ++i) {
    const Real x = static_cast<Real>(i) / static_cast<Real>(n - 1);
    w[i] = 0.35875L - 0.48829L * std::cos(2 * pi * x) + 0.14128L * std::cos(4 * pi * x) -
           0.01168L * std::cos(6 * pi * x);
  }
  std::vector<Real> xr(n), xi(n);
  Real sumAbs = 0;
  for (size_t i = 0; i < n; ++i) {
    xr[i] = static_cast<Real>(samples[2 * i]) * w[i];
    xi[i] = static_cast<Real>(samples[2 * i + 1]) * w[i];
    sumAbs += std::fabs(xr[i]) + std::fabs(xi[i]);
  }
  std::vector<Real> cosTable(n), sinTable(n);
  for (size_t m = 0; m < n; ++m) {
    const Real angle = 2 * pi * static_cast<Real>(m) / static_cast<Real>(n);
    cosTable[m] = std::cos(angle);
    sinTable[m] = std::sin(angle);
  }
  const Real half = static_cast<Real>(n) / 2;
  const Real oursError = 1e-11L;  // ~20 times the recurrence's drift
  const Real referenceError = static_cast<Real>(n) * 4 * std::numeric_limits<Real>::epsilon();
  const Real absError = (oursError + referenceError) * sumAbs / half;

  std::vector<ReferencePoint> points(countOf(n));
  for (size_t p = 0; p < points.size(); ++p) {
    const size_t k = binOfPoint(n, p);
    Real sr = 0, si = 0;
    for (size_t i = 0, m = 0; i < n; ++i, m = (m + k) % n) {  // e^(-j 2 pi i k / n)
      sr += xr[i] * cosTable[m] + xi[i] * sinTable[m];
      si += xi[i] * cosTable[m] - xr[i] * sinTable[m];
    }
    const Real mag = std::sqrt(sr * sr + si * si) / half;
    if (!(mag > 0)) {
      points[p] = {0, false};
      continue;
    }
    const Real db = 20 * std::log10(mag);
    const Real limited = std::clamp(db, Real{-192}, Real{50});
    const int level = static_cast<int>(std::trunc(limited));
    const Real dbError = 20 / std::numbers::ln10_v<long double> * absError / mag;
    const bool inSteps = db > -193 && db < 51;
    points[p] = {static_cast<uint8_t>(level + 192),
                 inSteps && std::fabs(db - std::round(db)) <= dbError};
  }
  return points;
}

// ---- the signals ----

Samples silence() {
  return Samples(kIqValues, 0.0f);
}

// A complex tone of `bin` bins (fractions between bins), I the cosine and Q the sine,
// over the first n pairs.
Samples tone(size_t n, double bin, double amplitude, double phase = 0.3) {
  Samples s = silence();
  for (size_t i = 0; i < n; ++i) {
    const double a =
        2 * std::numbers::pi * bin * static_cast<double>(i) / static_cast<double>(n) + phase;
    s[2 * i] = static_cast<float>(amplitude * std::cos(a));
    s[2 * i + 1] = static_cast<float>(amplitude * std::sin(a));
  }
  return s;
}

Samples dc(float i, float q) {
  Samples s = silence();
  for (size_t k = 0; k < kIqValues; k += 2) {
    s[k] = i;
    s[k + 1] = q;
  }
  return s;
}

Samples noise(double sigma, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> normal(0.0, sigma);
  Samples s(kIqValues);
  for (float& v : s) v = static_cast<float>(normal(gen));
  return s;
}

Samples impulse(size_t pair, float value) {
  Samples s = silence();
  s[2 * pair] = value;
  return s;
}

Samples plus(Samples a, const Samples& b) {
  for (size_t k = 0; k < a.size(); ++k) a[k] += b[k];
  return a;
}

// ---- the cases ----

TEST(FftCalcReference, EveryByteEqualsTheDirectDft) {
  struct Case {
    const char* name;
    std::function<Samples(size_t n)> signal;
    bool clips = false;  // some level above +50 dB
  };
  const Case cases[] = {
      {"tone on a bin", [](size_t n) { return tone(n, n == 2048 ? 200 : 401, 1.0); }},
      {"weak tone on a negative bin", [](size_t n) { return tone(n, -300, 1e-3); }},
      {"tone between bins", [](size_t n) { return tone(n, -123.5, 30.0); }},
      {"tone a third off a bin", [](size_t n) { return tone(n, 57.33, 250.0, 1.1); }},
      {"full scale, clipping at +50 dB", [](size_t n) { return tone(n, 10, 1000.0); }, true},
      {"DC", [](size_t) { return dc(200.0f, -50.0f); }},
      {"noise", [](size_t) { return noise(100.0, 7); }},
      {"two tones in noise",
       [](size_t n) {
         return plus(plus(tone(n, 31, 300.0), tone(n, -400.25, 0.5)), noise(0.01, 3));
       }},
      {"impulse on the first sample", [](size_t) { return impulse(0, 1e6f); }},
      {"impulse on the second sample", [](size_t) { return impulse(1, 1e6f); }},
      {"impulse in the middle", [](size_t n) { return impulse(n / 2 - 7, 3.0f); }},
  };
  for (const char enable1600 : {kNarrow, kWide}) {
    const size_t n = pointsOf(enable1600);
    FftCalc fft;  // one for all the signals: nothing is left over from a transfer
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(n));
      const Samples samples = c.signal(n);
      const Bytes got = run(fft, samples, enable1600);
      const std::vector<ReferencePoint> want = reference(samples, n);
      ASSERT_EQ(got.size(), want.size());
      size_t nearSteps = 0;
      for (size_t p = 0; p < got.size(); ++p) {
        if (got[p] == want[p].byte) continue;
        const int diff = got[p] - want[p].byte;
        EXPECT_TRUE(want[p].nearStep && (diff == 1 || diff == -1))
            << "point " << p << " (bin " << binOfPoint(n, p) << "): " << int{got[p]} << ", want "
            << int{want[p].byte};
        ++nearSteps;
      }
      // Rounding moves a level across a whole dB only now and then.
      EXPECT_LE(nearSteps, 2u);
      EXPECT_EQ(std::find(got.begin(), got.end(), uint8_t{242}) != got.end(), c.clips);
    }
  }
}

// The transform does its butterflies two stages a pass and two pairs at a time; each must
// still be the stage-by-stage radix-2 butterfly, operation for operation: every value
// equal to the bit, whatever the data and the twiddles.
TEST(FftCalcTransform, EqualsTheStageByStageRadix2ToTheBit) {
  for (const size_t n :
       {size_t{8}, size_t{16}, size_t{32}, size_t{64}, kFftNarrowPoints, kFftWidePoints}) {
    SCOPED_TRACE(n);
    std::mt19937 gen(static_cast<unsigned>(n));
    std::normal_distribution<double> normal(0.0, 1e3);
    std::vector<double> re(n), im(n), co(n / 2), si(n / 2);
    for (size_t j = 0; j < n; ++j) {
      re[j] = normal(gen);
      im[j] = j % 5 == 3 ? 0.0 : normal(gen);
    }
    for (size_t k = 0; k < n / 2; ++k) {
      const double a = -2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
      co[k] = std::cos(a);
      si[k] = std::sin(a);
    }
    std::vector<double> wantRe = re, wantIm = im;
    for (size_t groups = 1, e = n / 2; e >= 1; e /= 2, groups *= 2) {
      for (size_t g = 0; g < groups; ++g) {
        for (size_t l = 0; l < e; ++l) {
          const size_t a = g * 2 * e + l, b = a + e, t = l * groups;
          const double dr = wantRe[a] - wantRe[b], di = wantIm[a] - wantIm[b];
          wantRe[a] = wantRe[a] + wantRe[b];
          wantIm[a] = wantIm[a] + wantIm[b];
          wantRe[b] = dr * co[t] - di * si[t];
          wantIm[b] = dr * si[t] + di * co[t];
        }
      }
    }
    fftTransform(re, im, co, si);
    for (size_t j = 0; j < n; ++j) {
      ASSERT_EQ(std::bit_cast<uint64_t>(re[j]), std::bit_cast<uint64_t>(wantRe[j])) << j;
      ASSERT_EQ(std::bit_cast<uint64_t>(im[j]), std::bit_cast<uint64_t>(wantIm[j])) << j;
    }
  }
}

// Levels worked out by hand: an on-bin tone of amplitude A gives 0.7175 A (n-1)/n, the
// window's sum over n/2; DC the same. Its point is (bin + n/2 - first) / 2.
TEST(FftCalcReference, KnownTonesAtTheirPointsAndLevels) {
  struct Case {
    char enable1600;
    double bin;
    double amplitude;
    size_t point;
    uint8_t byte;
  };
  const Case cases[] = {
      {kNarrow, 200, 1.0, 527, 190},    // -2.88 dB
      {kNarrow, -300, 10.0, 277, 209},  // 17.12 dB
      {kNarrow, 0, 1000.0, 427, 242},   // 57.1 dB, limited to +50
      {kNarrow, -854, 1.0, 0, 190},     // the lowest point sent
      {kNarrow, 852, 0.01, 853, 150},   // the highest; -42.88 dB
      {kWide, 401, 1.0, 1054, 190},     //
      {kWide, -601, 100.0, 553, 229},   // 37.12 dB
      {kWide, -1707, 1.0, 0, 190},      //
      {kWide, 1703, 1e-6, 1705, 70},    // -122.88 dB
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bin) + " bins of " + c.enable1600);
    const size_t n = pointsOf(c.enable1600);
    const Bytes got = runOnce(tone(n, c.bin, c.amplitude), c.enable1600);
    ASSERT_EQ(got.size(), countOf(n));
    EXPECT_EQ(got[c.point], c.byte);
    EXPECT_EQ(std::max_element(got.begin(), got.end()) - got.begin(),
              static_cast<std::ptrdiff_t>(c.point));
  }
}

TEST(FftCalc, SilenceAndShortTransfersAreTheFloor) {
  struct Case {
    const char* name;
    Samples samples;
    char enable1600;
    size_t count;
  };
  const Case cases[] = {
      {"silence at 2048", silence(), kNarrow, kUsbSpectrumNarrow},
      {"silence at 4096", silence(), kWide, kUsbSpectrumWide},
      {"any other enable1600 is 4096", silence(), 'x', kUsbSpectrumWide},
      {"an empty transfer", {}, kNarrow, kUsbSpectrumNarrow},
      // The window's first coefficient is 0, not the formula's 0.00006.
      {"only the first sample", impulse(0, 1e6f), kWide, kUsbSpectrumWide},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(runOnce(c.samples, c.enable1600), Bytes(c.count, 0));
  }
}

TEST(FftCalc, SamplesPastThoseUsedChangeNothing) {
  for (const char enable1600 : {kNarrow, kWide}) {
    const size_t n = pointsOf(enable1600);
    const Samples clean = tone(n, 33, 5.0);
    Samples shortened(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(2 * n - 1));
    Samples tail = clean;
    for (size_t k = 2 * n; k < tail.size(); ++k) tail[k] = std::numeric_limits<float>::quiet_NaN();
    const Bytes want = runOnce(clean, enable1600);
    // The missing last Q counts as 0: only the first of the pairs changes.
    Samples lastQZero = clean;
    lastQZero[2 * n - 1] = 0;
    EXPECT_EQ(runOnce(shortened, enable1600), runOnce(lastQZero, enable1600)) << n;
    EXPECT_EQ(runOnce(tail, enable1600), want) << n;
  }
}

// A NaN or an infinity reaches every bin through the butterflies; the whole line shows as
// the floor. (This test runs under -fsanitize=undefined in the sanitizer build: no
// conversion of a non-finite level to an integer.)
TEST(FftCalc, SamplesThatAreNoNumbersGiveTheFloor) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    size_t index;
    float value;
  };
  const Case cases[] = {
      {"NaN in an I", 10, kNaN},
      {"+inf in a Q", 201, kInf},
      {"-inf on the first sample, whose window is 0", 0, -kInf},
      {"NaN in the last pair used at 2048", 4095, kNaN},
  };
  for (const char enable1600 : {kNarrow, kWide}) {
    const size_t n = pointsOf(enable1600);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(n));
      Samples s = tone(n, 100, 1000.0);
      s[c.index] = c.value;
      EXPECT_EQ(runOnce(s, enable1600), Bytes(countOf(n), 0));
    }
  }
  // The largest floats are numbers: far above the ceiling, not past double's range.
  // At 4096 points DC itself is not sent; point 853 is the bin beside it.
  const Bytes huge = runOnce(dc(std::numeric_limits<float>::max(), -3e38f), kWide);
  ASSERT_EQ(binOfPoint(kFftWidePoints, 853), kFftWidePoints - 1);
  EXPECT_EQ(huge[853], 242);
}

TEST(FftCalc, TheTablesFollowEnable1600) {
  struct Step {
    char enable1600;
    size_t count;
    int builds;
  };
  const Step steps[] = {
      {'\0', kUsbSpectrumWide, 1},       // the first call builds, whatever the value
      {kNarrow, kUsbSpectrumNarrow, 2},  //
      {kNarrow, kUsbSpectrumNarrow, 2},  // the same value: no build
      {kWide, kUsbSpectrumWide, 3},      // 4096
      {kWide, kUsbSpectrumWide, 3},      //
      {kNarrow, kUsbSpectrumNarrow, 4},  // and back
      {'x', kUsbSpectrumWide, 5},        // another 4096 character is still another value
      {kWide, kUsbSpectrumWide, 6},      //
  };
  const Samples s = plus(tone(4096, 301, 40.0), noise(0.1, 11));
  FftCalc fft;
  EXPECT_EQ(fft.tableBuilds(), 0);
  for (const Step& step : steps) {
    SCOPED_TRACE("enable1600 " + std::to_string(int{step.enable1600}) + ", build " +
                 std::to_string(step.builds));
    const Bytes got = run(fft, s, step.enable1600);
    EXPECT_EQ(got.size(), step.count);
    EXPECT_EQ(fft.tableBuilds(), step.builds);
    // Exactly what a new calculator makes: the tables are those of this size.
    EXPECT_EQ(got, runOnce(s, step.enable1600));
  }
}

TEST(FftCalc, AFailedAllocationIsNamedAndTriedAgain) {
  const char* const names[] = {"fftr", "ffti", "fftout", "fftoutdec", "co", "si", "coeff"};
  const Samples s = tone(2048, 200, 1.0);
  const Bytes want = runOnce(s, kNarrow);
  for (const char* name : names) {
    SCOPED_TRACE(name);
    bool refuse = true;
    std::vector<std::string> asked;
    FftCalc fft([&](std::string_view buffer) {
      asked.emplace_back(buffer);
      return !(refuse && buffer == name);
    });
    EXPECT_TRUE(fft.fftCalc(s, kNarrow).empty());
    ASSERT_NE(fft.failedBuffer(), nullptr);
    EXPECT_STREQ(fft.failedBuffer(), name);
    EXPECT_EQ(fft.tableBuilds(), 0);
    EXPECT_EQ(asked.back(), name);  // nothing after the failed one
    refuse = false;
    asked.clear();
    EXPECT_EQ(run(fft, s, kNarrow), want);
    EXPECT_EQ(fft.failedBuffer(), nullptr);
    EXPECT_EQ(fft.tableBuilds(), 1);
    // Only the missing buffers were allocated, and none at the call after.
    EXPECT_EQ(asked.front(), name);
    asked.clear();
    run(fft, s, kNarrow);
    EXPECT_TRUE(asked.empty());
  }
}

}  // namespace
}  // namespace corvid
