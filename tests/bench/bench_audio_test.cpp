// The bench's sound devices as the controller opens them: through the platform's PCM
// owner, by name, with no configuration text, in a prepared bench root (whose
// /etc/asound.conf names the bench's plugin). Real time passes in these tests, so every
// bound on time is loose: only a device that is not paced at all, or paced far off,
// fails them.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/pcm.h"
#include "platform/root.h"
#include "sim/bench_root.h"
#include "sim/root_settings.h"
#include "sim/scenarios.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/wav_file.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using platform::PcmDirection;
using platform::PcmState;
using platform::PcmStream;
using platform::PcmWait;
using platform::PcmWakeup;

constexpr unsigned kRate = 48000;
constexpr size_t kChunk = 960;                    // a 20 ms chunk, as the remote audio moves it
constexpr size_t kPeriod = 192;                   // the controller's playback period
constexpr size_t kPlaybackBuffer = 10 * kPeriod;  // AudioBuffers 10
constexpr size_t kStartThreshold = 9 * kPeriod;

int64_t monotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double secondsSince(int64_t startNs) {
  return static_cast<double>(monotonicNs() - startNs) / 1e9;
}

// Replaced whole, as a test changes the signal or the fault while a stream runs.
void replaceText(const fs::path& path, const std::string& text) {
  const fs::path temp = path.string() + ".test-new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
  }
  fs::rename(temp, path);
}

int64_t timeAxisOf(const fs::path& wav) {
  std::ifstream in(BenchRoot::timeAxisFile(wav));
  int64_t t0 = -1;
  in >> t0;
  return t0;
}

// Stereo frames (S16_LE, interleaved) as bytes and back.
std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> bytes(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<uint16_t>(samples[i]);
    bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  return bytes;
}
std::vector<int16_t> samplesOf(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return samples;
}

