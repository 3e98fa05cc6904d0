// The transceiver simulators of the bench: their protocol engines against byte
// sequences written out here, Hamlib's rigctl against the FT-817 simulator, and the
// controller's links against the simulators over pseudo-terminals. The simulators share
// no code with the links, so these last tests check the two readings of each protocol
// against each other.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/works.h"
#include "errors/errors.h"
#include "sim/child_process.h"
#include "sim/extio_sim.h"
#include "sim/ft817_sim.h"
#include "tests/unit/test_support.h"
#include "trx/trx.h"

namespace corvid {
namespace {

using namespace std::chrono_literals;
using bench::ExtIoFaults;
using bench::ExtIoRadio;
using bench::ExtIoSimulator;
using bench::Ft817Cat;
using bench::Ft817Faults;
using bench::Ft817Simulator;
using bench::Station;
using bench::StationMode;
using testing::LogCatcher;
using testing::TempRoot;
using Bytes = std::vector<uint8_t>;

Bytes answer(Ft817Cat& cat, Bytes command, Ft817Faults faults = {}) {
  return cat.answer(std::span<const uint8_t, 5>(command.data(), 5), faults);
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

// ---------------------------------------------------------------- FT-817 protocol

TEST(Ft817Sim, ReadAndSetFrequencyAndMode) {
  Station station;
  Ft817Cat cat(station);
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}), (Bytes{0x01, 0x40, 0x70, 0x00, 0x01}));
  EXPECT_EQ(answer(cat, {0x01, 0x42, 0x50, 0x00, 0x01}), Bytes{0x00});
  EXPECT_EQ(station.get().freqA, 14'250'000u);
  EXPECT_EQ(answer(cat, {0x02, 0, 0, 0, 0x07}), Bytes{0x00});  // CW
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}), (Bytes{0x01, 0x42, 0x50, 0x00, 0x02}));
  // A frequency with a digit above 9 is not taken, but acknowledged as the radio does.
  EXPECT_EQ(answer(cat, {0x01, 0x4A, 0x00, 0x00, 0x01}), Bytes{0x00});
  EXPECT_EQ(station.get().freqA, 14'250'000u);
  EXPECT_EQ(answer(cat, {0x14, 0x50, 0x00, 0x00, 0x01}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}), (Bytes{0x14, 0x50, 0x00, 0x00, 0x02}));
}

TEST(Ft817Sim, VfoSplitPttAndStatus) {
  Station station;
  Ft817Cat cat(station);
  EXPECT_EQ(answer(cat, {0, 0x55, 0, 0, 0xBB}), (Bytes{0x00, 0x00}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x81}), Bytes{0x00});  // to VFO B: 7.1 MHz LSB
  EXPECT_EQ(answer(cat, {0, 0x55, 0, 0, 0xBB}), (Bytes{0x01, 0x00}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}), (Bytes{0x00, 0x71, 0x00, 0x00, 0x00}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0xF7}), Bytes{0xFF});  // receiving
  // Split: the display shows the other VFO while transmitting.
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x02}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x08}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}), (Bytes{0x01, 0x40, 0x70, 0x00, 0x01}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0xF7}), Bytes{0x08});
  EXPECT_DOUBLE_EQ(station.driveWatts(), 10.0);
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x88}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x82}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0xF7}), Bytes{0xFF});
  EXPECT_EQ(station.driveWatts(), 0.0);
  // Lock answers the state before it; an unknown opcode is not answered.
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x00}), Bytes{0x00});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x00}), Bytes{0xF0});
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x77}), Bytes{});
  EXPECT_EQ(cat.counters().unknown, 1u);
}

TEST(Ft817Sim, FaultsSpoilTheFrequencyReply) {
  Station station;
  Ft817Cat cat(station);
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}, {.silent = false, .badBcd = true, .dropByte = false}),
            (Bytes{0x01, 0x4A, 0x70, 0x00, 0x01}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}, {.silent = false, .badBcd = false, .dropByte = true}),
            (Bytes{0x01, 0x40, 0x70, 0x00}));
  EXPECT_EQ(answer(cat, {0, 0, 0, 0, 0x03}, {.silent = true, .badBcd = false, .dropByte = false}),
            Bytes{});
}

// ---------------------------------------------------------------- EXT IO protocol

