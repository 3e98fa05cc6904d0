// The transceiver links of the real controller on the bench: a bank whose frequency
// interface is FT-817 ("!817") or the maker's transceiver ("!Pex"), the simulator of
// that transceiver and the amplifier micro simulator started here on the root's ports,
// and a frequency set on the simulated transceiver seen arriving in the controller (its
// log) and going on to the amplifier ("FA%011lu;" on the amplifier line). A fault word
// in the faults file silences the transceiver during the run. One run per interface
// (the controller's start-up takes about 14 s of it).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "sim/extio_sim.h"
#include "sim/ft817_sim.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

// A band table with the interface line first, as the controller writes it.
std::string bandTable(std::string_view interfaceLine) {
  return std::string(interfaceLine) + "\n" +
         "40m 7000000 7300000 1 1 1 0 5.0\n"
         "20m 14000000 14350000 1 1 1 0 5.0\n"
         "15m 21000000 21450000 1 1 1 0 5.0\n";
}

// The bank in use (NumBanco) and bank 0 alike.
void useInterface(const CorvidRun& run, std::string_view interfaceLine) {
  run.writeFile("/opt/set/antenna.txt", bandTable(interfaceLine));
  run.writeFile("/opt/set/antenna_b1.txt", bandTable(interfaceLine));
}

void setFaults(const CorvidRun& run, std::string_view words) {
  std::ofstream(run.root().faultsFile()) << words << "\n";
}

TEST(TrxBench, Ft817FrequencyReachesTheAmplifier) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  useInterface(run, "!817");
  Ft817Simulator sim(
      {.root = run.root().dir(), .port = "/dev/VORN817", .watchFaultsFile = true, .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  ASSERT_TRUE(bench.start());

  ASSERT_TRUE(run.waitForLog("OK works->catSerFD=")) << run.log();
  ASSERT_TRUE(run.waitForLog("CAT FT817 freq 14070000")) << run.log();
  sim.station().setFrequency(7'074'000);
  ASSERT_TRUE(run.waitForLog("CAT FT817 freq 7074000", 5s)) << run.log();
  EXPECT_TRUE(waitForFrame(bench.micro(), "FA00007074000;")) << run.log();
  sim.station().selectVfoB(true);
  ASSERT_TRUE(run.waitForLog("CAT FT817 freq 7100000", 5s)) << run.log();
  EXPECT_TRUE(waitForFrame(bench.micro(), "FA00007100000;")) << run.log();
  EXPECT_EQ(bench.micro().withMicro([](AmpMicro& m) { return m.transceiverFrequency(); }),
            7'100'000u);

  // Silenced from the faults file: the request times out and is repeated.
  setFaults(run, "ft817-silent");
  ASSERT_TRUE(run.waitForLog("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!", 10s)) << run.log();
  setFaults(run, "");
  sim.station().setFrequency(21'074'000);
  ASSERT_TRUE(run.waitForLog("CAT FT817 freq 21074000", 10s)) << run.log();

  // The FT-817 bank does not run the EXT IO link.
  EXPECT_EQ(run.log().find("Init Serial Port"), std::string::npos);
  EXPECT_EQ(sim.counters().unknown, 0u);
}

TEST(TrxBench, ExtIoFrequencyReachesTheAmplifierAndTheDrivePowerTheTransceiver) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  useInterface(run, "!Pex");
  ExtIoSimulator sim({.root = run.root().dir(),
                      .port = "/dev/VORNSER",
                      .watchFaultsFile = true,
                      .cycleMs = 100,
                      .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  ASSERT_TRUE(bench.start());

  ASSERT_TRUE(run.waitForLog("OK works->serFD=")) << run.log();
  ASSERT_TRUE(run.waitForLog("EXT IO freq 14070000")) << run.log();
  sim.station().setFrequency(18'100'000);
  ASSERT_TRUE(run.waitForLog("EXT IO freq 18100000", 5s)) << run.log();
  EXPECT_TRUE(waitForFrame(bench.micro(), "FA00018100000;")) << run.log();
  // Split: the amplifier follows the transmit VFO.
  sim.station().update([](StationState& s) {
    s.split = true;
    s.freqB = 21'074'000;
  });
  ASSERT_TRUE(run.waitForLog("EXT IO freq 21074000", 5s)) << run.log();
  EXPECT_TRUE(waitForFrame(bench.micro(), "FA00021074000;")) << run.log();
  // The band's input power (5.0 W) is asked of the transceiver in mW.
  EXPECT_TRUE(waitUntil([&] {
    const std::vector<std::string> commands = sim.counters().commands;
    return std::find(commands.begin(), commands.end(), "TQ5000") != commands.end();
  })) << run.log();
  EXPECT_DOUBLE_EQ(sim.station().get().carrierWatts, 5.0);

  setFaults(run, "extio-silent");
  ASSERT_TRUE(run.waitForLog("---------------------------------------TIMEOUT EXT IO 1", 10s))
      << run.log();
  EXPECT_TRUE(run.waitForLog("err:8", 5s)) << run.log();
  setFaults(run, "");

  // The FT-817 link is not run for this bank.
  EXPECT_EQ(run.log().find("Init CATSerial Port"), std::string::npos);
  EXPECT_GT(sim.counters().spectra, 10u);
}

}  // namespace
}  // namespace corvid::bench::test