// The frequency of one channel from its rising zero crossings.
double frequencyOf(const std::vector<int16_t>& samples, unsigned channels, unsigned channel = 0) {
  const size_t frames = samples.size() / channels;
  size_t first = 0;
  size_t last = 0;
  int crossings = 0;
  for (size_t i = 1; i < frames; ++i) {
    if (samples[(i - 1) * channels + channel] < 0 && samples[i * channels + channel] >= 0) {
      if (crossings == 0) first = i;
      last = i;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * static_cast<double>(kRate) / static_cast<double>(last - first);
}

int peakOf(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

// Waits as the playback loop does: a wake-up inside the device's own descriptor that
// finds it not ready yet is a timeout, and the loop waits again.
PcmWait waitUntilReady(const PcmStream& stream, const PcmWakeup& wakeup, double seconds) {
  const int64_t started = monotonicNs();
  PcmWait event = PcmWait::timeout;
  while (event == PcmWait::timeout && secondsSince(started) < seconds) {
    event = stream.waitReady(100, wakeup);
  }
  return event;
}

class BenchAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(run_.prepared());
    platform::setRoot(root().dir().string());
    // The library's own messages (an open refused by a fault) would only clutter the log.
    platform::quietPcmLibraryMessages(true);
  }
  void TearDown() override {
    platform::quietPcmLibraryMessages(false);
    platform::setRoot("");
  }
  const BenchRoot& root() const { return run_.root(); }

  // The capture thread's device: 2 channels at 48000 Hz, the buffer the device chooses.
  PcmStream openCapture(unsigned long bufferFrames = 0) {
    auto stream = PcmStream::openDevice(kRxAudioDevice, PcmDirection::capture);
    EXPECT_TRUE(stream.ok()) << platform::pcmErrorText(stream.error());
    if (!stream.ok()) return {};
    const auto set =
        stream->setHardware({.channels = 2, .rate = kRate, .bufferFrames = bufferFrames});
    EXPECT_TRUE(set.ok()) << platform::pcmErrorText(set.error);
    EXPECT_EQ(set.rate, kRate);
    captureBuffer_ = set.bufferFrames;
    return std::move(stream.value());
  }

  // The playback thread's device with AudioBuffers 10.
  PcmStream openPlayback() {
    auto stream = PcmStream::openDevice(kTxAudioDevice, PcmDirection::playback);
    EXPECT_TRUE(stream.ok()) << platform::pcmErrorText(stream.error());
    if (!stream.ok()) return {};
    const auto set = stream->setHardware({.channels = 2,
                                          .rate = kRate,
                                          .allowResample = true,
                                          .bufferFrames = kPlaybackBuffer,
                                          .periodFrames = kPeriod});
    EXPECT_TRUE(set.ok()) << platform::pcmErrorText(set.error);
    EXPECT_EQ(set.bufferFrames, kPlaybackBuffer);
    EXPECT_EQ(set.periodFrames, kPeriod);
    const auto software =
        stream->setSoftware({.startThreshold = kStartThreshold, .availMin = kPeriod});
    EXPECT_TRUE(software.ok()) << platform::pcmErrorText(software.error);
    return std::move(stream.value());
  }

  // frames stereo frames, read in chunks as the capture thread reads them.
  std::vector<int16_t> capture(PcmStream& stream, size_t frames) {
    std::vector<uint8_t> all;
    std::vector<uint8_t> chunk(kChunk * 4);
    while (all.size() < frames * 4) {
      chunk.resize(std::min(kChunk, frames - all.size() / 4) * 4);
      const long got = stream.readi(chunk);
      EXPECT_EQ(got, static_cast<long>(chunk.size() / 4))
          << platform::pcmErrorText(static_cast<int>(got));
      if (got <= 0) break;
      all.insert(all.end(), chunk.begin(), chunk.begin() + got * 4);
    }
    return samplesOf(all);
  }

  CorvidRun run_;
  unsigned long captureBuffer_ = 0;
};

TEST_F(BenchAudioTest, TheRootsConfigurationNamesTheDevices) {
  const std::optional<std::string> text = readWholeFile(root().soundConfiguration());
  ASSERT_TRUE(text);
  EXPECT_NE(text->find("lib \"" + std::string(benchSoundPlugin()) + "\""), std::string::npos);
  EXPECT_NE(text->find("dir \"" + root().rxAudioDir().string() + "\""), std::string::npos);
  EXPECT_EQ(readWholeFile(root().captureSignalFile()), std::string(kDefaultCaptureSignal) + "\n");
  // Remote operation, where the sound card is used, names the bench's devices.
  ASSERT_EQ(setRemoteOperation(root(), 6666, kBenchPassphrase), "");
  EXPECT_EQ(rootSetting(root(), "AudioIn"), std::string(kRxAudioDevice));
  EXPECT_EQ(rootSetting(root(), "AudioOut"), std::string(kTxAudioDevice));
  // Outside the root the names mean nothing.
  platform::setRoot("");
  EXPECT_EQ(PcmStream::openDevice(kRxAudioDevice, PcmDirection::capture).error(), -ENOENT);
}

TEST_F(BenchAudioTest, CaptureIsPacedInRealTimeAndRecordedOnItsTimeAxis) {
  PcmStream stream = openCapture();
  ASSERT_TRUE(stream.isOpen());
  const int64_t started = monotonicNs();
  const std::vector<int16_t> got = capture(stream, kRate);  // one second
  const double elapsed = secondsSince(started);
  ASSERT_EQ(got.size(), 2 * kRate);
  EXPECT_GT(elapsed, 0.9) << "faster than real time";
  EXPECT_LT(elapsed, 3.0) << "far slower than real time";

  // The default signal: 1 kHz at -12 dBFS on both channels.
  EXPECT_NEAR(frequencyOf(got, 2, 0), 1000.0, 2.0);
  EXPECT_NEAR(peakOf(got), 32767 * std::pow(10.0, -12.0 / 20), 2);
  for (size_t i = 0; i < kRate; ++i) {
    ASSERT_EQ(got[2 * i], got[2 * i + 1]) << "frame " << i;
  }

  // The recording ends with what was delivered, at the time it was delivered.
  const std::optional<WavFile> wav = readWavFile(root().captureWav());
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->channels, 2u);
  EXPECT_EQ(wav->rate, kRate);
  ASSERT_GE(wav->frames(), kRate);
  const size_t first = wav->frames() - kRate;
  EXPECT_TRUE(std::equal(got.begin(), got.end(), wav->samples.begin() + 2 * first));
  const int64_t t0 = timeAxisOf(root().captureWav());
  ASSERT_GT(t0, 0);
  const double firstAt = static_cast<double>(t0) / 1e9 + static_cast<double>(first) / kRate;
  EXPECT_NEAR(firstAt, static_cast<double>(started) / 1e9, 0.1);
  // The signal is a function of the file's time axis: sample n is the sine at n / 48000 s.
  const double amplitude = 32767 * std::pow(10.0, -12.0 / 20);
  for (size_t i = 0; i < kRate; i += 997) {
    const double n = static_cast<double>(first + i);
    EXPECT_NEAR(got[2 * i], amplitude * std::sin(2 * M_PI * std::fmod(1000.0 * n / kRate, 1.0)),
                1.0)
        << "frame " << i;
  }
}

