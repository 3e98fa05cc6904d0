// The transceiver links through in-memory streams: the FT-817 reply decoding and polling
// machine, and the EXT IO message header, parameter record, spectrum and requested
// commands, with the byte sequences the links are built for.
#include "trx/trx.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/wiring.h"
#include "atu/atu.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using testing::InstantSleep;
using testing::LogCatcher;
using testing::TempRoot;
using Bytes = std::vector<uint8_t>;

// The transceiver's end of a line, in memory: bytes to hand the link, and everything the
// link wrote. A read can be made to fail, and hooks see every read and write.
class FakeLine final : public platform::ByteStream {
 public:
  long read(std::span<uint8_t> buffer, int) override {
    ++reads;
    if (onRead) onRead(*this);
    if (failReads) return -EIO;
    size_t n = 0;
    while (n < buffer.size() && !input.empty() && n < maxChunk) {
      buffer[n++] = input.front();
      input.pop_front();
    }
    return static_cast<long>(n);
  }
  long write(std::span<const uint8_t> data) override {
    written.insert(written.end(), data.begin(), data.end());
    if (onWrite) onWrite(*this, data);
    return static_cast<long>(data.size());
  }
  void feed(const Bytes& bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }
  void feed(std::string_view text) { input.insert(input.end(), text.begin(), text.end()); }
  std::string text() const { return {written.begin(), written.end()}; }

  std::deque<uint8_t> input;
  Bytes written;
  bool failReads = false;
  size_t maxChunk = SIZE_MAX;  // bytes one read hands out at most
  int reads = 0;
  std::function<void(FakeLine&)> onRead;
  std::function<void(FakeLine&, std::span<const uint8_t>)> onWrite;
};

class TrxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitGlobalVar(w());
    initErrorTable(w());
    w().errors.errorsMuted = 0;
  }
  Works& w() { return *works_; }
  PexParams pex() {
    PexParams copy;
    EXPECT_TRUE(getParameters(copy, w()));
    return copy;
  }

  InstantSleep instant;
  LogCatcher log;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

// ---------------------------------------------------------------- FT-817

TEST(Ft817Bcd, EveryByteWithADigitAboveNineIsRejected) {
  int valid = 0;
  for (int b = 0; b < 256; ++b) {
    const bool digits = (b >> 4) <= 9 && (b & 0x0F) <= 9;
    EXPECT_EQ(VerifyByteFreq(static_cast<uint8_t>(b)) == 0, digits) << b;
    valid += digits ? 1 : 0;
  }
  EXPECT_EQ(valid, 100);
}

TEST(Ft817Bcd, FrequencyOfTheFourBytesInTensOfHertz) {
  EXPECT_EQ(catReplyFrequency(Bytes{0x01, 0x42, 0x50, 0x00, 0x01}), 14'250'000);
  EXPECT_EQ(catReplyFrequency(Bytes{0x00, 0x70, 0x00, 0x00, 0x00}), 7'000'000);
  EXPECT_EQ(catReplyFrequency(Bytes{0x14, 0x50, 0x00, 0x00, 0x08}), 145'000'000);
  EXPECT_EQ(catReplyFrequency(Bytes{0x99, 0x99, 0x99, 0x99}), 999'999'990);
  EXPECT_EQ(catReplyFrequency(Bytes{0x01, 0x4A, 0x00, 0x00, 0x00}), -1);
  EXPECT_EQ(catReplyFrequency(Bytes{0x01, 0x42, 0x50, 0xA0, 0x00}), -1);
  EXPECT_EQ(catReplyFrequency(Bytes{0x01, 0x42, 0x50}), -1);  // too short to hold one
}

TEST_F(TrxTest, Ft817ReplyIsTakenOnlyAsTheAnswerToARequest) {
  TrxState& trx = w().trx;
  trx.lastCommandSent = 0;
  EXPECT_FALSE(DecodeCatSerialCmd(w(), Bytes{0x01, 0x42, 0x50, 0x00, 0x01}));
  EXPECT_EQ(trx.catSerFreq, 0u);

  trx.lastCommandSent = kCatOpReadFreqMode;
  EXPECT_TRUE(DecodeCatSerialCmd(w(), Bytes{0x01, 0x42, 0x50, 0x00, 0x01}));
  EXPECT_EQ(trx.catSerFreq, 14'250'000u);
  EXPECT_EQ(trx.lastCommandSent, 0);
  EXPECT_EQ(instant.total(), std::chrono::milliseconds(20));

  // Non-BCD bytes: reported with all five bytes, the frequency keeps its value.
  for (const Bytes& bad :
       {Bytes{0x01, 0x4A, 0x00, 0x00, 0x00}, Bytes{0x01, 0x42, 0x50, 0xA0, 0x00}}) {
    trx.lastCommandSent = kCatOpReadFreqMode;
    EXPECT_FALSE(DecodeCatSerialCmd(w(), bad));
    EXPECT_EQ(trx.catSerFreq, 14'250'000u);
    EXPECT_EQ(trx.lastCommandSent, 0);
  }
  EXPECT_TRUE(log.contains("CAT FT817 freq not decoded :  01 4a 00 00 00"));
  EXPECT_TRUE(log.contains("CAT FT817 freq not decoded :  01 42 50 a0 00"));
  EXPECT_EQ(trx.catSerRejected, 2u);

  // Fewer than five bytes are never decoded.
  trx.lastCommandSent = kCatOpReadFreqMode;
  EXPECT_FALSE(DecodeCatSerialCmd(w(), Bytes{0x00, 0x70, 0x00, 0x00}));
  EXPECT_EQ(trx.catSerFreq, 14'250'000u);
}

