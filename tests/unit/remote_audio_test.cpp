// The playback callback against a device written here: what it writes from the ring and
// in which order, the silence before the pre-buffer is full, the fill check at each wrap
// of the read position, and the underrun and write-error paths.
#include "remote/remote_audio.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/works.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

// A device with room for `room` frames; each write fills it, nothing drains it unless the
// test says so. Scripted answers for avail() and writei() come first when given.
class FakeDevice : public PlaybackDevice {
 public:
  long room = 0;
  std::deque<long> availAnswers;
  std::deque<long> writeAnswers;
  std::vector<std::vector<uint8_t>> writes;
  int prepares = 0;

  long avail() override {
    if (!availAnswers.empty()) {
      const long answer = availAnswers.front();
      availAnswers.pop_front();
      return answer;
    }
    return room;
  }
  long writei(std::span<const uint8_t> frames) override {
    writes.emplace_back(frames.begin(), frames.end());
    if (!writeAnswers.empty()) {
      const long answer = writeAnswers.front();
      writeAnswers.pop_front();
      return answer;
    }
    const long n = static_cast<long>(frames.size() / 4);
    room -= n;
    return n;
  }
  int prepare() override { return ++prepares, 0; }
};

class PlaybackCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    initSetup(w());
    w().remote.playChunkSamples = 240;  // 5 ms: 1000 periods in the ring
    w().remote.bufferChunks = 10;
    // Period p of the ring holds the byte p % 251 + 1 throughout.
    for (size_t i = 0; i < w().remote.playRing->size(); ++i) {
      (*w().remote.playRing)[i] = static_cast<uint8_t>((i / kPeriodBytes) % 251 + 1);
    }
  }
  Works& w() { return *works_; }
  static uint8_t periodByte(int period) { return static_cast<uint8_t>(period % 251 + 1); }
  uint8_t ringByteOfPeriod(int period) const {
    return (*works_->remote.playRing)[static_cast<size_t>(period) * kPeriodBytes];
  }

  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  testing::LogCatcher log;
};

TEST_F(PlaybackCallback, WritesPeriodsInOrderAndLeavesSilenceBehind) {
  EXPECT_EQ(playRingPeriods(w().remote), 1000);
  w().remote.playStart = 1;
  w().remote.playReadSlot = 7;
  FakeDevice device;
  device.room = 3 * kPeriodFrames + 20;  // three whole periods and a part
  MyRecCallback(w(), device);
  ASSERT_EQ(device.writes.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(device.writes[static_cast<size_t>(i)].size(), kPeriodBytes);
    EXPECT_EQ(device.writes[static_cast<size_t>(i)].front(), periodByte(7 + i));
    EXPECT_EQ(device.writes[static_cast<size_t>(i)].back(), periodByte(7 + i));
    EXPECT_EQ(ringByteOfPeriod(7 + i), 0) << "a played period is cleared";
  }
  EXPECT_EQ(ringByteOfPeriod(10), periodByte(10));
  EXPECT_EQ(w().remote.playReadSlot.load(), 10);

  // Before the pre-buffer is full: silence, and the read position stays at the start.
  w().remote.playStart = 0;
  w().remote.playReadSlot = 0;
  FakeDevice waiting;
  waiting.room = 2 * kPeriodFrames;
  MyRecCallback(w(), waiting);
  ASSERT_EQ(waiting.writes.size(), 2u);
  for (const auto& write : waiting.writes) {
    EXPECT_EQ(write, std::vector<uint8_t>(kPeriodBytes, 0));
  }
  EXPECT_EQ(w().remote.playReadSlot.load(), 0);
}