TEST_F(BenchAudioTest, CaptureFollowsTheSignalFileWhileItRuns) {
  // A looped mono file: a ramp of 1000 samples.
  std::vector<int16_t> ramp(1000);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(30 * i - 15000);
  ASSERT_TRUE(writeWavFile(root().rxAudioDir() / "ramp.wav", 1, kRate, ramp));

  struct Case {
    const char* signal;
    double hz;    // 0: no tone to look for
    double dbfs;  // the peak, when hz is given
    bool silent;
  };
  const Case cases[] = {
      {"tone 440 -6", 440, -6, false}, {"tone 3000 0", 3000, 0, false},
      {"silence", 0, 0, true},         {"no such signal", 0, 0, true},
      {"tone 30000 -6", 0, 0, true},  // above half the rate: not understood
      {"tone 440", 0, 0, true},        {"", 0, 0, true},
  };
  PcmStream stream = openCapture();
  ASSERT_TRUE(stream.isOpen());
  capture(stream, kChunk);  // running
  for (const Case& c : cases) {
    SCOPED_TRACE(c.signal);
    replaceText(root().captureSignalFile(), std::string(c.signal) + "\n");
    const std::vector<int16_t> got = capture(stream, kRate / 4);
    if (c.silent) {
      EXPECT_EQ(peakOf(got), 0);
    } else {
      EXPECT_NEAR(frequencyOf(got, 2), c.hz, c.hz / 200);
      EXPECT_NEAR(peakOf(got), 32767 * std::pow(10.0, c.dbfs / 20), 0.01 * 32767);
    }
  }

  // Clicks: a 1 ms burst at every multiple of 50 ms of the time axis.
  replaceText(root().captureSignalFile(), "clicks 50 -6\n");
  std::vector<int16_t> got = capture(stream, kRate / 2);
  std::optional<WavFile> wav = readWavFile(root().captureWav());
  ASSERT_TRUE(wav);
  size_t first = wav->frames() - kRate / 2;
  int onsets = 0;
  for (size_t i = 0; i < kRate / 2; ++i) {
    const bool loud = std::abs(got[2 * i]) > 1000;
    const bool wasLoud = i > 0 && std::abs(got[2 * (i - 1)]) > 1000;
    if (loud && !wasLoud && (first + i) % 48 == 0) {
      EXPECT_EQ((first + i) % 2400, 0u) << "an onset off the 50 ms grid at frame " << first + i;
      ++onsets;
    }
    if ((first + i) % 2400 >= 48) {
      ASSERT_EQ(got[2 * i], 0) << "sound between bursts";
    }
  }
  EXPECT_NEAR(onsets, 10, 1);

  // A WAV signal, looped from the time axis' frame 0; its name is taken in the folder.
  replaceText(root().captureSignalFile(), "wav ramp.wav\n");
  got = capture(stream, 3000);
  wav = readWavFile(root().captureWav());
  ASSERT_TRUE(wav);
  first = wav->frames() - 3000;
  for (size_t i = 0; i < 3000; ++i) {
    ASSERT_EQ(got[2 * i], ramp[(first + i) % ramp.size()]) << "frame " << i;
    ASSERT_EQ(got[2 * i + 1], got[2 * i]);
  }

  // A sweep from 300 Hz to 3 kHz in half a second: slow after each start, fast before.
  replaceText(root().captureSignalFile(), "chirp 300 3000 0.5\n");
  got = capture(stream, kRate);
  wav = readWavFile(root().captureWav());
  ASSERT_TRUE(wav);
  first = wav->frames() - kRate;
  const size_t sweepStart = (first / 24000 + 1) * 24000 - first;  // inside the second read
  ASSERT_LT(sweepStart + 960, kRate);
  ASSERT_GT(sweepStart, 960u);
  const auto window = [&](size_t from) {
    return std::vector<int16_t>(got.begin() + 2 * from, got.begin() + 2 * (from + 960));
  };
  EXPECT_NEAR(frequencyOf(window(sweepStart), 2), 330, 60);
  EXPECT_NEAR(frequencyOf(window(sweepStart - 960), 2), 2950, 150);
}