class Ft817PollTest : public TrxTest {
 protected:
  void SetUp() override {
    TrxTest::SetUp();
    w().trx.catProcessStatus = CatSend;
  }
  // Runs turns until n requests went out (or the step limit).
  void runUntilRequests(size_t n, int maxSteps = 100000) {
    for (int i = 0; i < maxSteps && line.written.size() < n * kCatReplyBytes; ++i) poller.step();
  }
  FakeLine line;
  CatSerialPoller poller{w(), line};
};

TEST_F(Ft817PollTest, RequestReplyPauseRequest) {
  // The transceiver answers each request with its frequency, in two pieces.
  line.maxChunk = 3;
  line.onWrite = [](FakeLine& l, std::span<const uint8_t>) {
    l.feed(Bytes{0x00, 0x70, 0x00, 0x00, 0x03});
  };
  runUntilRequests(3);
  const Bytes request(kCatReadFreqMode.begin(), kCatReadFreqMode.end());
  ASSERT_EQ(line.written.size(), 15u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Bytes(line.written.begin() + static_cast<long>(i * 5),
                    line.written.begin() + static_cast<long>(i * 5 + 5)),
              request);
  }
  EXPECT_EQ(w().trx.catSerFreq, 7'000'000u);
  EXPECT_EQ(w().trx.catSerReplies, 2u);
  // Each handled reply was followed by the 20 ms pause, and nothing else waited.
  EXPECT_EQ(instant.total(), std::chrono::milliseconds(40));
  EXPECT_TRUE(log.contains("CAT FT817 freq 7000000"));
}

TEST_F(Ft817PollTest, SilentTransceiverIsAskedAgainEveryTwoAndAHalfSeconds) {
  runUntilRequests(4);
  ASSERT_EQ(line.written.size(), 20u);
  EXPECT_EQ(w().trx.catSerTimeouts, 3u);
  // 1500 idle milliseconds, then the 1 s pause, before each new request.
  EXPECT_EQ(instant.total(), std::chrono::milliseconds(3 * 2500));
  int timeouts = 0;
  for (const std::string& l : log.lines()) {
    if (l.find("<<<<<<<<<<<<<<<<<<<<TIMEOUT SERIAL CAT!!!!") != std::string::npos) ++timeouts;
  }
  EXPECT_EQ(timeouts, 3);
  EXPECT_EQ(w().trx.catSerFreq, 0u);
}

TEST_F(Ft817PollTest, LostByteShiftsTheFramingUntilTheTimeoutDiscardsIt) {
  w().trx.catSerFreq = 3'600'000;
  int replies = 0;
  line.onWrite = [&](FakeLine& l, std::span<const uint8_t>) {
    // The first reply loses its last byte; the second one is whole.
    if (++replies == 1)
      l.feed(Bytes{0x01, 0x40, 0x70, 0x00});
    else
      l.feed(Bytes{0x01, 0x40, 0x70, 0x00, 0x01});
  };
  runUntilRequests(3);
  EXPECT_EQ(w().trx.catSerTimeouts, 1u);
  EXPECT_EQ(w().trx.catSerFreq, 14'070'000u);
}

TEST_F(Ft817PollTest, FailingPortIsLoggedOnceAndStillTimesOut) {
  line.failReads = true;
  runUntilRequests(3);
  EXPECT_EQ(line.written.size(), 15u);
  int failures = 0;
  for (const std::string& l : log.lines()) failures += l.find("timeout -5") != std::string::npos;
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(w().trx.catSerTimeouts, 2u);
}

TEST_F(Ft817PollTest, RunEndsWhenTheLinkIsSwitchedOff) {
  line.onWrite = [&](FakeLine& l, std::span<const uint8_t>) {
    l.feed(Bytes{0x00, 0x70, 0x00, 0x00, 0x03});
    if (l.written.size() >= 10) w().set.text.setFlag(Slot::catSerialEnable, '0');
  };
  w().set.text.setFlag(Slot::catSerialEnable, '1');
  poller.run();  // returns: nothing else would end it
  EXPECT_EQ(line.written.size(), 10u);

  w().set.text.setFlag(Slot::catSerialEnable, '1');
  w().core.running = 0;
  poller.run();
  EXPECT_EQ(line.written.size(), 10u);
}

TEST_F(TrxTest, Ft817PortThatCannotBeOpenedIsShownOnThePanel) {
  TempRoot root;
  w().set.text.setText(Slot::CatSerialPort, "/dev/VORN817");
  CatSerial(w());
  EXPECT_EQ(w().amp.linkFailed, 2);
  EXPECT_EQ(w().amp.linkErrorText.get(), "CAT: Unable to open device /dev/VORN817");
  EXPECT_TRUE(log.contains("Init CATSerial Port /dev/VORN817"));
  EXPECT_TRUE(log.contains("Unable to open device /dev/VORN817"));
  EXPECT_TRUE(listedErrors(w()).empty());  // no error number for this one

  // A device that opens but is no terminal cannot take the line settings.
  std::filesystem::create_directories(root.path("/dev"));
  root.write("/dev/VORN817", "");
  CatSerial(w());
  EXPECT_EQ(w().amp.linkErrorText.get(), "CAT: Unable to set comm port /dev/VORN817");
}

// ---------------------------------------------------------------- EXT IO

