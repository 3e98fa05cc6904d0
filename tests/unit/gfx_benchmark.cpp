// Drawing figures: putString with and without the glyph cache, getStringSpace, and a
// whole frame (fbSetBack + fbRealize) at the panel's 800 x 480 x 32 bits. Not a test:
// run build/gfx/gfx_benchmark (or ./gfx_benchmark in its folder) and read the numbers.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "gfx/framebuffer.h"
#include "gfx/text.h"

namespace {

using namespace corvid;

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
// A line of the main screen as the display loop draws it every 40 ms.
constexpr const char* kLine = "PA1:031.5\xC2\xB0" "C   P2:030.0\xC2\xB0" "C    CPU:045.2\xC2\xB0" "C";

void loadFonts() {
  static const bool loaded = [] {
    TTFLoad(kDejaVu, 20, 8);
    TTFLoad(kDejaVu, 30, 9);
    return true;
  }();
  benchmark::DoNotOptimize(loaded);
}

void BM_putString(benchmark::State& state) {
  loadFonts();
  setGlyphCache(state.range(0) != 0 ? GlyphCache::On : GlyphCache::Off);
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  for (auto _ : state) {
    putString(8, 10, 327, kLine, 0, 200, 0, fb.get());
    benchmark::ClobberMemory();
  }
  state.SetLabel(state.range(0) != 0 ? "cache on" : "cache off");
  state.SetItemsProcessed(state.iterations() * 38);  // characters
  setGlyphCache(GlyphCache::On);
}
BENCHMARK(BM_putString)->Arg(0)->Arg(1);

void BM_getStringSpace(benchmark::State& state) {
  loadFonts();
  setGlyphCache(state.range(0) != 0 ? GlyphCache::On : GlyphCache::Off);
  for (auto _ : state) benchmark::DoNotOptimize(getStringSpace(8, kLine));
  state.SetLabel(state.range(0) != 0 ? "cache on" : "cache off");
  setGlyphCache(GlyphCache::On);
}
BENCHMARK(BM_getStringSpace)->Arg(0)->Arg(1);

// A text-heavy frame: thirty lines of the main and status screens.
void BM_textFrame(benchmark::State& state) {
  loadFonts();
  setGlyphCache(state.range(0) != 0 ? GlyphCache::On : GlyphCache::Off);
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  char text[64];
  int n = 0;
  for (auto _ : state) {
    fbSetBack(fb.get());
    for (int row = 0; row < 30; ++row) {
      std::snprintf(text, sizeof text, "FWD:%02.01f, RFL:%02.01f , SWR:%02.01f", 12.5 + n % 7,
                    0.5 + row % 3, 1.1 + row * 0.1);
      putString(8, 180, 20 + row * 15, text, 255, 255, 255, fb.get());
    }
    fbRealize(fb.get());
    ++n;
  }
  state.SetLabel(state.range(0) != 0 ? "cache on" : "cache off");
  setGlyphCache(GlyphCache::On);
}
BENCHMARK(BM_textFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_fullFrame(benchmark::State& state) {
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  for (auto _ : state) {
    fbSetBack(fb.get());
    fbRealize(fb.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 2 * int64_t{fb->size});
}
BENCHMARK(BM_fullFrame)->Unit(benchmark::kMicrosecond);

void BM_needles(benchmark::State& state) {
  auto fb = makeMemoryFrameBuffer(800, 480, 32);
  for (auto _ : state) {
    for (int dx = -1; dx <= 1; ++dx) DrawLine(210 + dx, 260, 100, 90, 255, 0, 0, fb.get());
    for (int dx = -1; dx <= 1; ++dx) DrawLine(590 + dx, 260, 700, 90, 255, 0, 0, fb.get());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_needles);

}  // namespace

BENCHMARK_MAIN();
