// The PCM owner against the sound library's own stand-in devices: the "null" device of
// the system configuration, and "file" devices described by a configuration text, so no
// sound card and no kernel module is needed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/pcm.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

namespace fs = std::filesystem;
using platform::PcmDirection;
using platform::PcmHardware;
using platform::PcmState;
using platform::PcmStep;
using platform::PcmStream;
using platform::PcmWait;
using platform::PcmWakeup;

class PcmTest : public ::testing::Test {
 protected:
  // The library's own complaints ("Unknown PCM ...") would only clutter the test log.
  void SetUp() override { platform::quietPcmLibraryMessages(true); }
  void TearDown() override { platform::quietPcmLibraryMessages(false); }
};

// A folder of its own for the files of the file devices.
class ScratchDir {
 public:
  ScratchDir()
      : dir_(fs::temp_directory_path() /
             ("corvid-pcm-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    fs::create_directories(dir_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  fs::path dir_;
};

std::vector<uint8_t> pattern(size_t bytes) {
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  return data;
}

PcmStream openNull(PcmDirection direction) {
  auto stream = PcmStream::openDevice("null", direction);
  // "null" comes from the library's data files (libasound2-data, /usr/share/alsa).
  EXPECT_TRUE(stream.ok()) << platform::pcmErrorText(stream.error());
  return std::move(stream.value());
}

TEST_F(PcmTest, NullDevicesTakeTheParametersAskedForAndReportThem) {
  for (const PcmDirection direction : {PcmDirection::capture, PcmDirection::playback}) {
    SCOPED_TRACE(direction == PcmDirection::capture ? "capture" : "playback");
    PcmStream stream = openNull(direction);
    ASSERT_TRUE(stream.isOpen());
    EXPECT_EQ(stream.state(), PcmState::open);

    PcmHardware wanted;
    wanted.channels = 2;
    wanted.rate = 44100;  // not the usual 48000: what comes back must be what was asked
    wanted.bufferFrames = 768;
    wanted.periodFrames = 192;
    wanted.allowResample = direction == PcmDirection::playback;
    const auto set = stream.setHardware(wanted);
    ASSERT_TRUE(set.ok()) << platform::pcmErrorText(set.error);
    EXPECT_EQ(set.failedStep, PcmStep::none);
    EXPECT_EQ(set.rate, 44100u);
    EXPECT_EQ(set.bufferFrames, 768u);
    EXPECT_EQ(set.periodFrames, 192u);
    EXPECT_EQ(stream.frameBytes(), 4u);
    EXPECT_EQ(stream.state(), PcmState::prepared);

    const auto software = stream.setSoftware({.startThreshold = 576, .availMin = 192});
    EXPECT_TRUE(software.ok()) << platform::pcmErrorText(software.error);
    EXPECT_GE(stream.avail(), 0);
    EXPECT_EQ(stream.close(), 0);
    EXPECT_FALSE(stream.isOpen());
  }
}

TEST_F(PcmTest, PlaybackStartsAtTheStartThresholdDrainsAndRecovers) {
  PcmStream stream = openNull(PcmDirection::playback);
  ASSERT_TRUE(
      stream.setHardware({.channels = 2, .rate = 48000, .bufferFrames = 768, .periodFrames = 192})
          .ok());
  ASSERT_TRUE(stream.setSoftware({.startThreshold = 576, .availMin = 192}).ok());
  const std::vector<uint8_t> frames(600 * 4, 0);

  // Four frames are below the threshold: the device waits for more.
  EXPECT_EQ(stream.writei(std::span(frames).first(4 * 4)), 4);
  EXPECT_EQ(stream.state(), PcmState::prepared);
  // A part frame at the end is not written.
  EXPECT_EQ(stream.writei(std::span(frames).first(600 * 4 - 1)), 599);
  EXPECT_EQ(stream.state(), PcmState::running);

  EXPECT_EQ(stream.drain(), 0);
  EXPECT_EQ(stream.state(), PcmState::setup);
  EXPECT_EQ(stream.prepare(), 0);
  EXPECT_EQ(stream.state(), PcmState::prepared);
  EXPECT_EQ(stream.drop(), 0);
  EXPECT_EQ(stream.state(), PcmState::setup);

  // An xrun is recovered by preparing again; a code that is no xrun comes back as it is.
  ASSERT_EQ(stream.prepare(), 0);
  ASSERT_EQ(stream.writei(frames), 600);
  EXPECT_EQ(stream.recover(-EPIPE), 0);
  EXPECT_EQ(stream.state(), PcmState::prepared);
  EXPECT_EQ(stream.recover(-EINVAL), -EINVAL);
}

TEST_F(PcmTest, CaptureReadsWholeFrames) {
  PcmStream stream = openNull(PcmDirection::capture);
  ASSERT_TRUE(stream.setHardware({.channels = 1, .rate = 48000}).ok());
  EXPECT_EQ(stream.frameBytes(), 2u);
  std::vector<uint8_t> buffer(201);
  EXPECT_EQ(stream.readi(buffer), 100);  // the odd byte is not a frame
  EXPECT_EQ(stream.state(), PcmState::running);
  EXPECT_EQ(stream.drop(), 0);
}

// The bytes really pass: a file device writes what is played into a file and reads what
// is captured from one.
TEST_F(PcmTest, FileDevicesOfAConfigurationTextCarryTheBytes) {
  ScratchDir dir;
  const std::vector<uint8_t> sound = pattern(64 * 4);
  {
    std::ofstream in(dir.path("in.raw"), std::ios::binary);
    in.write(reinterpret_cast<const char*>(sound.data()),
             static_cast<std::streamsize>(sound.size()));
  }
  const std::string configuration =
      "pcm.corvid_out { type file slave.pcm { type null } format raw file \"" +
      dir.path("out.raw") + "\" }\n" +
      "pcm.corvid_in { type file slave.pcm { type null } format raw file \"/dev/null\" "
      "infile \"" +
      dir.path("in.raw") + "\" }\n";

  {
    auto out = PcmStream::openDevice("corvid_out", PcmDirection::playback, {}, configuration);
    ASSERT_TRUE(out.ok()) << platform::pcmErrorText(out.error());
    ASSERT_TRUE(out->setHardware({.channels = 2, .rate = 48000}).ok());
    EXPECT_EQ(out->writei(sound), 64);
    EXPECT_EQ(out->drain(), 0);
  }  // closed: the file device has written everything
  std::ifstream written(dir.path("out.raw"), std::ios::binary);
  const std::vector<uint8_t> played{std::istreambuf_iterator<char>(written), {}};
  EXPECT_EQ(played, sound);

  auto in = PcmStream::openDevice("corvid_in", PcmDirection::capture, {}, configuration);
  ASSERT_TRUE(in.ok()) << platform::pcmErrorText(in.error());
  ASSERT_TRUE(in->setHardware({.channels = 2, .rate = 48000}).ok());
  std::vector<uint8_t> captured(32 * 4, 0);
  ASSERT_EQ(in->readi(captured), 32);
  EXPECT_TRUE(std::equal(captured.begin(), captured.end(), sound.begin()));
}

TEST_F(PcmTest, AnUnknownDeviceFailsAfterEveryTry) {
  testing::InstantSleep sleeps;
  int tries = 0;
  auto stream = PcmStream::openDevice("corvid_no_such_device", PcmDirection::capture,
                                      {.tries = 4, .pauseMs = 100}, {}, &tries);
  ASSERT_FALSE(stream.ok());
  EXPECT_EQ(stream.error(), -ENOENT);
  EXPECT_STREQ(platform::pcmErrorText(stream.error()), std::strerror(ENOENT));
  EXPECT_EQ(tries, 4);
  EXPECT_EQ(sleeps.total(), std::chrono::milliseconds(300));  // a pause between two tries

  // A configuration text defines the only names there are: "null" is not one of them.
  auto outside =
      PcmStream::openDevice("null", PcmDirection::playback, {}, "pcm.other { type null }", &tries);
  EXPECT_EQ(outside.error(), -ENOENT);
  EXPECT_EQ(tries, 1);
  // A text that does not parse is refused before any try.
  auto garbled =
      PcmStream::openDevice("x", PcmDirection::playback, {.tries = 3}, "pcm.x { type", &tries);
  EXPECT_LT(garbled.error(), 0);
  EXPECT_EQ(tries, 0);
}

// Under a root (the bench) the unit's /etc/asound.conf is the root's, read on top of the
// system's configuration; without a root, or without the file, only the system's.
TEST_F(PcmTest, UnderARootItsSoundConfigurationAddsNames) {
  {
    testing::TempRoot root;
    EXPECT_EQ(PcmStream::openDevice("corvid_root_null", PcmDirection::capture).error(), -ENOENT)
        << "no file under the root";
    fs::create_directories(root.path("/etc"));
    root.write("/etc/asound.conf", "pcm.corvid_root_null { type null }\n");
    for (const PcmDirection direction : {PcmDirection::capture, PcmDirection::playback}) {
      auto ours = PcmStream::openDevice("corvid_root_null", direction);
      EXPECT_TRUE(ours.ok()) << platform::pcmErrorText(ours.error());
      auto system = PcmStream::openDevice("null", direction);
      EXPECT_TRUE(system.ok()) << "the system's names stay: "
                               << platform::pcmErrorText(system.error());
    }
    // A configuration text still defines the only names there are.
    EXPECT_EQ(PcmStream::openDevice("corvid_root_null", PcmDirection::playback, {},
                                    "pcm.other { type null }")
                  .error(),
              -ENOENT);
    // A file that does not parse fails every open, as a broken /etc/asound.conf does.
    root.write("/etc/asound.conf", "pcm.corvid_root_null { type");
    EXPECT_LT(PcmStream::openDevice("null", PcmDirection::playback).error(), 0);
  }
  EXPECT_EQ(PcmStream::openDevice("corvid_root_null", PcmDirection::playback).error(), -ENOENT)
      << "no root";
}

TEST_F(PcmTest, RefusedParametersNameTheirStep) {
  struct Case {
    const char* what;
    PcmHardware wanted;
    PcmStep step;
  };
  const Case cases[] = {
      {"no channels", {.channels = 0}, PcmStep::channels},
      {"channels beyond any count", {.channels = 0xFFFFFFFFu}, PcmStep::channels},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PcmStream stream = openNull(PcmDirection::playback);
    const auto set = stream.setHardware(c.wanted);
    EXPECT_EQ(set.error, -EINVAL);
    EXPECT_EQ(set.failedStep, c.step);
    EXPECT_EQ(stream.frameBytes(), 0u);
    EXPECT_EQ(stream.state(), PcmState::open);
  }

  // Software parameters and transfers need the hardware set first.
  PcmStream stream = openNull(PcmDirection::playback);
  const auto software = stream.setSoftware({.startThreshold = 100});
  EXPECT_LT(software.error, 0);
  EXPECT_EQ(software.failedStep, PcmStep::softwareCurrent);
  std::vector<uint8_t> buffer(16);
  EXPECT_EQ(stream.writei(buffer), -EBADFD);
  EXPECT_EQ(stream.readi(buffer), -EBADFD);
}

TEST_F(PcmTest, AWakeupEndsTheWaitAndStaysRaisedUntilCleared) {
  PcmStream stream = openNull(PcmDirection::playback);
  ASSERT_TRUE(stream.setHardware({}).ok());
  auto wakeup = PcmWakeup::create();
  ASSERT_TRUE(wakeup.ok());

  // The null device can always take data.
  EXPECT_EQ(stream.waitReady(1000, wakeup.value()), PcmWait::ready);
  // Raised before the wait: not lost, and it wins over a ready device.
  ASSERT_EQ(wakeup->raise(), 0);
  ASSERT_EQ(wakeup->raise(), 0);
  EXPECT_EQ(stream.waitReady(-1, wakeup.value()), PcmWait::woken);
  EXPECT_EQ(stream.waitReady(-1, wakeup.value()), PcmWait::woken);
  ASSERT_EQ(wakeup->clear(), 0);
  EXPECT_EQ(stream.waitReady(1000, wakeup.value()), PcmWait::ready);
  EXPECT_EQ(wakeup->clear(), 0);  // clearing what is not raised is no error

  int errorCode = 0;
  PcmStream closed;
  EXPECT_EQ(closed.waitReady(0, wakeup.value(), &errorCode), PcmWait::failed);
  EXPECT_EQ(errorCode, -EBADFD);
}

TEST_F(PcmTest, ThePlaybackLoopCallsBackUntilWokenFromAnotherThread) {
  PcmStream stream = openNull(PcmDirection::playback);
  ASSERT_TRUE(
      stream.setHardware({.channels = 2, .rate = 48000, .bufferFrames = 768, .periodFrames = 192})
          .ok());
  auto wakeup = PcmWakeup::create();
  ASSERT_TRUE(wakeup.ok());
  std::atomic<int> calls{0};
  std::atomic<int> writeErrors{0};
  int result = -1;
  std::thread player([&] {
    const std::vector<uint8_t> period(192 * 4, 0);
    result = stream.runWhenReady(wakeup.value(), 1000, [&](PcmWait event) {
      if (event == PcmWait::ready && stream.writei(period) != 192) ++writeErrors;
      ++calls;
      return true;
    });
  });
  // Generous bound: only a loop that never calls back gets near it.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (calls.load() < 5 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(wakeup->raise(), 0);
  player.join();
  EXPECT_GE(calls.load(), 5);
  EXPECT_EQ(writeErrors.load(), 0);
  EXPECT_EQ(result, 0);

  // The callback ends the loop itself by answering false.
  ASSERT_EQ(wakeup->clear(), 0);
  int rounds = 0;
  EXPECT_EQ(stream.runWhenReady(wakeup.value(), 1000, [&](PcmWait) { return ++rounds < 3; }), 0);
  EXPECT_EQ(rounds, 3);
}

}  // namespace
}  // namespace corvid