// A message as the transceiver sends it: type, kind, four length digits least
// significant first (0x30 + value), payload.
Bytes extIoMessage(uint8_t type, uint8_t kind, const Bytes& payload, int length = -1) {
  const int n = length < 0 ? static_cast<int>(payload.size()) : length;
  Bytes m = {type, kind};
  for (int i = 0; i < 4; ++i) m.push_back(static_cast<uint8_t>(0x30 + ((n >> (4 * i)) & 0x0F)));
  m.insert(m.end(), payload.begin(), payload.end());
  return m;
}

// n digit bytes (0x30 + value), most significant first.
Bytes digits(uint32_t value, int n) {
  Bytes out;
  for (int i = n - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(0x30 + ((value >> (4 * i)) & 0x0F)));
  return out;
}

// A full 31-byte record: byte 0 flags, the frequency, and every group in use.
struct Record {
  uint8_t flags = 0x00;
  uint32_t freq = 14'070'000;
  uint8_t b9 = 0x80 | 0x01;   // receiving, no split, mode 1
  uint8_t b10 = 0x40 | 0x01;  // main volume, gate open
  uint8_t b11 = 0x40 | 0x05;  // squelch 5
  uint8_t b12 = 0x80, b13 = 0x40, b14 = 0x32, b15 = 0x33;
  uint8_t b16 = 0x60, b17 = 0x61, b18 = 0x32, b19 = 0x67;
  uint8_t b20 = 0x40, b21 = 211, b22 = 30;
  uint32_t shift = 2500;
  uint32_t offset = 0;
  Bytes bytes(size_t length = 31) const {
    Bytes b = {flags};
    const Bytes f = digits(freq, 8);
    b.insert(b.end(), f.begin(), f.end());
    for (uint8_t x : {b9, b10, b11, b12, b13, b14, b15, b16, b17, b18, b19, b20, b21, b22})
      b.push_back(x);
    const Bytes s = digits(shift, 3);
    b.insert(b.end(), s.begin(), s.end());
    const Bytes o = digits(offset & 0xFFFFF, 5);
    b.insert(b.end(), o.begin(), o.end());
    b.resize(length);
    return b;
  }
};

TEST(ExtIoHeader, LengthDigitsArriveLeastSignificantFirst) {
  auto length = [](std::string_view d) {
    const std::array<uint8_t, 4> bytes = {static_cast<uint8_t>(d[0]), static_cast<uint8_t>(d[1]),
                                          static_cast<uint8_t>(d[2]), static_cast<uint8_t>(d[3])};
    return decodeCmdParameters(bytes);
  };
  EXPECT_EQ(length("0200"), 0x20);
  EXPECT_EQ(length(":000"), 10);
  EXPECT_EQ(length("0?30"), 0x3F0);
  EXPECT_EQ(length("0040"), 1024);
  EXPECT_EQ(length("?>10"), 0x1EF);
  // A byte that is no digit ends the number where it stands in reading order (the
  // most significant digit arrives last).
  EXPECT_EQ(length("123x"), 0);
  EXPECT_EQ(length("x123"), 0x321);
  EXPECT_EQ(length("12A0"), 0);  // 'A' is taken 7 higher: no digit
}

TEST(ExtIoHeader, LengthOf2000OrMoreIsReportedAndCut) {
  LogCatcher log;
  const std::array<uint8_t, 4> max = {'?', '?', '?', '?'};
  EXPECT_EQ(decodeCmdParameters(max), 1999);
  EXPECT_TRUE(log.contains("----------> 3SERIAL : ERROR dataLength 65535   FFFF!!!!!!"));
  const std::array<uint8_t, 4> exactly2000 = {'0', '=', '7', '0'};  // 0x07D0
  EXPECT_EQ(decodeCmdParameters(exactly2000), 1999);
  const std::array<uint8_t, 4> just1999 = {'?', '<', '7', '0'};  // 0x07CF
  EXPECT_EQ(decodeCmdParameters(just1999), 1999);
  const std::array<uint8_t, 4> small = {'>', '<', '7', '0'};  // 0x07CE
  EXPECT_EQ(decodeCmdParameters(small), 1998);
}

TEST_F(TrxTest, FrequencyDigitsAndTheFirstRecordClearingTheRecord) {
  EXPECT_EQ(pex().shiftHz, 2500);  // the start-up value
  // 0x00D64820: digits as 0x30 + value, the bare values work alike.
  const Bytes nine = {0x00, 0x30, 0x30, 0x3D, 0x36, 0x34, 0x38, 0x32, 0x30};
  ASSERT_TRUE(storeParameters(w(), nine));
  PexParams p = pex();
  EXPECT_EQ(p.freqValue, 14'043'168u);
  EXPECT_EQ(p.freqA, 14'043'168u);
  EXPECT_EQ(p.freq, 14'043'168u);
  EXPECT_EQ(p.shiftHz, 0);  // cleared with the whole record
  EXPECT_TRUE(log.contains("EXT IO freq 14043168"));

  const Bytes bare = {0x00, 0x00, 0x00, 0x0D, 0x06, 0x04, 0x08, 0x02, 0x01};
  ASSERT_TRUE(storeParameters(w(), bare));
  EXPECT_EQ(pex().freq, 14'043'169u);
  EXPECT_EQ(pex().freqRxPrev, 14'043'168u);
  EXPECT_EQ(pex().freqRx, 14'043'169u);
}

