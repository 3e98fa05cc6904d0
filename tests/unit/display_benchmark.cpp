// Display-loop figures: the cost of one cycle of the loop (everything but the frame
// delay) for each meter view, the transmit view, the switch into and out of it, and the
// screensaver; and the once-a-second work (board temperatures, date) apart, since a
// cycle pays it only once in 25. Not a test: run corvid-display-benchmark and read the
// numbers.
//
// The cycle draws into an in-memory 800 x 480 x 32 frame with the panel fonts and the
// pictures the build makes; frameDelay is 0 and every platform sleep returns at once.
// The board temperatures come from a "my_temp" script in a temporary root, as on the
// bench.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>

#include "core/settings.h"
#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/text.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "tests/unit/test_support.h"
#include "ui/display.h"

namespace {

using namespace corvid;

// Fonts, pictures and the quiet log: once for the whole program.
void prepareOnce() {
  static const bool prepared = [] {
    // The panel's fonts are read from the host, before the temporary root exists.
    loadPanelFonts();
    if (::chdir(CORVID_PICTURES_DIR) != 0) std::perror(CORVID_PICTURES_DIR);
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    platform::setSleepHook([](std::chrono::milliseconds) {});
    return true;
  }();
  benchmark::DoNotOptimize(prepared);
}

// A controller's record as the display loop sees it after the start-up: default
// settings, a frame, moderate readings, no recent activity that ends a screensaver.
struct Panel {
  Panel() {
    prepareOnce();
    root.addProgram("my_temp", "echo 48.3\necho \"temp=47.2'C\"\n");
    initSetup(w());
    w().gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
    w().ui.frameDelay = 0;
    w().core.lastActivity = static_cast<int64_t>(std::time(nullptr));
    w().amp.pwrFwd = 42.0f;
    w().amp.fwdPeak = 45.0f;
    w().amp.pwrRefl = 1.5f;
    w().amp.swr = 1.45f;
    w().amp.pwrIn = 6.0f;
    w().core.unitName.set("BENCH-UNIT");
  }
  Works& w() { return *works; }

  testing::TempRoot root;
  std::unique_ptr<Works> works = std::make_unique<Works>();
  DisplayLoop loop;
};

// A few cycles before timing: the first one loads the view's picture and runs the
// frequency follow-up once.
void warmUp(Panel& panel) {
  for (int i = 0; i < 5; ++i) displayCycle(panel.w(), panel.loop);
}

void BM_meterView(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = static_cast<int>(state.range(0));
  panel.w().set.ViewTX = 0;
  warmUp(panel);
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
  static constexpr const char* kRight[] = {"reflected", "reflected", "SWR", "input power"};
  state.SetLabel(std::string("forward + ") + kRight[state.range(0)]);
}
BENCHMARK(BM_meterView)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

// Transmitting with ViewTX 2 from view 1: the SWR view, activity marked every cycle.
void BM_transmitView(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = 1;
  panel.w().set.ViewTX = 2;
  panel.w().amp.statusB = 0x01;
  warmUp(panel);
  if (panel.w().set.ViewType.load() != 2) state.SkipWithError("the transmit view did not show");
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_transmitView)->Unit(benchmark::kMicrosecond);

// Keyed and unkeyed on alternate cycles: every cycle switches the view and loads its
// picture, the worst a cycle does in normal operation.
void BM_transmitViewSwitch(benchmark::State& state) {
  Panel panel;
  panel.w().set.ViewType = 1;
  panel.w().set.ViewTX = 2;
  warmUp(panel);
  uint8_t keyed = 0;
  for (auto _ : state) {
    keyed ^= 1;
    panel.w().amp.statusB = keyed;
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_transmitViewSwitch)->Unit(benchmark::kMicrosecond);

void BM_screensaver(benchmark::State& state) {
  Panel panel;
  panel.w().set.SaveScreenIdx = 5;  // one minute, long gone
  panel.w().core.lastActivity = static_cast<int64_t>(std::time(nullptr)) - 3600;
  warmUp(panel);
  // The first cycle's follow-up marked activity; the saver now starts at the next one.
  panel.w().core.lastActivity = static_cast<int64_t>(std::time(nullptr)) - 3600;
  displayCycle(panel.w(), panel.loop);
  if (panel.w().ui.screenSaverOn.load() != 1) state.SkipWithError("the screensaver did not start");
  for (auto _ : state) {
    displayCycle(panel.w(), panel.loop);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_screensaver)->Unit(benchmark::kMicrosecond);

// What a cycle adds once a second while the screensaver is off: the board temperatures
// through "my_temp" and the date line.
void BM_onceASecond(benchmark::State& state) {
  Panel panel;
  for (auto _ : state) {
    ReadCPUTemp(panel.w());
    ReadDataOra(panel.w());
  }
  if (panel.w().amp.cpuTemp.load() != 48.3f) state.SkipWithError("my_temp was not read");
}
BENCHMARK(BM_onceASecond)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