TEST(ExtIoSim, RecordLayout) {
  Station station;
  ExtIoRadio radio(station);
  const Bytes a = radio.record(false);
  ASSERT_EQ(a.size(), 31u);
  // 14 070 000 = 0x00D6B0F0.
  EXPECT_EQ(a, (Bytes{0x00, 0x30, 0x30, 0x3D, 0x36, 0x3B, 0x30, 0x3F, 0x30, 0x86, 0x41,
                      0x43, 0xA1, 0x42, 0x30, 0x30, 0x69, 0x64, 0x32, 0x65, 0x43, 131,
                      40,   0x39, 0x3C, 0x34, 0x30, 0x30, 0x30, 0x30, 0x30}));
  station.update([](bench::StationState& s) {
    s.vfoB = true;
    s.split = true;
    s.ptt = true;
    s.antennaInput = 1;
    s.pttOut = true;
  });
  const Bytes b = radio.record(true);
  EXPECT_EQ(b[0], 0x30);
  EXPECT_EQ(b[9], 0x80 | 0x40 | 0x20 | 4);  // transmitting, split, LSB
  EXPECT_EQ(b[11], 0x40 | 0x20 | 0x10 | 3);
  station.setMemory(true);
  EXPECT_EQ(radio.record(false)[0], 0x21);
}

TEST(ExtIoSim, FramesAndSpectrum) {
  Station station;
  ExtIoRadio radio(station);
  const Bytes payload(32, 7);
  const Bytes frame = bench::extIoFrame(1, '1', payload);
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 6), (Bytes{1, '1', '0', '2', '0', '0'}));
  const Bytes big = bench::extIoFrame(0, '0', Bytes(1024));
  EXPECT_EQ(Bytes(big.begin(), big.begin() + 6), (Bytes{0, '0', '0', '0', '4', '0'}));

  const Bytes fft = radio.spectrum();
  ASSERT_EQ(fft.size(), 1024u);
  // 14 074 000 is 4 kHz above the tuned 14 070 000: bin 512 + 21.3.
  EXPECT_EQ(fft[533], -50 + 192);
  EXPECT_EQ(fft[534], -62 + 192);
  size_t floor = 0;
  // The floor: -114 dB, 3 dB of noise and a ripple of 3.5 dB either side.
  for (uint8_t bin : fft) floor += bin >= 192 - 121 && bin <= 192 - 107 ? 1 : 0;
  EXPECT_GT(floor, 900u);

  // One cycle: the active VFO's record and the FFT; every second one the other VFO's.
  const Bytes one = radio.cycle({});
  EXPECT_EQ(one.size(), 37u + 1030u);
  EXPECT_EQ(radio.cycle({}).size(), 2 * 37u + 1030u);
  ExtIoFaults junk;
  junk.junk = true;
  EXPECT_EQ(radio.cycle(junk)[0], 0xFF);
  ExtIoFaults silent;
  silent.silent = true;
  EXPECT_TRUE(radio.cycle(silent).empty());
}

TEST(ExtIoSim, ObeysTheAmplifiersCommands) {
  Station station;
  ExtIoRadio radio(station);
  station.setPttOut(true);
  const std::string text = "TQ5000;TU120;TX2;\x01junk;PT00;";
  radio.take(Bytes(text.begin(), text.end()));
  EXPECT_TRUE(station.get().tuneCarrier);
  EXPECT_DOUBLE_EQ(station.driveWatts(), 5.0);
  EXPECT_FALSE(station.get().pttOut);
  const std::string rx = "RX;";
  radio.take(Bytes(rx.begin(), rx.end()));
  EXPECT_FALSE(station.get().transmitting());
  EXPECT_EQ(radio.counters().commands,
            (std::vector<std::string>{"TQ5000", "TU120", "TX2", "junk", "PT00", "RX"}));
}

// ---------------------------------------------------------------- Hamlib against the FT-817

struct RigctlResult {
  bool ran = false;
  int status = -1;
  std::string out;
};