TEST_F(TrxTest, NineBytesSetOnlyTheFrequencyAndTheFlags) {
  Record full;
  full.b9 = 0x80 | 0x40 | 0x03;  // transmitting, mode 3
  ASSERT_TRUE(storeParameters(w(), full.bytes()));
  const PexParams before = pex();
  EXPECT_EQ(before.transmit, 1);
  EXPECT_EQ(before.mode, 3);

  Record shortOne;
  shortOne.flags = 0x40 | 0x0C;  // flagA, flagsAB 3
  shortOne.freq = 7'074'000;
  ASSERT_TRUE(storeParameters(w(), shortOne.bytes(9)));
  PexParams after = pex();
  EXPECT_EQ(after.freq, 7'074'000u);
  EXPECT_EQ(after.flagA, 1);
  EXPECT_EQ(after.flagsAB, 3);
  // Everything else is as it was.
  after.freq = before.freq;
  after.freqA = before.freqA;
  after.freqValue = before.freqValue;
  after.freqRx = before.freqRx;
  after.freqRxPrev = before.freqRxPrev;
  after.flagA = before.flagA;
  after.flagsAB = before.flagsAB;
  EXPECT_EQ(after, before);
}

TEST_F(TrxTest, EveryByteGroupOfAFullRecord) {
  Record r;
  r.flags = 0x00;
  r.b9 = 0x80 | 0x10 | 0x06;                 // flagC, mode 6
  r.b10 = 0x40 | 0x20 | 0x08 | 0x02 | 0x01;  // volumeTarget 2, signA -, signC -, gate +
  r.b11 = 0x40 | 0x20 | 0x10 | 0x07;         // antenna input 1, PTT out, squelch 7
  r.b12 = 0x80 | (5 << 3) | 0x04 | 0x02;     // filterB 5, kind 1, filterA 2
  r.b13 = 0x40 | 0x20 | 0x09;                // flagD, filterC 9
  r.b14 = 0x34;                              // nr 4
  r.b15 = 0x3A;                              // nb 10
  r.b16 = 0x7F;
  r.b17 = 0x60;
  r.b18 = 0x3F;
  r.b19 = 0x7F;
  r.b20 = 0x40 | 0x10 | 0x08 | 0x04;  // att, lp, antenna 2, flagF 0
  r.b21 = 200;                        // level -11
  r.b22 = 0x80 | 33;                  // side volume 33 (bit 7 not part of it)
  r.shift = 0x123;
  r.offset = 0x00400;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  const PexParams p = pex();
  EXPECT_EQ(p.flagC, 1);
  EXPECT_EQ(p.mode, 6);
  EXPECT_EQ(p.modeA, 6);
  EXPECT_EQ(p.volumeTarget, 2);
  EXPECT_EQ(p.signA, -1);
  EXPECT_EQ(p.signB, 1);
  EXPECT_EQ(p.signC, -1);
  EXPECT_EQ(p.audioGate, 1);
  EXPECT_EQ(p.antennaInput, 1);
  EXPECT_EQ(p.pttOut, 1);
  EXPECT_EQ(p.squelch, 7);
  EXPECT_EQ(p.filterKind, 1);
  EXPECT_EQ(p.filterA, 2);
  EXPECT_EQ(p.filterB, 5);
  EXPECT_EQ(p.filterC, 9);
  EXPECT_EQ(p.filterIndex, 14);
  EXPECT_EQ(p.flagD, 1);
  EXPECT_EQ(p.flagE, 0);
  EXPECT_EQ(p.nr, 4);
  EXPECT_EQ(p.nb, 10);
  EXPECT_EQ(p.setting1, 32);
  EXPECT_EQ(p.setting2, 1);
  EXPECT_EQ(p.setting3, 16);
  EXPECT_EQ(p.setting4, 8);
  EXPECT_EQ(p.setting5, 4);
  EXPECT_EQ(p.att, 1);
  EXPECT_EQ(p.lp, 1);
  EXPECT_EQ(p.antenna, 2);
  EXPECT_EQ(p.flagF, -1);
  EXPECT_EQ(p.level, -11);
  EXPECT_EQ(p.volumeSide, 33);
  EXPECT_EQ(p.volume, 0);  // not received: no start value either
  EXPECT_EQ(p.shiftHz, 0x123);
  EXPECT_EQ(p.offsetHz, 0x400);

  // Bytes outside their ranges leave their groups alone.
  Record odd = r;
  odd.b9 = 0x46;   // bit 7 clear
  odd.b10 = 0x80;  // not 0x40..0x7F
  odd.b11 = 0x30;
  odd.b12 = 0x7F;  // bit 7 clear
  odd.b14 = 0x44;
  odd.b15 = 0x23;
  odd.b18 = 0x60;  // not 0x30..0x3F
  odd.b20 = 0x80;
  odd.shift = 0x456;
  Bytes bytes = odd.bytes();
  bytes[24] = 0x41;  // no digit: the shift keeps its value
  ASSERT_TRUE(storeParameters(w(), bytes));
  PexParams q = pex();
  q.level = p.level;
  q.volumeSide = p.volumeSide;
  q.freqRxPrev = p.freqRxPrev;
  EXPECT_EQ(q, p);
}

TEST_F(TrxTest, FilterIndexFollowsTheReceivedFilterOfItsKind) {
  Record r;
  r.b12 = 0x80 | (3 << 3) | 0x01;  // kind 0, filterB 3
  r.b13 = 0x40 | 0x02;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(pex().filterIndex, 4);
  // A received 0 is the remembered level, but the index is of the received value.
  r.b12 = 0x80 | 0x01;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(pex().filterB, -3);
  EXPECT_EQ(pex().filterIndex, 1);
}

