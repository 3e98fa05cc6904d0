// The USB capture's FFT against FFTW (not a test: run corvid-fft-benchmark and read the
// numbers). At 2048 and 4096 points:
//   fftCalc         one whole call: window, transform, levels, decimation
//   fftw+levels     the same call done with FFTW: the window, FFTW's transform and the
//                   same levels, shift and decimation, written here
//   transform       our transform alone (fftTransform) on the windowed transfer, the
//                   copy of the transfer into the work arrays included
//   fftw            FFTW's transform alone of the same windowed transfer (complex
//                   double, out of place, FFTW_MEASURE), with its SIMD codelets
//   fftw-nosimd     the same without SIMD (FFTW_NO_SIMD): the unit's ARMv7 has no
//                   double-precision SIMD, so this is the yardstick that carries over
// A table at the end gives the ratios. fftw+levels counts the points whose byte differs
// from fftCalc's: FFTW rounds differently, and a level next to a whole dB can fall the
// other way.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "scope/fft_calc.h"

namespace {

using namespace corvid;

char enable1600Of(size_t n) {
  return n == kFftNarrowPoints ? '0' : '1';
}

// A transfer like the receiver's: a few carriers in noise.
std::vector<float> transfer() {
  std::mt19937 gen(5);
  std::normal_distribution<double> normal(0.0, 3.0);
  std::vector<float> s(kIqValues);
  for (size_t i = 0; i < kIqValues / 2; ++i) {
    const double t = static_cast<double>(i);
    const double a1 = 2 * std::numbers::pi * 0.0371 * t;
    const double a2 = -2 * std::numbers::pi * 0.2113 * t;
    s[2 * i] = static_cast<float>(800 * std::cos(a1) + 20 * std::cos(a2) + normal(gen));
    s[2 * i + 1] = static_cast<float>(800 * std::sin(a1) + 20 * std::sin(a2) + normal(gen));
  }
  return s;
}

// FFTW's arrays and plan for one size, with the window fftCalc uses.
struct Fftw {
  explicit Fftw(size_t points, unsigned flags = FFTW_MEASURE) : n(points), window(points) {
    in = fftw_alloc_complex(n);
    out = fftw_alloc_complex(n);
    plan = fftw_plan_dft_1d(static_cast<int>(n), in, out, FFTW_FORWARD, flags);
    window[0] = 0;
    const double last = static_cast<double>(n - 1);
    for (size_t i = 1; i < n; ++i) {
      const double x = static_cast<double>(i);
      window[i] = 0.35875 - 0.48829 * std::cos(2.0 * std::numbers::pi * x / last) +
                  0.14128 * std::cos(4.0 * std::numbers::pi * x / last) -
                  0.01168 * std::cos(6.0 * std::numbers::pi * x / last);
    }
  }
  ~Fftw() {
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
  }
  Fftw(const Fftw&) = delete;
  Fftw& operator=(const Fftw&) = delete;

  void windowed(const std::vector<float>& s) {
    for (size_t j = 0; j < n; ++j) {
      in[j][0] = static_cast<double>(s[2 * j]) * window[j];
      in[j][1] = static_cast<double>(s[2 * j + 1]) * window[j];
    }
  }
  // fftCalc's levels, shift and decimation on FFTW's bins: the levels of the points sent
  // only, at their shifted positions, then every other one of those.
  void levels() {
    const size_t half = n / 2;
    const bool narrow = n == kFftNarrowPoints;
    const size_t first = narrow ? kUsbSpectrumFirstNarrow : kUsbSpectrumFirstWide;
    const size_t count = narrow ? kUsbSpectrumNarrow : kUsbSpectrumWide;
    const double scale = static_cast<double>(half);
    for (size_t k = 0; k < count; ++k) {
      const size_t p = first + 2 * k;
      const size_t bin = p < half ? p + half : p - half;
      const double r = out[bin][0] / scale;
      const double q = out[bin][1] / scale;
      const double m = std::sqrt(r * r + q * q);
      uint8_t byte = 0;
      if (m > 0 && std::isfinite(m)) {
        const double db = std::clamp(20.0 * std::log10(m), -192.0, 50.0);
        byte = static_cast<uint8_t>(static_cast<int>(db) + 192);
      }
      shifted[p] = byte;
    }
    decimated.resize(count);
    for (size_t k = 0; k < count; ++k) decimated[k] = shifted[first + 2 * k];
  }