TEST_F(BenchAudioTest, PlaybackIsRecordedAtTheMomentItIsPlayed) {
  PcmStream stream = openPlayback();
  ASSERT_TRUE(stream.isOpen());
  auto wakeup = PcmWakeup::create();
  ASSERT_TRUE(wakeup.ok());
  // Left and right told apart: a 500 Hz tone and its negative.
  std::vector<int16_t> sound(2 * kRate);
  for (size_t i = 0; i < kRate; ++i) {
    sound[2 * i] = static_cast<int16_t>(
        std::lround(10000 * std::sin(2 * M_PI * 500.0 * static_cast<double>(i) / kRate)));
    sound[2 * i + 1] = static_cast<int16_t>(-sound[2 * i]);
  }
  const std::vector<uint8_t> bytes = bytesOf(sound);

  // The playback thread's loop: wait until the device can take a period, then write
  // periods while it can.
  EXPECT_EQ(stream.waitReady(0, wakeup.value()), PcmWait::ready) << "a prepared device takes data";
  const int64_t started = monotonicNs();
  size_t written = 0;
  int waits = 0;
  while (written < kRate) {
    ASSERT_EQ(stream.waitReady(2000, wakeup.value()), PcmWait::ready) << "after " << written;
    ++waits;
    while (written < kRate && stream.avail() >= static_cast<long>(kPeriod)) {
      const size_t frames = std::min(kPeriod, kRate - written);
      ASSERT_EQ(stream.writei(std::span(bytes).subspan(written * 4, frames * 4)),
                static_cast<long>(frames));
      written += frames;
    }
  }
  EXPECT_EQ(stream.state(), PcmState::running);
  const double writing = secondsSince(started);
  const int64_t drainStarted = monotonicNs();
  EXPECT_EQ(stream.drain(), 0);
  const double draining = secondsSince(drainStarted);
  EXPECT_EQ(stream.state(), PcmState::setup);
  // One second less the buffer went by while writing; the drain plays at most a buffer.
  EXPECT_GT(writing, 0.9 - static_cast<double>(kPlaybackBuffer) / kRate);
  EXPECT_LT(writing, 3.0);
  // The drain plays what was buffered (at least the buffer less a period), no more.
  EXPECT_GT(draining, 0.9 * static_cast<double>(kPlaybackBuffer - kPeriod) / kRate);
  EXPECT_LT(draining, 0.5);
  EXPECT_GT(waits, 50) << "the device was ready far more than once per period";
  EXPECT_LT(waits, 2 * static_cast<int>(kRate / kPeriod) + 20) << "woken far too often";

  const std::optional<WavFile> wav = readWavFile(root().playbackWav());
  ASSERT_TRUE(wav);
  EXPECT_EQ(wav->channels, 2u);
  EXPECT_EQ(wav->rate, kRate);
  ASSERT_GE(wav->frames(), kRate);
  const size_t first = wav->frames() - kRate;
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), wav->samples.begin() + 2 * first));
  // Nothing before: the device played from its start, when the start threshold was reached.
  EXPECT_EQ(peakOf(std::vector<int16_t>(wav->samples.begin(), wav->samples.begin() + 2 * first)),
            0);
  const int64_t t0 = timeAxisOf(root().playbackWav());
  ASSERT_GT(t0, 0);
  const double firstAt = static_cast<double>(t0) / 1e9 + static_cast<double>(first) / kRate;
  EXPECT_NEAR(firstAt, static_cast<double>(started) / 1e9, 0.1);
}

