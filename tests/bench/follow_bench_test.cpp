// The frequency follow of the real controller against the simulators: an FT-817 bank
// whose band rows differ in antenna, tuner, standby and attenuator, receive filters and
// calibration ranges per band, a tune memory on antenna 2, and the transceiver moved by
// hand. Each move must reach the amplifier line as the commands of the new band row, in
// their order, and no more; a move made while the amplifier transmits waits for the end
// of the transmission.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/ft817_sim.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

// name start end AmpEnable Ant Atu Att PwrIn
constexpr const char* kBands =
    "!817\n"
    "40m 7000000 7300000 1 2 0 1 5.0\n"
    "20m 14000000 14350000 1 1 1 0 5.0\n"
    "15m 21000000 21450000 0 3 0 0 5.0\n";
constexpr const char* kFilters =
    "6900000\t\t7400000\t\t1\n"
    "13900000\t\t14400000\t\t1\n"
    "20900000\t\t21500000\t\t1\n";
// Three calibration ranges: below 10 MHz, 10 to 20 MHz, above 20 MHz.
constexpr const char* kCalibration =
    "1800000 10000000 100 1992 50 1910 10 1410 0 20 20 100 600\n"
    "10000000 20000000 100 1992 50 1910 10 1410 0 21 21 101 601\n"
    "20000000 54000000 100 1992 50 1910 10 1410 0 22 22 102 602\n"
    "54000000 60000000 100 1992 50 1910 10 1410 0 23 23 103 603\n";
// Antenna 2 remembers LC, L 40, C 50 at 7.1 MHz.
constexpr const char* kMemory = "2120 7100000 1 2 40 50\n";
constexpr const char* kRecalled = "MT100045884;";
constexpr const char* kNeutral = "MT100800000;";
constexpr const char* kBypassed = "MT100010000;";

// The commands the follow sends; the polls and the rest of the traffic are left out.
std::vector<std::string> followCommands(const std::vector<std::string>& frames) {
  static constexpr const char* kFollow[] = {"FA", "SF", "TS", "SA", "MT", "AB", "AT"};
  std::vector<std::string> out;
  for (const std::string& f : frames) {
    for (const char* letters : kFollow) {
      if (f.starts_with(letters)) out.push_back(f);
    }
  }
  return out;
}

// The thresholds go out once per calibration range: checked apart, then left out.
std::vector<std::string> withoutThresholds(std::vector<std::string> commands, int& thresholds) {
  thresholds = static_cast<int>(std::count_if(
      commands.begin(), commands.end(), [](const std::string& c) { return c.starts_with("TS"); }));
  std::erase_if(commands, [](const std::string& c) { return c.starts_with("TS"); });
  return commands;
}

class FollowBench : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run().prepared());
    for (const char* file : {"/opt/set/antenna.txt", "/opt/set/antenna_b1.txt"}) {
      run().writeFile(file, kBands);
    }
    for (const char* file : {"/opt/set/atu_ant2.txt", "/opt/set/atu_ant2_b1.txt"}) {
      run().writeFile(file, kMemory);
    }
    run().writeFile("/opt/set/filter.txt", kFilters);
    run().writeFile("/opt/set/config.txt", kCalibration);
    sim_.emplace(Ft817Options{.root = run().root().dir(),
                              .port = "/dev/VORN817",
                              .watchFaultsFile = false,
                              .station = {}});
    std::string error;
    ASSERT_TRUE(sim_->start(error)) << error;
    feed_.emplace(sim_->sharedStation(), bench_.micro());
    feed_->start();
    ASSERT_TRUE(bench_.start());
    // The first band row applied (20 m: antenna 1, tuner bypassed, amplifier in).
    ASSERT_TRUE(waitForFrame(micro(), kBypassed)) << run().log();
    ASSERT_TRUE(waitForFrame(micro(), "AB0;")) << run().log();
    settle();
  }

  CorvidRun& run() { return bench_.corvid(); }
  AmpSimulator& micro() { return bench_.micro(); }
  Station& station() { return sim_->station(); }

  // Waits until the wire has been quiet of follow commands for a while.
  void settle() {
    size_t seen = followCommands(framesSince(micro(), 0)).size();
    for (int quiet = 0; quiet < 10;) {
      std::this_thread::sleep_for(100ms);
      const size_t now = followCommands(framesSince(micro(), 0)).size();
      quiet = now == seen ? quiet + 1 : 0;
      seen = now;
    }
  }

  // Moves the transceiver and returns the follow commands that answered the move.
  std::vector<std::string> moveTo(uint32_t hz, std::string_view last, int& thresholds) {
    const size_t mark = micro().wire().size();
    logMark_ = run().log().size();
    station().setFrequency(hz);
    EXPECT_TRUE(waitForFrame(micro(), last, mark, 10s)) << hz << " Hz\n" << run().log();
    settle();
    lastFrames_ = framesSince(micro(), mark);
    return withoutThresholds(followCommands(lastFrames_), thresholds);
  }

  // What a failed expectation shows: every frame of the last move, and the controller's
  // log since it began.
  std::string lastMove() {
    std::string text = "frames:";
    for (const std::string& f : lastFrames_) text += " " + f;
    const std::string log = run().log();
    return text + "\nlog:\n" + log.substr(std::min(logMark_, log.size()));
  }

  MicroRun bench_;
  size_t logMark_ = 0;
  std::vector<std::string> lastFrames_;
  std::optional<Ft817Simulator> sim_;
  std::optional<StationFeed> feed_;
};

