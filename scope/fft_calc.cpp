// The USB capture's FFT: window, radix-2 decimation-in-frequency transform, bit
// reversal, whole-dB levels, shift and decimation. The file is compiled without
// floating-point contraction (scope/CMakeLists.txt): a fused multiply-add would
// round differently and change bytes on the targets that have one.
#include "scope/fft_calc.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>
#include <utility>

namespace corvid {
namespace {

constexpr size_t kMaxPoints = kFftWidePoints;

// One work buffer, allocated without throwing; nullptr when memory ran out or the check
// refused it.
template <typename T>
bool allocateBuffer(std::unique_ptr<T[]>& buffer, size_t count, std::string_view name,
                    const FftCalc::AllocationCheck& check) {
  if (buffer) return true;
  if (check && !check(name)) return false;
  buffer.reset(new (std::nothrow) T[count]());
  return buffer != nullptr;
}

// 20 log10(m) truncated toward zero and limited to -192..50, as the byte level + 192.
// A magnitude of 0 is the floor. So is one that is not a finite number: a NaN or an
// infinity in the samples spreads to every bin through the butterflies, and such a
// transfer shows as silence rather than as a full-scale line.
uint8_t levelByte(double m) {
  if (!(m > 0) || !std::isfinite(m)) return 0;
  const double db = 20.0 * std::log10(m);  // finite: m is a positive finite double
  const double limited =
      std::clamp(db, static_cast<double>(kFftFloorDb), static_cast<double>(kFftCeilingDb));
  return static_cast<uint8_t>(static_cast<int>(limited) - kFftFloorDb);
}

// Two doubles side by side, for two neighbouring butterflies at once. The compiler puts a
// pair in one SIMD register where the target has them for doubles (SSE2) and in two
// scalar registers elsewhere (ARMv7's VFP); each lane does the operations of the scalar
// butterfly in the same order, so the results are the same to the bit.
using Vec2 = double __attribute__((vector_size(2 * sizeof(double))));

Vec2 load(const double* p) {
  Vec2 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void store(double* p, Vec2 v) {
  std::memcpy(p, &v, sizeof v);
}
Vec2 evens(Vec2 a, Vec2 b) {
  return __builtin_shufflevector(a, b, 0, 2);
}
Vec2 odds(Vec2 a, Vec2 b) {
  return __builtin_shufflevector(a, b, 1, 3);
}

// a <- a + b, b <- (a - b) (c + j s), for two butterflies at once.
void butterfly(Vec2& ar, Vec2& ai, Vec2& br, Vec2& bi, Vec2 c, Vec2 s) {
  const Vec2 dr = ar - br;
  const Vec2 di = ai - bi;
  ar = ar + br;
  ai = ai + bi;
  br = dr * c - di * s;
  bi = dr * s + di * c;
}

// fftTransform's work, n a power of two from 8. Every butterfly is computed as stated,
// stage after stage; only the order in which the independent butterflies of a stage run
// differs. Two stages are done in one pass over the data: the four points that a group
// of the first stage and its two halves in the next one combine are loaded once, which
// halves the memory traffic. The last pass does the last two stages, or three when the
// count of stages is odd (2048 points: 11).
void transform(double* re, double* im, const double* co, const double* si, size_t n) {
  const size_t quarterTurn = n / 4;  // twiddle index of -j
  const bool lastThree = std::countr_zero(n) % 2 != 0;
  size_t groups = 1;
  size_t e = n / 2;
  // Stages s and s + 1: the l-th pair of a group and the pair q = e / 2 further on, with
  // twiddles l 2^s and (l + q) 2^s = l 2^s + n / 4; then each half's l-th pair, with
  // twiddle l 2^(s+1). Two neighbouring l at a time.
  for (; e > (lastThree ? 4 : 2); e /= 4, groups *= 4) {
    const size_t q = e / 2;
    for (size_t g = 0; g < groups; ++g) {
      double* r = re + g * 2 * e;
      double* i = im + g * 2 * e;
      for (size_t l = 0; l < q; l += 2) {
        Vec2 r0 = load(r + l), r1 = load(r + l + q), r2 = load(r + l + e), r3 = load(r + l + e + q);
        Vec2 i0 = load(i + l), i1 = load(i + l + q), i2 = load(i + l + e), i3 = load(i + l + e + q);
        const size_t t = l * groups;
        const size_t u = t + groups;  // the next l's
        const Vec2 c1 = {co[t], co[u]}, s1 = {si[t], si[u]};
        const Vec2 c2 = {co[t + quarterTurn], co[u + quarterTurn]};
        const Vec2 s2 = {si[t + quarterTurn], si[u + quarterTurn]};
        const Vec2 c3 = {co[2 * t], co[2 * u]}, s3 = {si[2 * t], si[2 * u]};
        butterfly(r0, i0, r2, i2, c1, s1);
        butterfly(r1, i1, r3, i3, c2, s2);
        butterfly(r0, i0, r1, i1, c3, s3);
        butterfly(r2, i2, r3, i3, c3, s3);
        store(r + l, r0);
        store(r + l + q, r1);
        store(r + l + e, r2);
        store(r + l + e + q, r3);
        store(i + l, i0);
        store(i + l + q, i1);
        store(i + l + e, i2);
        store(i + l + e + q, i3);
      }
    }
  }
  // The last pass, eight points at a time. With three stages left, the eight are one
  // group of span 4 (twiddles 0, n/8, n/4 and 3n/8) first. Then, for span 2 and 1, two
  // groups of four: their points are brought into lanes by group (twiddles 0 and n/4,
  // then 0) and back.
  const size_t eighthTurn = n / 8;
  const Vec2 c01 = {co[0], co[eighthTurn]}, s01 = {si[0], si[eighthTurn]};
  const Vec2 c23 = {co[2 * eighthTurn], co[3 * eighthTurn]};
  const Vec2 s23 = {si[2 * eighthTurn], si[3 * eighthTurn]};
  const Vec2 c0 = {co[0], co[0]}, s0 = {si[0], si[0]};
  const Vec2 cq = {co[quarterTurn], co[quarterTurn]}, sq = {si[quarterTurn], si[quarterTurn]};
  for (size_t g = 0; g < n; g += 8) {
    double* r = re + g;
    double* i = im + g;
    Vec2 ra = load(r), rb = load(r + 2), rc = load(r + 4), rd = load(r + 6);
    Vec2 ia = load(i), ib = load(i + 2), ic = load(i + 4), id = load(i + 6);
    if (lastThree) {
      butterfly(ra, ia, rc, ic, c01, s01);
      butterfly(rb, ib, rd, id, c23, s23);
    }
    Vec2 r0 = evens(ra, rc), r1 = odds(ra, rc), r2 = evens(rb, rd), r3 = odds(rb, rd);
    Vec2 i0 = evens(ia, ic), i1 = odds(ia, ic), i2 = evens(ib, id), i3 = odds(ib, id);
    butterfly(r0, i0, r2, i2, c0, s0);
    butterfly(r1, i1, r3, i3, cq, sq);
    butterfly(r0, i0, r1, i1, c0, s0);
    butterfly(r2, i2, r3, i3, c0, s0);
    store(r, evens(r0, r1));
    store(r + 2, evens(r2, r3));
    store(r + 4, odds(r0, r1));
    store(r + 6, odds(r2, r3));
    store(i, evens(i0, i1));
    store(i + 2, evens(i2, i3));
    store(i + 4, odds(i0, i1));
    store(i + 6, odds(i2, i3));
  }
}

// The bits of every byte in reverse order.
constexpr std::array<uint8_t, 256> kReversedBytes = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned b = 0; b < 256; ++b) {
    unsigned r = 0;
    for (unsigned k = 0; k < 8; ++k) r |= ((b >> k) & 1u) << (7 - k);
    t[b] = static_cast<uint8_t>(r);
  }
  return t;
}();

// Where the transform leaves bin j of a transform of 2^bits points (bits up to 16).
size_t bitReversed(size_t j, int bits) {
  const unsigned reversed16 =
      (static_cast<unsigned>(kReversedBytes[j & 0xFF]) << 8) | kReversedBytes[(j >> 8) & 0xFF];
  return reversed16 >> (16 - bits);
}

}  // namespace

