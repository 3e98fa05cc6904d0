// The settings file: defaults, parsing, writing back, factory resets and failures.
#include "core/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <memory>
#include <sstream>

#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::LogCatcher;
using testing::TempRoot;

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The value of a key in a setup.txt text; "<missing>" when absent.
std::string valueOf(const std::string& text, const std::string& key) {
  for (const std::string& line : splitLines(text)) {
    if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
  }
  return "<missing>";
}

class SettingsTest : public ::testing::Test {
 protected:
  // Reads a setup.txt with the given lines and writes it back.
  std::string roundTrip(const std::string& content) {
    root.write("/opt/set/setup.txt", content);
    readSetup(works());
    writeSetup(works());
    return root.read("/opt/set/setup.txt");
  }
  Works& works() { return *works_; }

  TempRoot root;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(SettingsTest, MissingFileIsWrittenFromTheDefaultsInTableOrder) {
  readSetup(works());
  EXPECT_TRUE(log.contains("can't open /opt/set/setup.txt"));
  const std::string text = root.read("/opt/set/setup.txt");
  const auto lines = splitLines(text);
  ASSERT_EQ(lines.size(), kSetupKeyCount);
  for (size_t i = 0; i < kSetupKeyCount; ++i) {
    EXPECT_EQ(lines[i].substr(0, lines[i].find(':')), kSetupKeys[i].key) << "line " << i + 1;
  }
  // Numeric defaults govern where a key has one.
  EXPECT_EQ(lines.front(), "Passphrase: ");
  EXPECT_EQ(valueOf(text, "MaxTemperature"), "700");
  EXPECT_EQ(valueOf(text, "MaxTemperature2"), "800");
  EXPECT_EQ(valueOf(text, "MaxTempAllowed"), "75");
  EXPECT_EQ(valueOf(text, "PSpar2"), "1000");
  EXPECT_EQ(valueOf(text, "NumBanco"), "0");
  EXPECT_EQ(valueOf(text, "MAXbank"), "3");
  EXPECT_EQ(valueOf(text, "TcpPort"), "6666");
  EXPECT_EQ(valueOf(text, "NumAntenna"), "1");
  EXPECT_EQ(valueOf(text, "BTN_longpress_Time"), "5");
  EXPECT_EQ(valueOf(text, "Peak_ValDec"), "10");
  EXPECT_EQ(valueOf(text, "ChunkTime"), "10.000000");
  EXPECT_EQ(valueOf(text, "WTminVal"), "-140.000000");
  EXPECT_EQ(valueOf(text, "EnableDebug"), "0");
  EXPECT_EQ(valueOf(text, "LocalRemote"), "0");
  EXPECT_EQ(valueOf(text, "WTposition"), "0");
  EXPECT_EQ(valueOf(text, "LinPort"), "/dev/ttyAMA0");
  EXPECT_EQ(root.calls(), (std::vector<std::string>{
                              "mount -o remount defaults,rw DIR/opt/set",
                              "mount -v -n -o remount -r DIR/opt/set",
                          }));
  // Keyless flags start on.
  EXPECT_TRUE(works().set.text.on(Slot::extIoEnable));
  EXPECT_TRUE(works().set.text.on(Slot::catSerialEnable));
}

TEST_F(SettingsTest, EmptyFileGivesDefaultsAndIsNotRewritten) {
  root.write("/opt/set/setup.txt", "");
  readSetup(works());
  EXPECT_EQ(root.read("/opt/set/setup.txt"), "");
  EXPECT_TRUE(root.calls().empty());
  EXPECT_FLOAT_EQ(works().set.MaxTemperature, 70.0f);
  EXPECT_EQ(works().set.TcpPort, 6666);
  EXPECT_EQ(works().set.text.flag(Slot::EnableGPIO), '1');
  EXPECT_EQ(works().set.text.text(Slot::SerPort), "/dev/VORNSER");
  // The text defaults that differ from the numeric ones show only in the slots.
  EXPECT_EQ(works().set.text.text(Slot::MaxTemperature), "800");
  EXPECT_EQ(works().remote.captureChunkSamples, 240);
  EXPECT_EQ(works().remote.bufferChunks, 0);
}

TEST_F(SettingsTest, TemperatureLimitsAreClamped) {
  roundTrip("MaxTemperature: 1000\nMaxTemperature2: 100\n");
  EXPECT_FLOAT_EQ(works().set.MaxTemperature, 75.0f);
  EXPECT_FLOAT_EQ(works().set.MaxTemperature2, 20.0f);
  const std::string text = roundTrip("MaxTempAllowed: 90\nMaxTemperature: 855\n");
  EXPECT_FLOAT_EQ(works().set.MaxTemperature, 85.5f);
  EXPECT_EQ(valueOf(text, "MaxTemperature"), "855");
}

TEST_F(SettingsTest, ScaledAndSpecialValuesRoundTrip) {
  const std::string text = roundTrip(
      "OffsetPlot: 15\nNumAntenna: 3\nEnableDebug: 2\nSWRescAutoTune: 115\n"
      "Peak_ValDec: 13\nBTN_longpress_Time: 7\n");
  EXPECT_DOUBLE_EQ(works().set.OffsetPlot, 1.0);
  EXPECT_EQ(valueOf(text, "OffsetPlot"), "10");
  EXPECT_EQ(works().set.NumAntenna, 2);
  EXPECT_EQ(valueOf(text, "NumAntenna"), "3");
  EXPECT_EQ(works().set.EnableDebug, 2);
  EXPECT_EQ(valueOf(text, "EnableDebug"), "0");
  EXPECT_FLOAT_EQ(works().set.swrTarget, 1.15f);
  EXPECT_DOUBLE_EQ(works().set.PeakDecrement, 1.3);
  EXPECT_DOUBLE_EQ(works().set.TIME_LONG_PRESS, 0.7);
  // Written back unchanged, write after write: no value drifts down a step.
  std::string again = text;
  for (int i = 0; i < 3; ++i) again = roundTrip(again);
  EXPECT_EQ(again, text);
  EXPECT_EQ(valueOf(text, "SWRescAutoTune"), "115");
  EXPECT_EQ(valueOf(text, "Peak_ValDec"), "13");
}

TEST_F(SettingsTest, LineEndsDuplicatesAndUnknownKeys) {
  roundTrip(
      "EnableKeyb: 0\r\nGarbage line\nTcpPort: 7000\nNoSuchKey: 5\nTcpPort: 7001\n"
      "EnableGPIO:0\nenablelinear: 0\n");
  EXPECT_EQ(works().set.text.flag(Slot::EnableKeyb), '0');
  EXPECT_EQ(works().set.TcpPort, 7001);                       // the last of a duplicated key wins
  EXPECT_EQ(works().set.text.flag(Slot::EnableGPIO), '1');    // no blank after the colon
  EXPECT_EQ(works().set.text.flag(Slot::EnableLinear), '1');  // keys are case-sensitive
}

TEST_F(SettingsTest, OverlongValuesAreCutToTheirSlotAndSpillNowhere) {
  const std::string text = roundTrip(
      "Pitch: 12345678901234567890\n"
      "Server: 255.255.255.255.255.255\n"
      "PSpar2: 123456789\n"
      "Passphrase: " +
      std::string(200, 'p') +
      "\n"
      "Quality: 77\n");
  EXPECT_EQ(works().set.text.text(Slot::Pitch), "123456789");
  EXPECT_EQ(works().set.text.text(Slot::Quality), "77");
  EXPECT_EQ(works().set.text.text(Slot::Server), "255.255.255.255");
  EXPECT_EQ(works().set.serverAddress.get(), "255.255.255.255");
  EXPECT_EQ(works().set.PSpar2, 12345);  // read from what the slot kept
  // A line is read up to 99 characters: the passphrase keeps what fits in the line.
  EXPECT_EQ(works().set.Passphrase.get(), std::string(99 - 12, 'p'));
  EXPECT_EQ(works().set.text.text(Slot::InChannels), "2");
  EXPECT_EQ(valueOf(text, "Pitch"), "123456789");
  EXPECT_EQ(splitLines(text).size(), kSetupKeyCount);
}

TEST_F(SettingsTest, GarbageNeverBecomesASetting) {
  std::string binary = "EnableCAT: 1";
  binary += '\0';
  binary += "\xff\xfe garbage\n";
  roundTrip(std::string(300, 'z') + "EnableRead: 1\n" + binary +
            "TcpPort: 70000\nTcpPort: x\nMaxTemperature: 99999999999999\n"
            "NumAntenna: 9\nNumAntenna: \nEnableKeyb: \nChunkTime: 0\nBufferingTime: 50\n"
            "WTminVal: nan\nFreqPeriodTime: -\n");
  EXPECT_EQ(works().set.text.flag(Slot::EnableRead), '0');  // tail of an overlong line
  EXPECT_EQ(works().set.text.flag(Slot::EnableCAT), '1');
  EXPECT_EQ(works().set.TcpPort, 6666);
  EXPECT_FLOAT_EQ(works().set.MaxTemperature, 75.0f);  // "99999" kept by the slot, clamped
  EXPECT_EQ(works().set.NumAntenna, 0);
  EXPECT_EQ(works().set.text.flag(Slot::EnableKeyb), '1');
  EXPECT_EQ(works().remote.bufferChunks, 0);  // no division by a zero chunk time
  EXPECT_DOUBLE_EQ(works().set.WTminVal, -140.0);
  EXPECT_EQ(works().set.FreqPeriodTime, 10);
}

TEST_F(SettingsTest, AudioAndWaterfallKeysSetTheirCompanions) {
  roundTrip(
      "AudioCompress: 24000\nChunkTime: 20.0\nBufferingTime: 90.0\nEnableFFT: 0\n"
      "Enable1600: 0\nWTenable: 1\nWTposition: 1\n");
  EXPECT_EQ(works().remote.opusBitrate, 24000);
  EXPECT_EQ(works().remote.captureChunkSamples, 960);
  EXPECT_EQ(works().remote.playChunkSamples, 960);
  EXPECT_EQ(works().remote.bufferChunks, 4);
  EXPECT_EQ(works().set.text.flag(Slot::EnableFFT), '0');
  EXPECT_EQ(works().set.text.flag(Slot::EnableFFT2), '1');  // Enable1600 turns it back on
  EXPECT_EQ(works().set.waterfallFlags, 0x33);
  const std::string text = roundTrip("WTenable: 0\n");
  EXPECT_EQ(works().set.waterfallFlags, 0x22);
  EXPECT_EQ(valueOf(text, "WTenable"), "0");
  EXPECT_EQ(valueOf(text, "WTposition"), "1");
}

TEST_F(SettingsTest, AFailedWriteLeavesThePreviousFile) {
  const std::string before = roundTrip("TcpPort: 7000\n");
  works().set.TcpPort = 8000;

  root.failMount("rw");
  writeSetup(works());
  EXPECT_EQ(root.read("/opt/set/setup.txt"), before);

  std::filesystem::remove(root.dir() / "fail-mount-rw");
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  auto* previous = signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &small);
  writeSetup(works());  // the disk fills up half-way
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(root.read("/opt/set/setup.txt"), before);
  EXPECT_TRUE(log.contains("can't write /opt/set/setup.txt"));
  // And the partition went back to read-only all the same.
  EXPECT_EQ(root.calls().back(), "mount -v -n -o remount -r DIR/opt/set");

