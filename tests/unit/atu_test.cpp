// The tune value's bit layout, the tune memories and their files.
#include "atu/atu.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "bands/bands.h"
#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::LogCatcher;
using testing::TempRoot;

class AtuTest : public ::testing::Test {
 protected:
  void SetUp() override { InitGlobalVar(w()); }
  Works& w() { return *works_; }
  uint32_t value() { return w().atu.tuneValue.load(); }

  TempRoot root;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(AtuTest, BitsOfLAndC) {
  SetC(w(), 512);
  EXPECT_EQ(value(), 0u) << "only the low nine bits count";
  SetC(w(), 511);
  EXPECT_EQ(value(), kTuneCMask);
  w().atu.tuneValue = 0;
  SetC(w(), 1);
  EXPECT_EQ(value(), 1u << 15);
  SetC(w(), 256);
  EXPECT_EQ(value(), 1u << 20);
  w().atu.tuneValue = 0;
  SetI(w(), 1);
  EXPECT_EQ(value(), 1u << 1);
  SetI(w(), 256);
  EXPECT_EQ(value(), 1u << 21);
  SetI(w(), 511);
  EXPECT_EQ(value(), kTuneLMask);
  // Setting one leaves the other and the mode alone.
  w().atu.tuneValue = kModeCL | encodeC(300);
  SetI(w(), 77);
  EXPECT_EQ(DecodeCapacitaFromTuneval(value()), 300);
  EXPECT_EQ(DecodeInduttanzaFromTuneval(value()), 77);
  EXPECT_EQ(DecodeModoFromTuneval(value()), 1);
}

TEST_F(AtuTest, ModesAndTheirLabels) {
  SetMode(w(), 0);
  EXPECT_EQ(value(), kModeBypass);
  EXPECT_EQ(w().atu.tuneMode, 0) << "mode 0 sets the bypass bit but stays 0";
  EXPECT_EQ(w().atu.tunerBypassed, 1);
  SetMode(w(), 2);
  EXPECT_EQ(value(), kModeLC);
  EXPECT_EQ(w().atu.tunerBypassed, 0);
  SetMode(w(), 7);
  EXPECT_EQ(value(), kModeLC) << "an unknown mode changes only tuneMode";
  EXPECT_EQ(w().atu.tuneMode, 7);
  EXPECT_EQ(DecodeModoFromTuneval(kModeCL | kModeLC), 0);
  EXPECT_TRUE(log.contains("DecodeModoFromTuneval -> tune: 0x840000"));
  w().atu.tuneValue = 0;
  ReadTnePar(w());
  EXPECT_EQ(value(), kModeBypass);
  EXPECT_EQ(w().atu.tuneMode, 3);
  EXPECT_EQ(w().atu.tunerBypassed, 1);
  char label[4];
  w().atu.tuneValue = kModeLC;
  DetermineTumeMemMode(w(), label);
  EXPECT_STREQ(label, "LC");
}

TEST_F(AtuTest, EveryBuiltValueDecodesAndEncodesToItself) {
  std::mt19937 random(12345);
  for (int i = 0; i < 20000; ++i) {
    const int c = static_cast<int>(random() % 512);
    const int l = static_cast<int>(random() % 512);
    const int mode = static_cast<int>(random() % 4);
    w().atu.tuneValue = 0;
    SetC(w(), c);
    SetI(w(), l);
    SetMode(w(), mode);
    const uint32_t built = value();
    ASSERT_EQ(built & ~(kTuneCMask | kTuneLMask | kTuneModeMask), 0u) << "reserved bits stay 0";
    w().atu.tuneValue = 0;
    SetC(w(), DecodeCapacitaFromTuneval(built));
    SetI(w(), DecodeInduttanzaFromTuneval(built));
    SetMode(w(), DecodeModoFromTuneval(built));
    ASSERT_EQ(value(), built) << "c " << c << " l " << l << " mode " << mode;
  }
}

TEST(TuneCells, FrequencyToCellAndBack) {
  AtuSegment seg;
  EXPECT_EQ(AtuIdxSearch(7100000, &seg), 2120);
  EXPECT_EQ(seg.firstIdx, 2100);
  EXPECT_EQ(AtuFreqfromIdx(2120), 7100000);
  EXPECT_EQ(AtuIdxSearch(7101000), 2120);
  EXPECT_EQ(AtuIdxSearch(7102500), 2121);  // half a cell rounds up
  EXPECT_EQ(AtuIdxSearch(1999999, &seg), 1000);
  EXPECT_EQ(seg.firstIdx, 900);
  EXPECT_EQ(seg.lastIdx, 1000);
  EXPECT_EQ(AtuFreqfromIdx(900), 1800000);
  EXPECT_EQ(AtuFreqfromIdx(901), 1802000);
  EXPECT_EQ(AtuIdxSearch(53999999), 4649);
  EXPECT_EQ(AtuIdxSearch(71474999), 4999);
  EXPECT_EQ(AtuIdxSearch(71475000), 5000);
  // Every cell start maps back to its own cell.
  for (int idx = 0; idx <= 4649; ++idx) {
    ASSERT_EQ(AtuIdxSearch(AtuFreqfromIdx(idx)), idx == 900 ? 900 : idx) << idx;
  }
}

TEST_F(AtuTest, RecallTakesTheNearestCellOfTheSameSegment) {
  const int ant = 1;
  w().set.NumAntenna = ant;
  SaveTuneValsuTabRam(w(), {1, 2, 10, 20}, 2110, ant);
  SaveTuneValsuTabRam(w(), {1, 2, 30, 40}, 2130, ant);
  SaveTuneValsuTabRam(w(), {1, 1, 50, 60}, 2099, ant);  // segment 6, just below
  w().ui.trxFreq = 7100000;                             // cell 2120: equally far from 2110 and 2130
  w().atu.tuneValue = kModeCL;
  LoadTuneFromMEM(w(), ant);
  EXPECT_EQ(w().atu.tuneL, 10);
  EXPECT_EQ(w().atu.tuneC, 20);
  EXPECT_EQ(DecodeModoFromTuneval(value()), 2);
  EXPECT_EQ(w().atu.tuneInfoText.get(), "Tune Data Loaded (L10,C20,LC)");

  // Near the bottom of segment 7, the record of segment 6 is never used.
  w().atu.memory.clear(ant);
  SaveTuneValsuTabRam(w(), {1, 1, 50, 60}, 2099, ant);
  w().ui.trxFreq = 7000000;
  w().atu.tuneValue = 0x800000;
  LoadTuneFromMEM(w(), ant);
  EXPECT_EQ(value(), 0x800000u);

  // A record equal to the present setting: no change, no notice.
  w().atu.tuneInfoText.set("");
  w().atu.tuneValue = kModeLC | encodeL(10) | encodeC(20);
  SaveTuneValsuTabRam(w(), {1, 2, 10, 20}, 2120, ant);
  w().ui.trxFreq = 7100000;
  LoadTuneFromMEM(w(), ant);
  EXPECT_EQ(w().atu.tuneInfoText.get(), "");

  // 71475000 Hz and above store nothing.
  SaveTuneValsuTabRam(w(), {1, 2, 1, 1}, AtuIdxSearch(71475000), ant);
  EXPECT_EQ(EsisteTuneValInTabRam(w(), 4999, 4569, 4649, ant), 1);
}

TEST_F(AtuTest, MemoryFilesRoundTripAndRecallAsWritten) {
  root.write("/opt/set/atu_ant1_b2.txt", "2120 7100000 1 3 20 30\n");
  LoadTabAtu(w(), 2, 0);
  w().ui.trxFreq = 7100000;
  LoadTuneFromMEM(w(), 0);
  EXPECT_EQ(DecodeModoFromTuneval(value()), 1) << "a stored bypass recalls as CL";
  EXPECT_EQ(w().atu.tuneL, 20);
  EXPECT_EQ(w().atu.tuneC, 30);

  w().ui.trxFreq = 14200000;
  w().atu.tuneValue = kModeLC | encodeL(100) | encodeC(200);
  InsertTuneToMem(w(), 2, 0);
  const std::string text = root.read("/opt/set/atu_ant1_b2.txt");
  EXPECT_EQ(text, "2120 7100000 1 3 20 30\n3130 14200000 1 2 100 200\n");
  LoadTabAtu(w(), 2, 0);
  SaveTabAtu(w(), 2, 0);
  EXPECT_EQ(root.read("/opt/set/atu_ant1_b2.txt"), text);

  // Bank 0 and banks above 19 use the file without a bank suffix.
  EXPECT_EQ(tuneMemoryPath(0, 2), "/opt/set/atu_ant3.txt");
  EXPECT_EQ(tuneMemoryPath(20, 0), "/opt/set/atu_ant1.txt");
  w().atu.memory.clear(1);
  SaveTabAtu(w(), 5, 1);
  EXPECT_EQ(root.read("/opt/set/atu_ant2_b5.txt"), "") << "no valid record: an empty file";
}

TEST_F(AtuTest, HostileMemoryFileLoadsWhatIsValid) {
  std::string text =
      "; comment\n"
      "2120 7100000 1 2 20 30\n"
      "5000 0 1 1 1 1\n"
      "-3 0 1 1 1 1\n"
      "99999999999999999999 0 1 1 1 1\n"
      "2121 0 1 9 1 1\n"
      "2122 0 1 1 900 1\n"
      "garbage\n" +
      std::string(2000, '7') +
      "\n"
      "\x01\x02\xff binary\n"
      "2123 7115000 1 1\n";
  root.write("/opt/set/atu_ant1_b1.txt", text);
  LoadTabAtu(w(), 1, 0);
  int valid = 0;
  for (int i = 0; i < kTuneCells; ++i) valid += w().atu.memory.get(0, i).valid;
  EXPECT_EQ(valid, 2);
  const TuneRecord r = w().atu.memory.get(0, 2123);
  EXPECT_EQ(r.mode, 1);
  EXPECT_EQ(r.L, 0) << "missing numbers read as 0";
  EXPECT_TRUE(log.contains("LoadTabAtu Errore idx"));
}

}  // namespace
}  // namespace corvid