TEST_F(TrxTest, OffsetIsTwentyBitTwosComplement) {
  Record r;
  Bytes b = r.bytes();
  const Bytes minusFour = {0x3F, 0x3F, 0x3F, 0x3F, 0x3C};
  std::copy(minusFour.begin(), minusFour.end(), b.begin() + 26);
  ASSERT_TRUE(storeParameters(w(), b));
  EXPECT_EQ(pex().offsetHz, -4);
  r.offset = 0x80000;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(pex().offsetHz, -524288);
  r.offset = 0x7FFFF;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(pex().offsetHz, 524287);
  // 30 bytes do not hold the offset: it stays.
  r.offset = 5;
  ASSERT_TRUE(storeParameters(w(), r.bytes(30)));
  EXPECT_EQ(pex().offsetHz, 524287);
}

TEST_F(TrxTest, LevelsAreRememberedWhileOff) {
  Record r;
  auto squelch = [&](uint8_t value) {
    r.b11 = static_cast<uint8_t>(0x40 | value);
    EXPECT_TRUE(storeParameters(w(), r.bytes()));
    return pex().squelch;
  };
  EXPECT_EQ(squelch(0), -1);  // never set: its start value
  EXPECT_EQ(squelch(7), 7);
  EXPECT_EQ(squelch(0), -7);
  EXPECT_EQ(squelch(0), -7);
  EXPECT_EQ(squelch(3), 3);

  // The target picks the volume field. The main volume was 30 in every record so far;
  // the two others were never set: their start values are 50 (aux) and 5 (side).
  EXPECT_EQ(pex().volume, 30);
  r.b22 = 0;
  for (int target : {0, 1, 2}) {
    r.b10 = static_cast<uint8_t>(0x40 | (target << 4) | 1);
    ASSERT_TRUE(storeParameters(w(), r.bytes()));
  }
  EXPECT_EQ(pex().volume, -30);
  EXPECT_EQ(pex().volumeAux, 50);
  EXPECT_EQ(pex().volumeSide, 5);
  r.b22 = 20;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  r.b22 = 0;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(pex().volumeSide, -20);
  EXPECT_EQ(pex().volume, -30);
}

TEST_F(TrxTest, VfoBMemoryAndSplitFrequencies) {
  Record a;
  a.freq = 14'200'000;
  Record b;
  b.flags = 0x10;  // this record is VFO B's
  b.freq = 7'100'000;
  b.b9 = 0x80 | 0x02;  // mode 2 on B
  ASSERT_TRUE(storeParameters(w(), a.bytes()));
  ASSERT_TRUE(storeParameters(w(), b.bytes()));
  PexParams p = pex();
  EXPECT_EQ(p.freqA, 14'200'000u);
  EXPECT_EQ(p.freqB, 7'100'000u);
  EXPECT_EQ(p.freq, 14'200'000u);  // A is active
  EXPECT_EQ(p.modeB, 2);
  EXPECT_EQ(p.mode, 1);

  // VFO B becomes active: its frequency and mode are followed, also when A's record
  // comes next.
  a.flags = 0x20;
  b.flags = 0x30;
  ASSERT_TRUE(storeParameters(w(), b.bytes()));
  EXPECT_EQ(pex().freq, 7'100'000u);
  EXPECT_EQ(pex().mode, 2);
  ASSERT_TRUE(storeParameters(w(), a.bytes()));
  EXPECT_EQ(pex().freq, 7'100'000u);
  EXPECT_EQ(pex().freqA, 14'200'000u);

  // A memory channel.
  Record m;
  m.flags = 0x01;
  m.freq = 3'573'000;
  ASSERT_TRUE(storeParameters(w(), m.bytes()));
  EXPECT_EQ(pex().freqMemory, 3'573'000u);
  EXPECT_EQ(pex().freq, 3'573'000u);
  EXPECT_EQ(pex().freqB, 7'100'000u);

  // Split on A: the amplifier follows B (the transmit frequency), freqRx stays A's.
  a.flags = 0x00;
  a.b9 = 0x80 | 0x20 | 0x01;
  ASSERT_TRUE(storeParameters(w(), a.bytes()));
  p = pex();
  EXPECT_EQ(p.split, 1);
  EXPECT_EQ(p.freq, 7'100'000u);
  EXPECT_EQ(p.freqRx, 14'200'000u);
  EXPECT_EQ(p.freqRxPrev, 3'573'000u);
}

TEST_F(TrxTest, BadFrequencyDigitsLeaveTheFrequency) {
  Record r;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  Bytes bad = r.bytes();
  bad[3] = 0x4A;  // no digit
  r.freq = 21'000'000;
  ASSERT_TRUE(storeParameters(w(), bad));
  EXPECT_EQ(pex().freq, 14'070'000u);
  EXPECT_EQ(pex().freqA, 14'070'000u);
}

TEST_F(TrxTest, ClosingAudioGateRestartsRemotePlaybackOnce) {
  static int resets = 0;
  resets = 0;
  w().trx.hooks.resetRemotePlayback = [](Works&) { ++resets; };
  Record r;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));  // open
  r.b10 = 0x40;                                  // closed
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(pex().audioGate, -1);
}