RigctlResult rigctl(const std::filesystem::path& port, const std::vector<std::string>& words,
                    const std::filesystem::path& outFile) {
  bench::ChildOptions options;
  options.argv = {"/usr/bin/rigctl", "-m", "1020", "-r", port.string(), "-s", "38400"};
  options.argv.insert(options.argv.end(), words.begin(), words.end());
  options.stdoutFile = outFile;
  std::string error;
  auto child = bench::ChildProcess::start(options, error);
  RigctlResult result;
  if (!child) return result;
  result.ran = true;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (child->running() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(10ms);
  result.status = child->stop(1s).shellStatus();
  std::ifstream in(outFile);
  std::stringstream text;
  text << in.rdbuf();
  result.out = text.str();
  return result;
}

// Hamlib's own FT-817 back-end (model 1020) is a second, independent reading of the
// protocol. tools/install-deps.sh installs rigctl; without it the test is skipped.
TEST(Ft817SimWithHamlib, RigctlReadsAndSetsTheFrequency) {
  struct stat st {};
  if (::stat("/usr/bin/rigctl", &st) != 0) GTEST_SKIP() << "rigctl not installed (libhamlib-utils)";
  TempRoot root;
  Ft817Simulator sim(
      {.root = root.dir(), .port = "/dev/VORN817", .watchFaultsFile = false, .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  const auto out = root.dir() / "rigctl.out";

  RigctlResult read = rigctl(sim.linkPath(), {"f"}, out);
  ASSERT_TRUE(read.ran);
  EXPECT_EQ(read.status, 0) << read.out;
  EXPECT_EQ(read.out, "14070000\n");

  RigctlResult set = rigctl(sim.linkPath(), {"F", "7074000"}, out);
  EXPECT_EQ(set.status, 0) << set.out;
  EXPECT_EQ(sim.station().get().freqA, 7'074'000u);

  RigctlResult mode = rigctl(sim.linkPath(), {"M", "CW", "0", "m"}, out);
  EXPECT_EQ(mode.status, 0) << mode.out;
  EXPECT_EQ(sim.station().get().modeA, StationMode::Cw);
  EXPECT_EQ(mode.out.substr(0, 3), "CW\n") << mode.out;
}

// ---------------------------------------------------------------- the links against the simulators

class LinkAgainstSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    initErrorTable(w());
    w().errors.errorsMuted = 0;
  }
  void TearDown() override { stopThread(); }
  void runThread(void (*body)(Works&)) {
    thread_ = std::thread([this, body] { body(w()); });
  }
  void stopThread() {
    w().core.running = 0;
    if (thread_.joinable()) thread_.join();
  }
  PexParams pex() {
    PexParams p;
    getParameters(p, w());
    return p;
  }
  Works& w() { return *works_; }

  LogCatcher log;
  TempRoot root;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  std::thread thread_;
};

TEST_F(LinkAgainstSimTest, Ft817FrequencyIsFollowedThroughSilenceAndBadReplies) {
  Ft817Simulator sim(
      {.root = root.dir(), .port = "/dev/VORN817", .watchFaultsFile = false, .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  w().set.text.setText(Slot::CatSerialPort, "/dev/VORN817");
  w().set.text.setFlag(Slot::catSerialEnable, '1');
  runThread(&CatSerial);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 14'070'000u; }));
  sim.station().setFrequency(21'074'000);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 21'074'000u; }));
  // VFO B, and the transmit VFO while transmitting in split.
  sim.station().selectVfoB(true);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 7'100'000u; }));
  sim.station().setSplit(true);
  sim.station().setPtt(true);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 21'074'000u; }));
  sim.station().setPtt(false);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 7'100'000u; }));

  // Non-BCD replies are rejected and the frequency stays.
  const uint32_t rejectedBefore = w().trx.catSerRejected.load();
  sim.setFaults({.silent = false, .badBcd = true, .dropByte = false});
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerRejected.load() > rejectedBefore + 2; }));
  EXPECT_EQ(w().trx.catSerFreq, 7'100'000u);
  // Silence: the request times out and is sent again; the frequency stays.
  sim.setFaults({.silent = true, .badBcd = false, .dropByte = false});
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerTimeouts.load() >= 1; }));
  EXPECT_EQ(w().trx.catSerFreq, 7'100'000u);
  sim.setFaults({});
  sim.station().setFrequency(3'573'000);
  EXPECT_TRUE(waitFor([&] { return w().trx.catSerFreq.load() == 3'573'000u; }));
  stopThread();
  EXPECT_GT(sim.counters().frequencyReads, 4u);
  EXPECT_EQ(sim.counters().unknown, 0u);
}