void fftTransform(std::span<double> re, std::span<double> im, std::span<const double> co,
                  std::span<const double> si) {
  const size_t n = re.size();
  if (n < 8 || n > kFftWidePoints || !std::has_single_bit(n)) return;
  if (im.size() != n || co.size() < n / 2 || si.size() < n / 2) return;
  transform(re.data(), im.data(), co.data(), si.data(), n);
}

FftCalc::FftCalc() = default;
FftCalc::FftCalc(AllocationCheck check) : check_(std::move(check)) {}
FftCalc::~FftCalc() = default;

bool FftCalc::allocate() {
  const auto failed = [this](const char* name) {
    failedBuffer_ = name;
    return false;
  };
  if (!allocateBuffer(fftr_, kMaxPoints, "fftr", check_)) return failed("fftr");
  if (!allocateBuffer(ffti_, kMaxPoints, "ffti", check_)) return failed("ffti");
  if (!allocateBuffer(fftout_, kMaxPoints, "fftout", check_)) return failed("fftout");
  if (!allocateBuffer(fftoutdec_, kUsbSpectrumWide, "fftoutdec", check_)) {
    return failed("fftoutdec");
  }
  if (!allocateBuffer(co_, kMaxPoints / 2, "co", check_)) return failed("co");
  if (!allocateBuffer(si_, kMaxPoints / 2, "si", check_)) return failed("si");
  if (!allocateBuffer(coeff_, kMaxPoints, "coeff", check_)) return failed("coeff");
  failedBuffer_ = nullptr;
  return true;
}