TEST_F(TrxTest, BusySerMutDropsTheRecordAfterTenTries) {
  Record r;
  ASSERT_TRUE(storeParameters(w(), r.bytes()));
  const auto sleptBefore = instant.total();
  {
    // Held by another thread, as the display loop would.
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    std::thread holder([&] {
      std::scoped_lock lock(w().trx.serMut);
      held = true;
      while (!release) std::this_thread::yield();
    });
    while (!held) std::this_thread::yield();
    r.freq = 18'100'000;
    EXPECT_FALSE(storeParameters(w(), r.bytes()));
    EXPECT_FALSE(storeFFT(w(), Bytes(1024, 100)));
    PexParams copy;
    copy.freq = 1;
    EXPECT_FALSE(getParameters(copy, w()));
    EXPECT_EQ(copy.freq, 1u);
    release = true;
    holder.join();
  }
  EXPECT_EQ(instant.total() - sleptBefore, std::chrono::milliseconds(3 * 10));
  EXPECT_TRUE(log.contains("serMut mutex cannot be locked"));
  EXPECT_EQ(pex().freq, 14'070'000u);
  EXPECT_EQ(w().trx.extIoDropped, 2u);
}

TEST_F(TrxTest, FftLevelsOfPayloadBytesOneOnward) {
  Bytes fft(1024);
  for (size_t i = 0; i < fft.size(); ++i) fft[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(storeFFT(w(), fft));
  {
    std::scoped_lock lock(w().trx.serMut);
    EXPECT_FLOAT_EQ(w().trx.pexLevels[0], 1 - 192.0f);
    EXPECT_FLOAT_EQ(w().trx.pexLevels[853], static_cast<float>(854 % 256) - 192.0f);
  }
  // A short payload changes only the points it reaches.
  ASSERT_TRUE(storeFFT(w(), Bytes{0, 200, 201}));
  ASSERT_TRUE(storeFFT(w(), Bytes{}));
  std::scoped_lock lock(w().trx.serMut);
  EXPECT_FLOAT_EQ(w().trx.pexLevels[0], 8.0f);
  EXPECT_FLOAT_EQ(w().trx.pexLevels[1], 9.0f);
  EXPECT_FLOAT_EQ(w().trx.pexLevels[2], 3 - 192.0f);
}

TEST(ExtIoSpectrum, StartBinFollowsOffsetShiftAndMode) {
  PexParams p;
  p.shiftHz = 2500;
  p.mode = 1;
  EXPECT_EQ(clientSpectrumStart(p), 85);
  p.mode = 6;
  EXPECT_EQ(clientSpectrumStart(p), 98);  // 85 + 13.33
  p.mode = 4;
  EXPECT_EQ(clientSpectrumStart(p), 71);  // 85 - 13.33
  p.mode = 1;
  p.offsetHz = -20000;
  EXPECT_EQ(clientSpectrumStart(p), 1002);  // 85 - 106.66 + 1024
  p.offsetHz = 300000;
  EXPECT_EQ(clientSpectrumStart(p), (85 + 1599) % 1024);  // beyond the span: wraps
  p.offsetHz = -524288;
  const int start = clientSpectrumStart(p);
  EXPECT_GE(start, 0);
  EXPECT_LT(start, 1024);
}

TEST(ExtIoSpectrum, RotatedSoThatTheStartBinComesFirst) {
  Bytes fft(1024);
  for (size_t i = 0; i < fft.size(); ++i) fft[i] = static_cast<uint8_t>(i * 7);
  PexParams p;
  std::array<uint8_t, kFftBins> out{};
  ASSERT_EQ(buildClientSpectrum(fft, p, out), 854u);
  for (size_t i = 0; i < kFftBins; ++i) EXPECT_EQ(out[i], fft[(85 + i) % 1024]) << i;
  // Short payloads: bins past them are 0, and fewer than 170 bytes send nothing.
  const Bytes shortFft(300, 9);
  EXPECT_EQ(buildClientSpectrum(shortFft, p, out), 130u);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[300 - 85], 0);
  EXPECT_EQ(buildClientSpectrum(Bytes(100, 1), p, out), 0u);
  // Longer than 1024 bins: never more than the 1024 that exist.
  EXPECT_EQ(buildClientSpectrum(Bytes(1999, 1), p, out), 1024u);
}

TEST_F(TrxTest, RequestedCommandsInTheirOrder) {
  FakeLine line;
  w().atu.tuneFlags = kTuneAskReceive | kTuneAskCarrier | kTuneByKey;
  w().trx.pexRequests = 0x03;
  w().trx.pexTxRequest = 0x01;
  w().trx.pexPowerValue = 5000;
  w().trx.pexPowerRequest = 0x01;
  sendRequestedCommands(w(), line);
  EXPECT_EQ(line.text(), "RX;PT00;TU120;TX2;RX;TQ5000;");
  EXPECT_EQ(w().atu.tuneFlags, kTuneRefused | kTuneCarrierAsked | kTuneByKey);
  EXPECT_EQ(w().trx.pexRequests, 0x01);
  EXPECT_EQ(w().trx.pexTxRequest, 0x00);
  EXPECT_EQ(w().trx.pexTxHold, 30);
  EXPECT_EQ(w().trx.pexPowerRequest, 0x02);
  EXPECT_TRUE(log.contains("SENT PEX RX;! (0x34)"));
  EXPECT_TRUE(log.contains("SENT PEX TX2;! (0x38)"));
  EXPECT_TRUE(log.contains("--------------- SENT POWER TQ;! (TQ5000;)"));

  // Nothing asked: nothing sent.
  line.written.clear();
  sendRequestedCommands(w(), line);
  EXPECT_EQ(line.text(), "");
}

