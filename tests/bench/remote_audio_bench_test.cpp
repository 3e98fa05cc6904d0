// Remote audio of the real controller on the bench's sound devices, heard and spoken by
// corvid-remote run as the program it is: the transceiver's tone captured by the bench
// device arrives in the client's WAV at its frequency, Opus-coded and raw; the client's
// tone is played into the bench device's recording; a client that leaves and comes back
// is played again by the same playback thread; at the end the capture closes quietly.
//
// One start of the controller in remote operation serves every check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/child_process.h"
#include "sim/gpio_keys.h"
#include "sim/root_settings.h"
#include "sim/scenarios.h"
#include "sim/service_keyboard.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/remote_client_run.h"
#include "tests/bench/remote_transceiver.h"
#include "tests/bench/wav_file.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "bench-pass";
constexpr unsigned kRate = 48000;

int64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The CLOCK_MONOTONIC time of a recording's sample 0; -1 when missing.
int64_t timeAxisOf(const fs::path& wav) {
  std::ifstream in(wav.string() + ".t0");
  long long ns = -1;
  in >> ns;
  return in ? static_cast<int64_t>(ns) : -1;
}

// The longest run of channel 0 from `from` on without a gap (20 or more samples in a row
// below the threshold: a dropout, or silence before and after), and the peak in it.
struct Loud {
  std::vector<double> samples;
  double peak = 0;
  int gaps = 0;  // gaps between loud runs
};
Loud loudPart(const WavFile& wav, size_t from = 0, double threshold = 1000) {
  Loud loud;
  std::vector<double> runSamples;
  size_t quiet = 0;
  int runs = 0;
  // Pieces shorter than 10 ms (a codec's first samples) do not count.
  const auto endRun = [&] {
    if (runSamples.size() < kRate / 100) {
      runSamples.clear();
      return;
    }
    ++runs;
    runSamples.resize(runSamples.size() - std::min(quiet, runSamples.size()));
    if (runSamples.size() > loud.samples.size()) loud.samples = runSamples;
    runSamples.clear();
  };
  for (size_t f = from; f < wav.frames(); ++f) {
    const double v = wav.at(f, 0);
    quiet = std::abs(v) < threshold ? quiet + 1 : 0;
    if (quiet >= 20) {
      endRun();
      continue;
    }
    runSamples.push_back(v);
  }
  quiet = 0;
  endRun();
  loud.gaps = std::max(0, runs - 1);
  for (const double v : loud.samples) loud.peak = std::max(loud.peak, std::abs(v));
  return loud;
}