  size_t n;
  std::vector<double> window;
  fftw_complex* in;
  fftw_complex* out;
  fftw_plan plan;
  std::vector<uint8_t> shifted = std::vector<uint8_t>(kFftWidePoints);
  std::vector<uint8_t> decimated;
};

void BM_fftCalc(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const std::vector<float> s = transfer();
  FftCalc fft;
  if (fft.fftCalc(s, enable1600Of(n)).empty()) state.SkipWithError("no buffers");
  for (auto _ : state) {
    const std::span<const uint8_t> out = fft.fftCalc(s, enable1600Of(n));
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (fft.tableBuilds() != 1) state.SkipWithError("the tables were built again");
}
BENCHMARK(BM_fftCalc)->Name("fftCalc")->Arg(2048)->Arg(4096)->Unit(benchmark::kNanosecond);

void BM_transform(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  Fftw windowed(n);
  windowed.windowed(transfer());
  std::vector<double> re0(n), im0(n), re(n), im(n), co(n / 2), si(n / 2);
  for (size_t j = 0; j < n; ++j) {
    re0[j] = windowed.in[j][0];
    im0[j] = windowed.in[j][1];
  }
  for (size_t k = 0; k < n / 2; ++k) {
    const double a = -2 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
    co[k] = std::cos(a);
    si[k] = std::sin(a);
  }
  for (auto _ : state) {
    std::copy(re0.begin(), re0.end(), re.begin());
    std::copy(im0.begin(), im0.end(), im.begin());
    fftTransform(re, im, co, si);
    benchmark::DoNotOptimize(re.data());
    benchmark::DoNotOptimize(im.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_transform)->Name("transform")->Arg(2048)->Arg(4096)->Unit(benchmark::kNanosecond);

void BM_fftw(benchmark::State& state, unsigned flags) {
  const size_t n = static_cast<size_t>(state.range(0));
  Fftw fftw(n, flags);
  fftw.windowed(transfer());
  for (auto _ : state) {
    fftw_execute(fftw.plan);
    benchmark::DoNotOptimize(fftw.out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK_CAPTURE(BM_fftw, simd, FFTW_MEASURE)
    ->Name("fftw")
    ->Arg(2048)
    ->Arg(4096)
    ->Unit(benchmark::kNanosecond);
BENCHMARK_CAPTURE(BM_fftw, nosimd, FFTW_MEASURE | FFTW_NO_SIMD)
    ->Name("fftw-nosimd")
    ->Arg(2048)
    ->Arg(4096)
    ->Unit(benchmark::kNanosecond);

void BM_fftwLevels(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  const std::vector<float> s = transfer();
  Fftw fftw(n);
  for (auto _ : state) {
    fftw.windowed(s);
    fftw_execute(fftw.plan);
    fftw.levels();
    benchmark::DoNotOptimize(fftw.decimated.data());
    benchmark::ClobberMemory();
  }
  FftCalc fft;
  const std::span<const uint8_t> ours = fft.fftCalc(s, enable1600Of(n));
  size_t differing = 0;
  for (size_t k = 0; k < ours.size(); ++k) differing += ours[k] != fftw.decimated[k];
  state.counters["differing"] = static_cast<double>(differing);
}
BENCHMARK(BM_fftwLevels)->Name("fftw+levels")->Arg(2048)->Arg(4096)->Unit(benchmark::kNanosecond);

// Prints the usual lines and keeps the times by name.
class RatioTable : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      times_[run.benchmark_name()] = run.GetAdjustedRealTime();  // ns
    }
  }
  void print() const {
    std::printf("\n%6s %11s %11s %7s | %11s %11s %7s %11s %7s\n", "points", "fftCalc", "fftw+lv",
                "ratio", "transform", "fftw", "ratio", "fftw-nosimd", "ratio");
    for (const char* n : {"2048", "4096"}) {
      const double ours = timeOf(std::string("fftCalc/") + n);
      const double whole = timeOf(std::string("fftw+levels/") + n);
      const double transform = timeOf(std::string("transform/") + n);
      const double fftw = timeOf(std::string("fftw/") + n);
      const double scalar = timeOf(std::string("fftw-nosimd/") + n);
      std::printf("%6s %11.0f %11.0f %7.2f | %11.0f %11.0f %7.2f %11.0f %7.2f\n", n, ours, whole,
                  ratio(ours, whole), transform, fftw, ratio(transform, fftw), scalar,
                  ratio(transform, scalar));
    }
    std::printf("(ns per call; a ratio is ours over FFTW's, 0 where a figure is missing)\n");
  }

 private:
  static double ratio(double ours, double theirs) {
    return ours > 0 && theirs > 0 ? ours / theirs : 0;
  }
  double timeOf(const std::string& name) const {
    const auto t = times_.find(name);
    return t == times_.end() ? 0 : t->second;
  }
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioTable table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  table.print();
  fftw_cleanup();
  return 0;
}