TEST_F(TrxTest, CarrierRequestWaitsForTheAntennaBits) {
  FakeLine line;
  w().trx.pexTxHold = 0;
  for (int antenna : {0x00, 0x30}) {
    line.written.clear();
    w().trx.pexTxRequest = static_cast<uint8_t>(0x03 | antenna);
    sendRequestedCommands(w(), line);
    EXPECT_EQ(line.text(), "TU120;TX2;");
    EXPECT_EQ(w().trx.pexTxRequest, 0x02 | antenna);
  }
  for (int antenna : {0x10, 0x20}) {
    line.written.clear();
    w().trx.pexTxRequest = static_cast<uint8_t>(0x03 | antenna);
    sendRequestedCommands(w(), line);
    EXPECT_EQ(line.text(), "");  // stays asked
    EXPECT_EQ(w().trx.pexTxRequest, 0x03 | antenna);
  }
  EXPECT_EQ(w().trx.pexTxHold, 0);
  // The power is always four digits.
  for (auto [value, text] :
       {std::pair{7, "TQ0007;"}, std::pair{20000, "TQ9999;"}, std::pair{-5, "TQ0000;"}}) {
    line.written.clear();
    w().trx.pexTxRequest = 0;
    w().trx.pexPowerValue = value;
    w().trx.pexPowerRequest = 0x01;
    sendRequestedCommands(w(), line);
    EXPECT_EQ(line.text(), text);
  }
}

class ExtIoLinkTest : public TrxTest {
 protected:
  void SetUp() override {
    TrxTest::SetUp();
    w().set.text.setFlag(Slot::extIoEnable, '1');
    w().set.text.setFlag(Slot::EnableFFT2, '0');
    w().bands.freqInterface = FreqInterface::ExtIo;
    w().amp.commErrorHoldoff = 0;
  }
  // Ends the link once the stream has nothing left (as if the flag went down).
  void stopWhenDrained() {
    line.onRead = [this](FakeLine& l) {
      if (l.input.empty()) w().set.text.setFlag(Slot::extIoEnable, '0');
    };
  }
  FakeLine line;
  ExtIoLink link{w(), line};
};

TEST_F(ExtIoLinkTest, MessagesAreDecodedAndRelayedAndCommandsFollowEach) {
  static std::vector<Bytes> relayedRecords;
  static std::vector<Bytes> relayedSpectra;
  relayedRecords.clear();
  relayedSpectra.clear();
  w().trx.hooks.sendWebSockSerParFrame = [](Works&, std::span<const uint8_t> b) {
    relayedRecords.emplace_back(b.begin(), b.end());
  };
  w().trx.hooks.sendWebSockSerSpectrFrame = [](Works&, std::span<const uint8_t> b) {
    relayedSpectra.emplace_back(b.begin(), b.end());
  };
  Record r;
  r.freq = 10'136'000;
  Bytes fft(1024, 82);
  fft[85] = 150;
  line.feed(Bytes{0xFF, 0x80, '1'});  // noise before the first type byte
  line.feed(extIoMessage(1, '1', r.bytes()));
  line.feed(extIoMessage(0, '0', fft));
  line.maxChunk = 7;
  w().trx.pexPowerValue = 1000;
  w().trx.pexPowerRequest = 0x01;
  line.onWrite = [this](FakeLine&, std::span<const uint8_t>) {
    // The next command is asked while the first message is handled.
    w().atu.tuneFlags = kTuneAskCarrier;
  };
  stopWhenDrained();
  link.run();

  EXPECT_EQ(pex().freq, 10'136'000u);
  ASSERT_EQ(relayedRecords.size(), 1u);
  EXPECT_EQ(relayedRecords[0], r.bytes());
  ASSERT_EQ(relayedSpectra.size(), 1u);
  EXPECT_EQ(relayedSpectra[0].size(), 854u);
  EXPECT_EQ(relayedSpectra[0][0], 150);
  EXPECT_EQ(line.text(), "TQ1000;TU120;TX2;");
  EXPECT_EQ(w().trx.extIoRecords, 1u);
  EXPECT_EQ(w().trx.extIoSpectra, 1u);
}

TEST_F(ExtIoLinkTest, SpectrumGoesToTheClientOnlyWhenItIsTheSource) {
  static int spectra = 0;
  spectra = 0;
  w().trx.hooks.sendWebSockSerSpectrFrame = [](Works&, std::span<const uint8_t>) { ++spectra; };
  w().set.text.setFlag(Slot::EnableFFT2, '1');  // the USB capture is the source
  line.feed(extIoMessage(0, '0', Bytes(1024, 90)));
  stopWhenDrained();
  link.run();
  EXPECT_EQ(spectra, 0);
  EXPECT_EQ(w().trx.extIoSpectra, 1u);
}

TEST_F(ExtIoLinkTest, OtherTypesAndKindsLeaveTheirPayloadInTheStream) {
  Record inner;
  inner.freq = 24'915'000;
  // Type 5: "Error3", and its payload (a whole parameter message) is read as messages.
  line.feed(extIoMessage(5, '1', extIoMessage(1, '1', inner.bytes())));
  // Type 1 with the FFT kind: nothing, its payload is scanned too.
  Record second;
  second.freq = 28'074'000;
  line.feed(extIoMessage(1, '0', extIoMessage(1, '1', second.bytes())));
  stopWhenDrained();
  link.run();
  EXPECT_TRUE(log.contains("Error3"));
  EXPECT_EQ(w().trx.extIoRecords, 2u);
  EXPECT_EQ(pex().freq, 28'074'000u);
}

