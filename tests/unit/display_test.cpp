// The display loop's meter arithmetic, peak hold, transmit view and screensaver.
#include "ui/display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "core/settings.h"
#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;

TEST(Meters, SwrScaleAndDbm) {
  EXPECT_FLOAT_EQ(CalcolaSWR(1.0f), 0.0f);
  EXPECT_FLOAT_EQ(CalcolaSWR(0.5f), 0.0f);
  EXPECT_FLOAT_EQ(CalcolaSWR(1.75f), 15.5f);
  EXPECT_FLOAT_EQ(CalcolaSWR(2.0f), 20.0f);
  EXPECT_FLOAT_EQ(CalcolaSWR(55.0f), 55.0f);
  EXPECT_FLOAT_EQ(CalcolaSWR(100.0f), 60.0f);
  EXPECT_FLOAT_EQ(CalcolaSWR(1000.0f), 60.0f);
  EXPECT_NEAR(ConvertW_to_dBm(1.0), 30.0, 1e-9);
  EXPECT_TRUE(std::isinf(ConvertW_to_dBm(0.0)));
}

TEST(Meters, NeedleSweepsFromLeftToRight) {
  // Zero points up and to the left, full scale up and to the right, symmetric.
  const Point zero = needleTip(210, 260, 0, 60);
  const Point full = needleTip(210, 260, 60, 60);
  const Point half = needleTip(210, 260, 30, 60);
  EXPECT_LT(zero.x, 210);
  EXPECT_GT(full.x, 210);
  EXPECT_LT(half.y, zero.y);
  EXPECT_NEAR(half.x, 210, 1);
  EXPECT_NEAR(half.y, 260 - 200 + 15, 1);  // the 15-pixel offset shortens the needle
  EXPECT_NEAR(zero.y, full.y, 1);
}

TEST(Meters, PeakHoldHoldsThenFollows) {
  auto works = std::make_unique<Works>();
  InitGlobalVar(*works);  // TimerPeakSec 3000, fattoremedia 2, PeakDecrement 1.0
  PeakHold peak;
  CalcolaPwrPeak(*works, peak, 50);
  EXPECT_DOUBLE_EQ(peak.value, 50);
  EXPECT_DOUBLE_EQ(peak.holdTimer, 3000);
  CalcolaPwrPeak(*works, peak, 10);
  EXPECT_DOUBLE_EQ(peak.value, 50) << "held while the timer runs";
  decayPeak(*works, peak, 40);
  EXPECT_DOUBLE_EQ(peak.value, 49) << "one step per PeakDecrementTime cycles";
  peak.holdTimer = 0;
  CalcolaPwrPeak(*works, peak, 10);
  EXPECT_DOUBLE_EQ(peak.value, (2 * 49 + 10) / 3.0);
}

class LoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(w());
    w().ui.frameDelay = 1000;
  }
  void TearDown() override { stop(); }
  void start() {
    thread = std::thread([this] { timer(w()); });
  }
  void stop() {
    w().core.running = 0;
    if (thread.joinable()) thread.join();
  }
  template <typename F>
  bool eventually(F condition) {
    for (int i = 0; i < 2000; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }
  Works& w() { return *works_; }

  TempRoot root;
  LogCatcher log;
  InstantSleep instant;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  std::thread thread;
};

TEST_F(LoopTest, TransmitViewSwitchesAndReturns) {
  w().set.ViewType = 1;
  w().set.ViewTX = 2;
  w().core.lastActivity = std::time(nullptr);
  start();
  w().amp.statusB = 1;
  EXPECT_TRUE(eventually([&] { return w().set.ViewType.load() == 2; }));
  EXPECT_EQ(w().ui.savedViewType, 1);
  w().amp.statusB = 0;
  EXPECT_TRUE(eventually([&] { return w().set.ViewType.load() == 1; }));
  EXPECT_EQ(w().ui.savedViewType, -1);
}

TEST_F(LoopTest, ScreensaverAfterItsTimeoutAndActivityEndsIt) {
  w().set.SaveScreenIdx = 4;  // 60 minutes
  w().core.lastActivity = std::time(nullptr) - 59 * 60;
  start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(w().ui.screenSaverOn, 0);
  w().core.lastActivity = std::time(nullptr) - 60 * 60 - 1;
  EXPECT_TRUE(eventually([&] { return w().ui.screenSaverOn.load() == 1; }));
  EXPECT_EQ(w().core.splashName.get(), "start");
  stop();
  EXPECT_EQ(DisattivoScreenSave(w()), 1);
  EXPECT_EQ(w().ui.screenSaverOn, 0);
  EXPECT_EQ(DisattivoScreenSave(w()), 0);
}

TEST_F(LoopTest, HoldoffCountsDownAndBoardTemperaturesAreRead) {
  root.addProgram("my_temp", "echo 61\necho \"temp=58.4'C\"\n");
  w().amp.commErrorHoldoff = 1;
  w().core.lastActivity = std::time(nullptr);
  start();
  // The two lines are stored as they arrive: the second may still be on its way when
  // the first is seen (under an emulator the gap is wide).
  EXPECT_TRUE(eventually([&] { return w().amp.cpuTemp.load() == 61.0f; }));
  EXPECT_TRUE(eventually([&] { return w().amp.gpuTemp.load() != 0.0f; }));
  EXPECT_FLOAT_EQ(w().amp.gpuTemp, 58.4f);
  // Processor time only: the hold-off falls once the process has worked a millisecond.
  EXPECT_TRUE(eventually([&] { return w().amp.commErrorHoldoff.load() == 0; }));
}

}  // namespace
}  // namespace corvid