// The frequency from rising zero crossings over the samples, the first and last 10 %
// left out (fades and codec start-up); 0 when there is too little.
double frequencyOf(const std::vector<double>& samples) {
  const size_t from = samples.size() / 10;
  const size_t to = samples.size() - samples.size() / 10;
  if (to < from + kRate / 10) return 0;
  std::optional<double> first;
  double last = 0;
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      // The crossing between the two samples, interpolated.
      const double at = static_cast<double>(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
      if (!first) {
        first = at;
      } else {
        ++crossings;
      }
      last = at;
    }
  }
  if (!first || crossings < 10) return 0;
  return crossings * kRate / (last - *first);
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RemoteAudioBench, ToneBothWaysRawAndOpusAndAClientThatComesBack) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  run.writeFile("/opt/set/setup.txt", goldenSetup());
  const uint16_t port = freeTcpPort();
  ASSERT_NE(port, 0);
  ASSERT_EQ(setRemoteOperation(run.root(), port, kPassword), "");
  RemoteTransceiver transceiver(run.root());
  std::string error;
  ASSERT_TRUE(transceiver.start(error)) << error;
  ASSERT_TRUE(bench.start());
  ASSERT_TRUE(run.waitForLog("Listening on port " + std::to_string(port), 60s)) << run.log();
  ASSERT_TRUE(run.waitForLog("capture audio interface bench_rx_audio opened", 30s)) << run.log();
  ASSERT_TRUE(run.waitForLog("capture audio interface prepared", 10s)) << run.log();
  ASSERT_TRUE(run.waitForLog("output audio interface bench_tx_audio opened", 30s)) << run.log();
  ASSERT_TRUE(run.waitForLog("th_scrivi playback sw_params freed", 10s)) << run.log();
  const fs::path dir = run.root().dir();

  // The bench's capture plays its default tone, 1000 Hz at -12 dBFS.
  for (const auto& [bitrate, name] :
       {std::pair<const char*, const char*>{"30000", "Opus at 30 kb/s"}, {"0", "raw"}}) {
    SCOPED_TRACE(std::string("the transceiver's tone to the client, ") + name);
    const fs::path out = dir / (std::string("heard-") + bitrate + ".wav");
    const Finished f = runRemote(
        port,
        {"--password", kPassword, "--for", "4", "--bitrate", bitrate, "--audio-out", out.string()},
        dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << f.err;
    const std::optional<WavFile> wav = readWavFile(out);
    ASSERT_TRUE(wav) << out;
    EXPECT_EQ(wav->channels, 2u);
    EXPECT_EQ(wav->rate, kRate);
    EXPECT_GE(wav->frames(), 2 * kRate) << "4 s of a session, at least 2 s of sound";
    const Loud loud = loudPart(*wav);
    // Under an emulator (the armhf build's tests) the controller may fall behind real time
    // now and then; natively the transceiver's audio comes without a dropout.
    if (emulatorWords().empty()) {
      EXPECT_EQ(loud.gaps, 0) << "the transceiver's audio without a dropout";
    } else {
      EXPECT_GE(loud.samples.size(), kRate / 2) << "half a second in one piece at least";
    }
    EXPECT_NEAR(frequencyOf(loud.samples), 1000, 10);
    if (std::string(bitrate) == "0") {
      EXPECT_NEAR(loud.peak, 8231, 10) << "-12 dBFS, sample for sample";
    } else {
      // At 30 kb/s the codec itself lets a pure tone's peaks swing by about half again
      // (1.56 times the level, coded and decoded alone); the level stays within 6 dB.
      EXPECT_GT(loud.peak, 8231 * 0.5);
      EXPECT_LT(loud.peak, 8231 * 2.0);
    }
    EXPECT_TRUE(run.waitForLog("TCP closed", 5s));
  }

  // The client's tone into the transceiver's audio input, twice: the second client finds
  // the playback thread that served the first one open again.
  const fs::path played = run.root().playbackWav();
  for (const double hz : {1500.0, 700.0}) {
    SCOPED_TRACE("the client's " + std::to_string(static_cast<int>(hz)) + " Hz to the transceiver");
    const fs::path in = dir / ("spoken-" + std::to_string(static_cast<int>(hz)) + ".wav");
    ASSERT_TRUE(writeToneWavFile(in, hz, 2.0));
    const size_t from = run.logSize();
    const int64_t startNs = monotonicNs();
    const Finished f =
        runRemote(port, {"--password", kPassword, "--for", "5", "--audio-in", in.string()}, dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << f.err;
    EXPECT_TRUE(run.waitForLogFrom(from, "th_scrivi pcm callback started", 5s))
        << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "th_scrivi output audio interface closed", 10s))
        << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "th_scrivi playback sw_params freed", 10s))
        << "open again for the next client: " << run.logFrom(from);
    const std::optional<WavFile> wav = readWavFile(played);
    ASSERT_TRUE(wav) << played;
    const int64_t t0 = timeAxisOf(played);
    ASSERT_GE(t0, 0);
    const size_t first =
        startNs > t0 ? static_cast<size_t>((startNs - t0) * kRate / 1'000'000'000) : 0;
    const Loud loud = loudPart(*wav, first);
    EXPECT_GE(loud.samples.size(), emulatorWords().empty() ? kRate : kRate / 2)
        << "at least 1 s of the client's sound in one piece";
    EXPECT_NEAR(frequencyOf(loud.samples), hz, hz / 200);
    std::printf("%.0f Hz to the transceiver: %d dropouts in %.1f s played\n", hz, loud.gaps, 5.0);
    if (emulatorWords().empty()) {
      // The pre-buffer holds from the start: the ring's wraps (every 2 s) find the writer
      // where it should be, with nothing to correct and no dropout.
      EXPECT_EQ(loud.gaps, 0);
      const std::string session = run.logFrom(from);
      EXPECT_EQ(count(session, "sound exausted"), 0u) << session;
      EXPECT_EQ(count(session, "too much sound"), 0u) << session;
    }
  }
  if (const char* keep = std::getenv("CORVID_KEEP_AUDIO"); keep != nullptr) {
    fs::create_directories(keep);
    for (const fs::path& file :
         {played, run.root().captureWav(), dir / "heard-0.wav", dir / "heard-30000.wav"}) {
      std::error_code ec;
      fs::copy_file(file, fs::path(keep) / file.filename(), fs::copy_options::overwrite_existing,
                    ec);
      fs::copy_file(file.string() + ".t0", fs::path(keep) / (file.filename().string() + ".t0"),
                    fs::copy_options::overwrite_existing, ec);
    }
    std::ofstream(fs::path(keep) / "controller.log") << run.log();
  }
  EXPECT_EQ(count(run.log(), "th_scrivi ERR"), 0u) << run.log();
  EXPECT_EQ(count(run.log(), "th_leggi ERR"), 0u) << run.log();
  EXPECT_TRUE(run.alive());

  // The menu's switch to local operation (item 2, "Remote" to "Local", ENTER): the
  // capture ends quietly, with no error raised, and the controller runs on.
  {
    SCOPED_TRACE("the menu's switch to local operation");
    GpioKeys keys(run.root().gpioBlock());
    ASSERT_TRUE(keys.ok()) << keys.error();
    const auto tap = [&](int key) {
      for (int attempt = 0; attempt < 2; ++attempt) {
        const size_t at = run.logSize();
        keys.set(key, true);
        std::this_thread::sleep_for(120ms);
        keys.set(key, false);
        const bool seen =
            run.waitForLogFrom(at, "key " + std::to_string(key) + " short\n", 10s).has_value();
        std::this_thread::sleep_for(120ms);
        if (seen) return true;
      }
      return false;
    };
    const size_t from = run.logSize();
    ASSERT_TRUE(tap(5) && run.waitForLogFrom(from, "panel menu\n", 10s)) << run.logFrom(from);
    ASSERT_TRUE(tap(4) && tap(4));
    ASSERT_TRUE(tap(6) && run.waitForLogFrom(from, "panel menu-edit\n", 10s))
        << run.logFrom(from);
    ASSERT_TRUE(tap(5));
    ASSERT_TRUE(tap(6));
    EXPECT_TRUE(run.waitForLogFrom(from, "capture audio interface closed", 20s))
        << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "th_leggi END", 10s)) << run.logFrom(from);
    std::this_thread::sleep_for(1s);
    const std::string after = run.logFrom(from);
    EXPECT_EQ(count(after, "th_leggi ERR"), 0u) << after;
    EXPECT_EQ(count(after, "th_scrivi ERR"), 0u) << after;
    EXPECT_TRUE(run.alive());
    EXPECT_EQ(rootSetting(run.root(), "LocalRemote").value_or(""), "0");
  }

  // F12 of the service keyboard shuts the controller down: both threads end, the capture
  // closes without an error.
  ServiceKeyboard keyboard(run.root().serviceKeyboard());
  ASSERT_TRUE(keyboard.ok()) << keyboard.error();
  ASSERT_TRUE(run.waitForLog("Continuous keyboard loop started")) << run.log();
  ASSERT_TRUE(keyboard.press(KEY_F12));
  ASSERT_TRUE(waitUntil([&] { return !run.alive(); }, 40s)) << run.log();
  const std::string log = run.log();
  EXPECT_NE(log.find("capture audio interface closed"), std::string::npos) << log;
  EXPECT_NE(log.find("th_leggi END"), std::string::npos) << log;
  EXPECT_NE(log.find("Communicator joined Spi end"), std::string::npos) << log;
  EXPECT_NE(log.find("Communicator joined Touch end"), std::string::npos) << log;
  EXPECT_EQ(count(log, "th_leggi ERR"), 0u);
}

}  // namespace
}  // namespace corvid::bench::test