  // A temporary file left by a writer killed half-way is not the settings file.
  root.write("/opt/set/setup.txt.Ab12Cd", "TcpPort: 1\n");
  readSetup(works());
  EXPECT_EQ(works().set.TcpPort, 7000);
}

TEST_F(SettingsTest, FactoryResetKeepsCompleteResetValuesUnlessAsked) {
  static int deletes;
  deletes = 0;
  works().core.hooks.DeleteFileConf = [](Works&, int, int) { ++deletes; };
  roundTrip("PSpar3: 7\nTempMode: 1\nTcpPort: 7000\nEnableKeyb: 0\n");
  InitVar_Default(works());
  EXPECT_EQ(deletes, 80);  // four files of each of the twenty banks
  std::string pass = works().set.Passphrase.get();
  ASSERT_EQ(pass.size(), 7u);
  EXPECT_EQ(pass.front(), 'A');
  for (char c : pass) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << pass;
  std::string text = root.read("/opt/set/setup.txt");
  EXPECT_EQ(valueOf(text, "Passphrase"), pass);
  EXPECT_EQ(valueOf(text, "TcpPort"), "6666");
  EXPECT_EQ(valueOf(text, "EnableKeyb"), "1");
  EXPECT_EQ(valueOf(text, "PSpar3"), "7");  // a plain factory reset leaves these
  EXPECT_EQ(valueOf(text, "TempMode"), "1");

  InitCompleteVar(works());
  InitVar_Default(works());
  text = root.read("/opt/set/setup.txt");
  EXPECT_EQ(valueOf(text, "PSpar3"), "80");
  EXPECT_EQ(valueOf(text, "PSpar4"), "50");
  EXPECT_EQ(valueOf(text, "TempMode"), "0");
  EXPECT_EQ(valueOf(text, "FreqSensIn"), "1");
  EXPECT_EQ(valueOf(text, "AttenuatorTune"), "3");
  EXPECT_EQ(valueOf(text, "SaveScreenIdx"), "4");
  EXPECT_EQ(valueOf(text, "AutoTuneMode"), "1");
  EXPECT_NE(valueOf(text, "Passphrase"), pass);
}

TEST_F(SettingsTest, UnitNameIsTheLastLineOfNameTxt) {
  LoadNameCORVID(works());
  EXPECT_EQ(works().core.unitName.get(), "");
  root.write("/opt/set/name.txt", "first\nIK0ABC amp\n");
  LoadNameCORVID(works());
  EXPECT_EQ(works().core.unitName.get(), "IK0ABC amp\n");
}

}  // namespace
}  // namespace corvid