TEST_F(LinkAgainstSimTest, ExtIoRecordsSpectraAndCommands) {
  ExtIoSimulator sim({.root = root.dir(),
                      .port = "/dev/VORNSER",
                      .watchFaultsFile = false,
                      .cycleMs = 20,
                      .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  w().set.text.setText(Slot::SerPort, "/dev/VORNSER");
  w().set.text.setFlag(Slot::extIoEnable, '1');
  w().set.text.setFlag(Slot::EnableFFT2, '1');
  w().bands.freqInterface = FreqInterface::ExtIo;
  runThread(&Serial);
  EXPECT_TRUE(waitFor([&] { return pex().freq == 14'070'000u && w().trx.extIoSpectra > 2; }));
  EXPECT_EQ(pex().mode, 6);
  EXPECT_EQ(pex().shiftHz, 2500);
  EXPECT_EQ(pex().freqB, 7'100'000u);
  {
    std::scoped_lock lock(w().trx.serMut);
    // Bin 533 (14 074 000 Hz) is level point 532.
    EXPECT_FLOAT_EQ(w().trx.pexLevels[532], -50.0f);
  }

  sim.station().selectVfoB(true);
  EXPECT_TRUE(waitFor([&] { return pex().freq == 7'100'000u && pex().mode == 4; }));
  sim.station().selectVfoB(false);
  sim.station().setSplit(true);
  EXPECT_TRUE(waitFor([&] { return pex().split == 1 && pex().freq == 7'100'000u; }));
  EXPECT_EQ(pex().freqRx, 14'070'000u);
  sim.station().setSplit(false);
  sim.station().setMemory(true);
  EXPECT_TRUE(waitFor([&] { return pex().freq == 3'573'000u; }));
  sim.station().setMemory(false);
  sim.station().setAntennaInput(1);
  sim.station().setPttOut(true);
  EXPECT_TRUE(waitFor([&] { return pex().antennaInput == 1 && pex().pttOut == 1; }));

  // The commands other parts ask for reach the transceiver and change what it reports.
  w().trx.pexPowerValue = 2500;
  w().trx.pexPowerRequest = 0x01;
  w().atu.tuneFlags = 0x20;
  EXPECT_TRUE(waitFor([&] { return pex().transmit == 1; }));
  EXPECT_DOUBLE_EQ(sim.station().driveWatts(), 2.5);
  w().trx.pexRequests = 0x02;
  w().atu.tuneFlags = 0x04;
  EXPECT_TRUE(waitFor([&] { return pex().transmit == 0 && pex().pttOut == 0; }));
  const std::vector<std::string> commands = sim.counters().commands;
  EXPECT_EQ(commands, (std::vector<std::string>{"TU120", "TX2", "TQ2500", "RX", "PT00"}));

  // Messages that are no messages are skipped or reported; the stream goes on.
  sim.setFaults({.silent = false, .junk = true, .oversized = false});
  EXPECT_TRUE(waitFor([&] { return log.contains("Error3"); }));
  sim.setFaults({});
  sim.station().setFrequency(28'074'000);
  EXPECT_TRUE(waitFor([&] { return pex().freq == 28'074'000u; }));

  // An oversized length swallows 1999 bytes, then the stream is followed again.
  sim.setFaults({.silent = false, .junk = false, .oversized = true});
  EXPECT_TRUE(waitFor([&] { return log.contains("3SERIAL : ERROR dataLength 65535"); }));
  sim.setFaults({});
  sim.station().setFrequency(50'313'000);
  EXPECT_TRUE(waitFor([&] { return pex().freq == 50'313'000u; }));

  // Silence: error 8, once per hold-off.
  sim.setFaults({.silent = true, .junk = false, .oversized = false});
  // The error is registered just before the hold-off is set: wait for both.
  EXPECT_TRUE(waitFor([&] {
    return ExistError(w(), Err::ExtIoLost) == 1 && w().amp.commErrorHoldoff.load() == 2000;
  }));
  EXPECT_EQ(pex().freq, 50'313'000u);  // kept while silent
  stopThread();
}

}  // namespace
}  // namespace corvid