void FftCalc::buildTables(size_t n) {
  constexpr double kPi = std::numbers::pi;
  // 4-term Blackman-Harris over n - 1 intervals. The first coefficient is 0, not the
  // formula's 0.00006.
  const double last = static_cast<double>(n - 1);
  coeff_[0] = 0;
  for (size_t i = 1; i < n; ++i) {
    const double x = static_cast<double>(i);
    coeff_[i] = 0.35875 - 0.48829 * std::cos(2.0 * kPi * x / last) +
                0.14128 * std::cos(4.0 * kPi * x / last) - 0.01168 * std::cos(6.0 * kPi * x / last);
  }
  // co[k] + j si[k] = e^(-j k theta), each from the previous one by one rotation.
  const double theta = 2.0 * kPi / static_cast<double>(n);
  const double cosTheta = std::cos(theta);
  const double sinTheta = std::sin(theta);
  co_[0] = 1;
  si_[0] = 0;
  for (size_t k = 1; k < n / 2; ++k) {
    co_[k] = co_[k - 1] * cosTheta + si_[k - 1] * sinTheta;
    si_[k] = si_[k - 1] * cosTheta - co_[k - 1] * sinTheta;
  }
  points_ = n;
  ++tableBuilds_;
}

std::span<const uint8_t> FftCalc::fftCalc(std::span<const float> samples, char enable1600) {
  if (!allocate()) return {};
  const int setting = static_cast<unsigned char>(enable1600);
  if (setting != oldEnable1600_) {
    oldEnable1600_ = setting;
    buildTables(enable1600 == '0' ? kFftNarrowPoints : kFftWidePoints);
  }
  const size_t n = points_;
  const size_t half = n / 2;

  double* re = fftr_.get();
  double* im = ffti_.get();
  const size_t pairs = std::min(samples.size() / 2, n);
  for (size_t j = 0; j < pairs; ++j) {
    re[j] = static_cast<double>(samples[2 * j]) * coeff_[j];
    im[j] = static_cast<double>(samples[2 * j + 1]) * coeff_[j];
  }
  for (size_t j = pairs; j < n; ++j) {  // past a short transfer's end
    const double i = 2 * j < samples.size() ? static_cast<double>(samples[2 * j]) : 0.0;
    re[j] = i * coeff_[j];
    im[j] = 0;
  }
  transform(re, im, co_.get(), si_.get(), n);

  // The levels, at the shifted positions (negative frequencies first, DC in the middle),
  // of the points sent only: the logarithm is most of a call's time. The bit-reversal
  // permutation is a read through the reversed index.
  const bool narrow = n == kFftNarrowPoints;
  const size_t first = narrow ? kUsbSpectrumFirstNarrow : kUsbSpectrumFirstWide;
  const size_t count = narrow ? kUsbSpectrumNarrow : kUsbSpectrumWide;
  const int bits = std::countr_zero(n);
  const double scale = static_cast<double>(half);
  for (size_t k = 0; k < count; ++k) {
    const size_t shifted = first + 2 * k;
    const size_t bin = shifted < half ? shifted + half : shifted - half;
    const size_t at = bitReversed(bin, bits);
    const double r = re[at] / scale;
    const double q = im[at] / scale;
    fftout_[shifted] = levelByte(std::sqrt(r * r + q * q));
  }
  for (size_t k = 0; k < count; ++k) fftoutdec_[k] = fftout_[first + 2 * k];
  return {fftoutdec_.get(), count};
}

}  // namespace corvid