// The read position wraps from the last of the 1000 periods to 0; the server's write
// position is then pulled back to bufferChunks when it has drifted to twice as far or to
// less than half, or when a "CF" asked for a restart.
TEST_F(PlaybackCallback, FillCheckAtTheWrap) {
  struct Case {
    int bufferChunks;
    int written;
    int restart;
    int expected;
    const char* line;  // the log line, or nullptr for none
  };
  const Case cases[] = {
      {10, 20, 0, 10, "too much sound 20"},
      {10, 25, 0, 10, "too much sound 20"},
      {10, 19, 0, 19, nullptr},
      {10, 5, 0, 5, nullptr},
      {10, 4, 0, 10, "sound exausted"},
      {10, 0, 0, 10, "sound exausted"},
      {10, 12, 1, 10, nullptr},            // a restart asked for by a "CF"
      {6, 12, 1, 6, "too much sound 12"},  // a "CF" that changed bufferChunks to 6
      {6, 11, 0, 11, nullptr},
      {3, 1, 0, 1, nullptr},  // 3 / 2 is 1: a writer at 1 is not yet exhausted
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bufferChunks) + " chunks, writer at " +
                 std::to_string(c.written));
    testing::LogCatcher lines;
    w().remote.bufferChunks = c.bufferChunks;
    w().remote.playWriteSlot = c.written;
    w().remote.audioRestart = c.restart;
    w().remote.playStart = 1;
    w().remote.playReadSlot = 998;
    FakeDevice device;
    device.room = kPeriodFrames;
    MyRecCallback(w(), device);
    EXPECT_EQ(w().remote.playReadSlot.load(), 999) << "no wrap yet";
    EXPECT_EQ(w().remote.playWriteSlot.load(), c.written);
    device.room = kPeriodFrames;
    MyRecCallback(w(), device);
    EXPECT_EQ(w().remote.playReadSlot.load(), 0);
    EXPECT_EQ(w().remote.playWriteSlot.load(), c.expected);
    EXPECT_EQ(w().remote.audioRestart.load(), 0);
    const bool logged = lines.contains("too much sound") || lines.contains("sound exausted");
    if (c.line != nullptr) {
      EXPECT_TRUE(lines.contains(c.line));
    } else {
      EXPECT_FALSE(logged);
    }
  }
}

TEST_F(PlaybackCallback, UnderrunAndWriteErrorsAreHandledInPlace) {
  w().remote.playStart = 1;
  {
    SCOPED_TRACE("an underrun found by avail: prepared, the period written again, then on");
    w().remote.playReadSlot = 3;
    FakeDevice device;
    device.availAnswers = {-EPIPE};
    device.room = 2 * kPeriodFrames + kPeriodFrames;  // the rewrite takes one of three
    MyRecCallback(w(), device);
    EXPECT_EQ(device.prepares, 1);
    EXPECT_TRUE(log.contains("prepare to output audio interface failed 3 (-32 - Broken pipe)"));
    ASSERT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(device.writes[0].front(), periodByte(3)) << "the period at the read position";
    EXPECT_EQ(device.writes[1].front(), periodByte(3)) << "then played and cleared";
    EXPECT_EQ(device.writes[2].front(), periodByte(4));
    EXPECT_EQ(w().remote.playReadSlot.load(), 5);
  }
  {
    SCOPED_TRACE("a write that finds an underrun: prepared and the same period written again");
    w().remote.playReadSlot = 20;
    FakeDevice device;
    device.room = kPeriodFrames;
    device.writeAnswers = {-EPIPE};
    MyRecCallback(w(), device);
    EXPECT_EQ(device.prepares, 1);
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(device.writes[1], device.writes[0]);
    EXPECT_EQ(device.writes[1].front(), periodByte(20));
    EXPECT_EQ(w().remote.playReadSlot.load(), 21);
  }
  {
    SCOPED_TRACE("any other write error: the callback returns, the position stays");
    w().remote.playReadSlot = 30;
    FakeDevice device;
    device.room = 4 * kPeriodFrames;
    device.writeAnswers = {-EIO};
    MyRecCallback(w(), device);
    EXPECT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.prepares, 0);
    EXPECT_EQ(w().remote.playReadSlot.load(), 30);
  }
}

TEST_F(PlaybackCallback, ChunkSizesFromAClientStayInsideTheRing) {
  struct Case {
    int chunkFrames;
    int periods;
  };
  // 2.5, 5 and 20 ms chunks; a 121-frame chunk leaves part of a period unused; sizes no
  // slot can hold are taken at the slot's limit (1024 frames), or one frame.
  for (const Case c : {Case{120, 500}, Case{240, 1000}, Case{960, 4000}, Case{121, 504},
                       Case{100000, 4266}, Case{0, 4}, Case{-5, 4}}) {
    w().remote.playChunkSamples = c.chunkFrames;
    EXPECT_EQ(playRingPeriods(w().remote), c.periods) << c.chunkFrames;
    EXPECT_LE(static_cast<size_t>(playRingPeriods(w().remote)) * kPeriodBytes,
              w().remote.playRing->size());
  }
  // A read position left beyond the ring by a smaller chunk is taken modulo the ring.
  w().remote.playChunkSamples = 120;
  w().remote.playStart = 1;
  w().remote.playReadSlot = 600;
  FakeDevice device;
  device.room = kPeriodFrames;
  MyRecCallback(w(), device);
  ASSERT_EQ(device.writes.size(), 1u);
  EXPECT_EQ(device.writes[0].front(), periodByte(100));
  EXPECT_EQ(w().remote.playReadSlot.load(), 101);
}

}  // namespace
}  // namespace corvid