TEST_F(BenchAudioTest, AnUnderrunIsAnXrunThatRecoverMends) {
  PcmStream stream = openPlayback();
  ASSERT_TRUE(stream.isOpen());
  const std::vector<uint8_t> first = bytesOf(std::vector<int16_t>(2 * kStartThreshold, 1000));
  const std::vector<uint8_t> second = bytesOf(std::vector<int16_t>(2 * kStartThreshold, 2000));
  ASSERT_EQ(stream.writei(first), static_cast<long>(kStartThreshold));
  EXPECT_EQ(stream.state(), PcmState::running);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the buffer plays out
  const long late = stream.writei(std::span(second).first(kPeriod * 4));
  EXPECT_EQ(late, -EPIPE);
  EXPECT_EQ(stream.state(), PcmState::xrun);
  ASSERT_EQ(stream.recover(static_cast<int>(late)), 0);
  EXPECT_EQ(stream.state(), PcmState::prepared);
  ASSERT_EQ(stream.writei(second), static_cast<long>(kStartThreshold));
  EXPECT_EQ(stream.state(), PcmState::running);
  EXPECT_EQ(stream.drain(), 0);

  // Both stretches were played whole, with silence between them for the time of the gap.
  const std::optional<WavFile> wav = readWavFile(root().playbackWav());
  ASSERT_TRUE(wav);
  size_t ones = 0;
  size_t twos = 0;
  size_t gap = 0;
  for (size_t i = 0; i < wav->frames(); ++i) {
    const int16_t v = wav->at(i);
    if (v == 1000) ++ones;
    if (v == 2000) ++twos;
    if (v == 0 && ones > 0 && twos == 0) ++gap;
  }
  EXPECT_EQ(ones, kStartThreshold);
  EXPECT_EQ(twos, kStartThreshold);
  EXPECT_GT(gap, kRate / 10) << "the second stretch was not played after the pause";
}

TEST_F(BenchAudioTest, CaptureOverrunsWhenTheReaderFallsABufferBehind) {
  PcmStream stream = openCapture(4800);  // 100 ms
  ASSERT_TRUE(stream.isOpen());
  EXPECT_EQ(captureBuffer_, 4800u);
  capture(stream, kChunk);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::vector<uint8_t> chunk(kChunk * 4);
  const long late = stream.readi(chunk);
  EXPECT_EQ(late, -EPIPE);
  ASSERT_EQ(stream.recover(static_cast<int>(late)), 0);
  EXPECT_EQ(stream.readi(chunk), static_cast<long>(kChunk));
}

TEST_F(BenchAudioTest, TheDefaultCaptureBufferHoldsSeveralChunks) {
  PcmStream stream = openCapture();
  ASSERT_TRUE(stream.isOpen());
  EXPECT_GE(captureBuffer_, 4 * kChunk);
  EXPECT_LE(captureBuffer_, 65536u);
}