using Commands = std::vector<std::string>;

TEST_F(FollowBench, EachMoveSendsItsBandRowInOrder) {
  int ts = 0;
  // Into 40 m: filter 1, thresholds of the first range, antenna 2, its memory, 6 dB.
  EXPECT_EQ(moveTo(7'100'000, "AT01;", ts),
            (Commands{"FA00007100000;", "SF3000001;", "SA2;", kRecalled, "AT01;"}))
      << lastMove();
  EXPECT_EQ(ts, 1) << lastMove();
  {
    const MicroSettings m = micro().withMicro([](AmpMicro& a) { return a.settings(); });
    EXPECT_EQ(m.selectedAntenna, 2);
    EXPECT_EQ(m.tuneValue, 0x00045884u);
    EXPECT_FALSE(m.bypassed);
    EXPECT_EQ(m.filterRelays, 0x01);
  }
  // Within the band: the frequency and the recall again, nothing else.
  EXPECT_EQ(moveTo(7'150'000, kRecalled, ts), (Commands{"FA00007150000;", kRecalled}))
      << lastMove();
  EXPECT_EQ(ts, 0) << lastMove();
  // Into 15 m: antenna 3 has no memory (neutral setting) and the row puts the amplifier
  // on standby; the attenuator is left as it is.
  EXPECT_EQ(moveTo(21'200'000, "AB1;", ts),
            (Commands{"FA00021200000;", "SF3000004;", "SA3;", kNeutral, "AB1;"}))
      << lastMove();
  EXPECT_EQ(ts, 1) << lastMove();
  // Into 20 m: the tuner is bypassed although a memory could be near, the amplifier
  // comes back in, the attenuator goes to 0 dB.
  EXPECT_EQ(moveTo(14'200'000, "AT00;", ts),
            (Commands{"FA00014200000;", "SF3000002;", "SA1;", kBypassed, "AB0;", "AT00;"}))
      << lastMove();
  EXPECT_EQ(ts, 1) << lastMove();
  // Out of every band: the frequency and the filter only.
  EXPECT_EQ(moveTo(10'120'000, "SF3000000;", ts), (Commands{"FA00010120000;", "SF3000000;"}))
      << lastMove();
  EXPECT_EQ(ts, 0) << "10.12 MHz is in the calibration range of 14.2 MHz\n" << lastMove();
}

TEST_F(FollowBench, AMoveDuringTransmissionWaitsForItsEnd) {
  station().update([](StationState& s) {
    s.ptt = true;
    s.pttWatts = 10;
  });
  ASSERT_TRUE(waitUntil([&] {
    return micro().withMicro([](AmpMicro& a) { return a.readings().statusB & 0x01; }) != 0;
  })) << "the micro never saw the drive";
  std::this_thread::sleep_for(500ms);  // the controller's status poll sees it too
  const size_t mark = micro().wire().size();
  station().setFrequency(14'250'000);
  ASSERT_TRUE(run().waitForLog("CAT FT817 freq 14250000", 10s)) << run().log();
  station().setFrequency(7'100'000);
  ASSERT_TRUE(run().waitForLog("CAT FT817 freq 7100000", 10s)) << run().log();
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(followCommands(framesSince(micro(), mark)), Commands{})
      << "nothing is applied while the amplifier transmits";

  station().setPtt(false);
  ASSERT_TRUE(waitForFrame(micro(), "AT01;", mark, 10s)) << run().log();
  settle();
  int ts = 0;
  EXPECT_EQ(withoutThresholds(followCommands(framesSince(micro(), mark)), ts),
            (Commands{"FA00007100000;", "SF3000001;", "SA2;", kRecalled, "AT01;"}))
      << "only the last frequency is applied, once";
}

}  // namespace
}  // namespace corvid::bench::test