TEST_F(ExtIoLinkTest, OverlongLengthReadsOnly1999Bytes) {
  Record r;
  r.freq = 50'313'000;
  Bytes payload = r.bytes();
  payload.resize(1999, 0x7F);
  line.feed(extIoMessage(1, '1', payload, 0xFFFF));
  // What follows the 1999 bytes is scanned for the next message.
  Record next;
  next.freq = 50'100'000;
  line.feed(extIoMessage(1, '1', next.bytes()));
  stopWhenDrained();
  link.run();
  EXPECT_TRUE(log.contains("3SERIAL : ERROR dataLength 65535"));
  EXPECT_EQ(w().trx.extIoRecords, 2u);
  EXPECT_EQ(pex().freq, 50'100'000u);
}

TEST_F(ExtIoLinkTest, SilenceRaisesError8OncePerHoldoff) {
  int reads = 0;
  line.onRead = [&](FakeLine&) {
    if (++reads == 4000) w().set.text.setFlag(Slot::extIoEnable, '0');
  };
  link.run();
  EXPECT_EQ(ExistError(w(), Err::ExtIoLost), 1);
  EXPECT_EQ(w().amp.commErrorHoldoff, 2000);
  int timeouts = 0;
  for (const std::string& l : log.lines())
    timeouts += l.find("TIMEOUT EXT IO 1") != std::string::npos;
  EXPECT_EQ(timeouts, 1);  // the hold-off is not counted down here

  // Another frequency source: the hold-off still starts, no error.
  DeleteErrore(w(), Err::ExtIoLost);
  w().amp.commErrorHoldoff = 0;
  w().bands.freqInterface = FreqInterface::Ft817;
  reads = 0;
  w().set.text.setFlag(Slot::extIoEnable, '1');
  link.run();
  EXPECT_EQ(ExistError(w(), Err::ExtIoLost), 0);
  EXPECT_EQ(w().amp.commErrorHoldoff, 2000);
}

TEST_F(ExtIoLinkTest, SilenceInsideAMessageIsReportedAndWaitedOut) {
  Record r;
  const Bytes m = extIoMessage(1, '1', r.bytes());
  line.feed(Bytes(m.begin(), m.begin() + 10));
  int reads = 0;
  line.onRead = [&](FakeLine& l) {
    if (++reads == 2000) l.feed(Bytes(m.begin() + 10, m.end()));
    if (reads == 2100) w().set.text.setFlag(Slot::extIoEnable, '0');
  };
  link.run();
  EXPECT_TRUE(log.contains("TIMEOUT EXT IO 3"));
  EXPECT_EQ(w().trx.extIoRecords, 1u);
  EXPECT_EQ(pex().freq, 14'070'000u);
}

TEST_F(ExtIoLinkTest, FailingPortIsLoggedOnceAndNeverSpins) {
  line.failReads = true;
  int reads = 0;
  line.onRead = [&](FakeLine&) {
    if (++reads == 500) w().set.text.setFlag(Slot::extIoEnable, '0');
  };
  link.run();
  int errors = 0;
  for (const std::string& l : log.lines()) errors += l.rfind("error -5", 0) == 0;
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(log.contains("TIMEOUT EXT IO 2"));
  EXPECT_EQ(instant.total(), std::chrono::milliseconds(500));  // 1 ms per failed read
}

TEST_F(ExtIoLinkTest, ReadSerialPortWakesForShutdown) {
  // Another thread ends the program while the link waits inside a message.
  std::array<uint8_t, 10> buffer{};
  line.feed(Bytes{1, 2, 3});
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    w().core.running = 0;
    done = true;
  });
  EXPECT_FALSE(link.readSerialPort(buffer));
  stopper.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(buffer[2], 3);
  EXPECT_FALSE(link.step());  // and the loop does not start again
}

TEST_F(TrxTest, ExtIoPortThatCannotBeOpenedRaisesError25) {
  TempRoot root;
  w().set.text.setText(Slot::SerPort, "/dev/VORNSER");
  w().set.text.setFlag(Slot::extIoEnable, '1');
  Serial(w());
  EXPECT_EQ(ExistError(w(), Err::ExtIoPortOpen), 1);
  EXPECT_TRUE(log.contains("Init Serial Port /dev/VORNSER"));
  EXPECT_TRUE(log.contains("Serial: Unable to open device /dev/VORNSER"));
}

TEST_F(TrxTest, StartersRunTheRegisteredBodiesByTheirFlags) {
  TempRoot root;     // neither port exists: both threads end at once
  wireThreads(w());  // the program's own wiring
  EXPECT_TRUE(w().core.threads.hasBody(ThreadId::Serial));
  EXPECT_TRUE(w().core.threads.hasBody(ThreadId::CatSerial));
  w().set.text.setFlag(Slot::extIoEnable, '0');
  w().set.text.setFlag(Slot::catSerialEnable, '1');
  StartThreadPEX(w());
  StartThreadCATserial(w());
  EXPECT_FALSE(w().core.threads.started(ThreadId::Serial));
  ASSERT_TRUE(w().core.threads.started(ThreadId::CatSerial));
  EXPECT_TRUE(w().core.threads.join(ThreadId::CatSerial));
  EXPECT_EQ(w().amp.linkFailed, 2);

  w().set.text.setFlag(Slot::extIoEnable, '1');
  StartThreadPEX(w());
  ASSERT_TRUE(w().core.threads.started(ThreadId::Serial));
  EXPECT_TRUE(w().core.threads.join(ThreadId::Serial));
  EXPECT_EQ(ExistError(w(), Err::ExtIoPortOpen), 1);
}

}  // namespace
}  // namespace corvid