TEST_F(BenchAudioTest, WaitReadyFollowsTheDevice) {
  auto wakeup = PcmWakeup::create();
  ASSERT_TRUE(wakeup.ok());
  {
    PcmStream stream = openPlayback();
    ASSERT_TRUE(stream.isOpen());
    const std::vector<uint8_t> full(kPlaybackBuffer * 4, 0);
    ASSERT_EQ(stream.writei(full), static_cast<long>(kPlaybackBuffer));
    EXPECT_EQ(stream.waitReady(0, wakeup.value()), PcmWait::timeout) << "a full buffer";
    const int64_t waited = monotonicNs();
    EXPECT_EQ(stream.waitReady(1000, wakeup.value()), PcmWait::ready);
    EXPECT_LT(secondsSince(waited), 0.5) << "a period plays in 4 ms";
    EXPECT_GE(stream.avail(), static_cast<long>(kPeriod));
    // Raised from outside, the wait ends at once.
    std::vector<uint8_t> fill(static_cast<size_t>(stream.avail()) * 4, 0);
    ASSERT_GT(stream.writei(fill), 0);
    ASSERT_EQ(wakeup->raise(), 0);
    EXPECT_EQ(stream.waitReady(5000, wakeup.value()), PcmWait::woken);
    ASSERT_EQ(wakeup->clear(), 0);
  }
  PcmStream stream = openCapture();
  ASSERT_TRUE(stream.isOpen());
  capture(stream, kChunk);
  const int64_t waited = monotonicNs();
  EXPECT_EQ(stream.waitReady(1000, wakeup.value()), PcmWait::ready);
  EXPECT_LT(secondsSince(waited), 0.5);
  EXPECT_GT(stream.avail(), 0);
}

TEST_F(BenchAudioTest, FaultsOfTheFaultFile) {
  struct OpenCase {
    const char* fault;
    PcmDirection direction;
    int error;
  };
  const OpenCase opens[] = {
      {"refuse-open\n", PcmDirection::capture, -EBUSY},
      {"refuse-open\n", PcmDirection::playback, -EBUSY},
      {"gone\n", PcmDirection::capture, -ENODEV},
      {"gone\n", PcmDirection::playback, -ENODEV},
      {"", PcmDirection::capture, 0},
      {"no such fault\n", PcmDirection::playback, 0},
  };
  for (const OpenCase& c : opens) {
    const bool capture = c.direction == PcmDirection::capture;
    SCOPED_TRACE(std::string(c.fault) + (capture ? " capture" : " playback"));
    replaceText(capture ? root().rxAudioFaultFile() : root().txAudioFaultFile(), c.fault);
    auto stream = PcmStream::openDevice(capture ? kRxAudioDevice : kTxAudioDevice, c.direction);
    EXPECT_EQ(stream.ok() ? 0 : stream.error(), c.error);
  }
  replaceText(root().rxAudioFaultFile(), "");
  replaceText(root().txAudioFaultFile(), "");
  auto wakeup = PcmWakeup::create();
  ASSERT_TRUE(wakeup.ok());

  // A stall: no frame comes, the device is never ready; then it goes on.
  {
    PcmStream stream = openCapture();
    ASSERT_TRUE(stream.isOpen());
    capture(stream, kChunk);
    replaceText(root().rxAudioFaultFile(), "stall\n");
    const long before = stream.avail();
    EXPECT_EQ(stream.waitReady(300, wakeup.value()), PcmWait::timeout);
    EXPECT_EQ(stream.avail(), before);
    replaceText(root().rxAudioFaultFile(), "");
    EXPECT_EQ(waitUntilReady(stream, wakeup.value(), 2.0), PcmWait::ready);
    EXPECT_EQ(capture(stream, kChunk).size(), 2 * kChunk);
  }

  // The device disappears under a running stream: reads, writes and waits fail.
  PcmStream in = openCapture();
  PcmStream out = openPlayback();
  ASSERT_TRUE(in.isOpen() && out.isOpen());
  capture(in, kChunk);
  const std::vector<uint8_t> frames(kStartThreshold * 4, 0);
  ASSERT_EQ(out.writei(frames), static_cast<long>(kStartThreshold));
  replaceText(root().rxAudioFaultFile(), "gone\n");
  replaceText(root().txAudioFaultFile(), "gone\n");
  std::vector<uint8_t> chunk(kChunk * 4);
  EXPECT_EQ(in.readi(chunk), -ENODEV);
  EXPECT_EQ(out.writei(std::span(frames).first(kPeriod * 4)), -ENODEV);
  EXPECT_EQ(in.state(), PcmState::disconnected);
  EXPECT_EQ(out.waitReady(1000, wakeup.value()), PcmWait::streamError);
  EXPECT_LT(in.recover(-ENODEV), 0) << "a device that is gone cannot be recovered";
}

}  // namespace
}  // namespace corvid::bench::test
