// corvid-audio-benchmark: remote audio of the real controller on the bench's sound devices,
// with corvid-remote as the client, in figures.
//   1. Added one-way latency, both directions at once, for each audio setting below. The
//      bench's capture plays a click (5 ms of 1 kHz) every second, and corvid-remote sends
//      the same. A click's latency is its onset on the time axis of the file it
//      arrives in (the client's received audio; the bench's playback recording) less the
//      moment it left (on the capture's time axis; the moment the client's chunk was due).
//   2. For SECONDS, a client sends a tone whose chunks leave with 0..JITTER ms of delay each,
//      and listens at the same time, with the factory setting. Counted: the playback
//      callback's underruns, the ring's corrections at its wraps, the capture's overruns,
//      and the tone's dropouts in the playback recording.
// Not a test: run it by hand, on an idle machine.
//
//   corvid-audio-benchmark [SECONDS] [JITTER_MS]    (defaults 600 and 20)
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "sim/scenarios.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/remote_client_run.h"
#include "tests/bench/remote_transceiver.h"
#include "tests/bench/wav_file.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPassword = "bench-pass";
constexpr int64_t kRate = 48000;
constexpr int64_t kNs = 1'000'000'000;
constexpr int64_t kClickPeriodMs = 1000;
constexpr int kLatencySeconds = 12;

struct AudioSetting {
  const char* name;
  const char* bitrate;
  const char* chunkUs;
  const char* bufferChunks;
};

constexpr AudioSetting kSettings[] = {
    {"factory: Opus 30 kb/s, 10 ms chunks, 10 chunks buffered", "30000", "10000", "10"},
    {"factory, but 6 chunks buffered", "30000", "10000", "6"},
    {"raw, 5 ms chunks (the largest raw), 20 buffered", "0", "5000", "20"},
    {"smallest: Opus 30 kb/s, 2.5 ms chunks, 1 chunk buffered", "30000", "2500", "1"},
    {"smallest, raw", "0", "2500", "1"},
};

int64_t readTimeAxis(const fs::path& file) {
  std::ifstream in(file);
  long long ns = -1;
  in >> ns;
  return in ? static_cast<int64_t>(ns) : -1;
}

// The frame at which each click starts: the first sample above the threshold after at
// least 100 ms below it, from frame `from` on.
std::vector<int64_t> clickOnsets(const WavFile& wav, int64_t from, double threshold) {
  std::vector<int64_t> onsets;
  int64_t quiet = kRate / 10;
  for (int64_t f = std::max<int64_t>(from, 0); f < static_cast<int64_t>(wav.frames()); ++f) {
    if (std::abs(static_cast<double>(wav.at(static_cast<size_t>(f)))) < threshold) {
      ++quiet;
      continue;
    }
    if (quiet >= kRate / 10) onsets.push_back(f);
    quiet = 0;
  }
  return onsets;
}

// Latencies in ms: each onset (ns on the monotonic clock) less the last click that left
// at or before it (clicks leave at origin + k x period). The first and last second are
// left out (start-up of the stream, the client leaving).
std::vector<double> latencies(const std::vector<int64_t>& onsetNs, int64_t origin,
                              int64_t sessionEnd) {
  std::vector<double> ms;
  const int64_t period = kClickPeriodMs * 1'000'000;
  for (const int64_t at : onsetNs) {
    if (at < origin || at > sessionEnd - kNs) continue;
    const int64_t k = (at - origin) / period;
    if (k < 1) continue;
    ms.push_back(static_cast<double>(at - (origin + k * period)) / 1e6);
  }
  return ms;
}

void printFigures(const char* what, std::vector<double> ms) {
  if (ms.empty()) {
    std::printf("    %-30s no click found\n", what);
    return;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("    %-30s min %6.1f ms  median %6.1f ms  max %6.1f ms  (%zu clicks)\n", what,
              ms.front(), ms[ms.size() / 2], ms.back(), ms.size());
}

// A stereo WAV of silence with a 5 ms burst of 1 kHz at -6 dBFS every click period. (A
// shorter or higher one vanishes in Opus at 2.5 ms frames and 30 kb/s: the codec gives a
// burst that follows silence too few bits.)
void writeClicks(const fs::path& path, int seconds) {
  const auto frames = static_cast<size_t>(seconds * kRate);
  std::vector<int16_t> samples(frames * 2, 0);
  const auto period = static_cast<size_t>(kClickPeriodMs * kRate / 1000);
  for (size_t f = 0; f < frames; ++f) {
    const size_t m = f % period;
    if (m >= static_cast<size_t>(kRate / 200)) continue;
    const auto v = static_cast<int16_t>(std::lround(
        16422 * std::cos(2 * std::numbers::pi * 1000 * static_cast<double>(m) / kRate)));
    samples[2 * f] = v;
    samples[2 * f + 1] = v;
  }
  writeWavFile(path, 2, static_cast<unsigned>(kRate), samples);
}

size_t countFrom(const std::string& text, size_t from, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what, from); at != std::string::npos; at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

int64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * kNs + now.tv_nsec;
}

// Runs of 20 or more samples (0.4 ms) below 1000 between the first and last loud sample
// of the part of the recording from `from` on: the tone's dropouts, and their total length.
struct Dropouts {
  int count = 0;
  double ms = 0;
  double loudSeconds = 0;
};
Dropouts dropoutsOf(const WavFile& wav, int64_t from) {
  Dropouts d;
  int64_t first = -1;
  int64_t last = -1;
  for (int64_t f = std::max<int64_t>(from, 0); f < static_cast<int64_t>(wav.frames()); ++f) {
    if (std::abs(static_cast<int>(wav.at(static_cast<size_t>(f)))) >= 1000) {
      if (first < 0) first = f;
      last = f;
    }
  }
  if (first < 0) return d;
  int64_t quiet = 0;
  for (int64_t f = first; f <= last; ++f) {
    if (std::abs(static_cast<int>(wav.at(static_cast<size_t>(f)))) < 1000) {
      ++quiet;
      continue;
    }
    if (quiet >= 20) {
      ++d.count;
      d.ms += static_cast<double>(quiet) * 1000.0 / kRate;
    }
    quiet = 0;
  }
  d.loudSeconds = static_cast<double>(last - first) / kRate;
  return d;
}

int run(int seconds, int jitterMs) {
  MicroRun bench;
  CorvidRun& corvid = bench.corvid();
  if (!corvid.prepared()) return 1;
  corvid.writeFile("/opt/set/setup.txt", goldenSetup());
  const uint16_t port = freeTcpPort();
  if (const std::string error = setRemoteOperation(corvid.root(), port, kPassword);
      !error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  RemoteTransceiver transceiver(corvid.root());
  std::string error;
  if (!transceiver.start(error)) {
    std::fprintf(stderr, "simulators: %s\n", error.c_str());
    return 1;
  }
  const fs::path dir = corvid.root().dir();
  // The same clicks both ways: the capture loops the file from its time axis's start, and
  // the file is whole seconds long, so its clicks fall on the axis's seconds.
  const fs::path clicks = dir / "clicks.wav";
  writeClicks(clicks, kLatencySeconds + 5);
  std::ofstream(corvid.root().captureSignalFile()) << "wav " << clicks.string() << "\n";
  if (!bench.start() ||
      !corvid.waitForLog("Listening on port " + std::to_string(port), std::chrono::seconds(60)) ||
      !corvid.waitForLog("th_scrivi playback sw_params freed", std::chrono::seconds(30)) ||
      !corvid.waitForLog("capture audio interface prepared", std::chrono::seconds(30))) {
    std::fprintf(stderr, "the controller did not start its audio\n%s", corvid.log().c_str());
    return 1;
  }

  // 1. Latency.
  std::printf("Added one-way latency, a click every %lld ms, %d s a setting:\n",
              static_cast<long long>(kClickPeriodMs), kLatencySeconds);
  for (const AudioSetting& setting : kSettings) {
    const std::string n = std::to_string(&setting - kSettings);
    const fs::path heard = dir / ("heard-" + n + ".wav");
    const fs::path axis = dir / ("spoken-" + n + ".t0");
    fs::remove(heard);
    fs::remove(heard.string() + ".t0");
    fs::remove(axis);
    const size_t logFrom = corvid.logSize();
    const Finished f = runRemote(
        port,
        {"--password", kPassword, "--for", std::to_string(kLatencySeconds), "--bitrate",
         setting.bitrate, "--chunk-us", setting.chunkUs, "--buffer-chunks", setting.bufferChunks,
         "--audio-out", heard.string(), "--audio-in", clicks.string(), "--audio-in-t0",
         axis.string()},
        dir, std::chrono::seconds(kLatencySeconds + 20));
    const int64_t end = monotonicNs();
    std::printf("  %s (client exit %d)\n", setting.name, f.status ? f.status->shellStatus() : -1);
    corvid.waitForLogFrom(logFrom, "th_scrivi playback sw_params freed", std::chrono::seconds(10));

    // To the client: onsets on the client file's axis, clicks on the capture's axis.
    const std::optional<WavFile> got = readWavFile(heard);
    const int64_t gotT0 = readTimeAxis(heard.string() + ".t0");
    const int64_t captureT0 = readTimeAxis(corvid.root().captureWav().string() + ".t0");
    std::vector<int64_t> toClient;
    if (got && gotT0 >= 0 && captureT0 >= 0) {
      for (const int64_t frame : clickOnsets(*got, 0, 4000)) {
        toClient.push_back(gotT0 + frame * kNs / kRate);
      }
    }
    printFigures("transceiver to client", latencies(toClient, captureT0, end));

    // To the transceiver: onsets on the recording's axis, clicks on the client's.
    const fs::path played = corvid.root().playbackWav();
    const std::optional<WavFile> out = readWavFile(played);
    const int64_t playT0 = readTimeAxis(played.string() + ".t0");
    const int64_t sentT0 = readTimeAxis(axis);
    std::vector<int64_t> toTransceiver;
    if (out && playT0 >= 0 && sentT0 >= 0) {
      const int64_t from = (sentT0 - playT0) * kRate / kNs;
      for (const int64_t frame : clickOnsets(*out, from, 4000)) {
        toTransceiver.push_back(playT0 + frame * kNs / kRate);
      }
    }
    printFigures("client to transceiver", latencies(toTransceiver, sentT0, end));
    const std::string log = corvid.log();
    std::printf("    underruns %zu, sound exausted %zu, too much sound %zu\n",
                countFrom(log, logFrom, "prepare to output audio interface failed"),
                countFrom(log, logFrom, "sound exausted"),
                countFrom(log, logFrom, "too much sound"));
  }

  // 2. Xruns under jitter, the factory setting.
  const fs::path tone = dir / "tone.wav";
  writeToneWavFile(tone, 1000, 10);
  std::ofstream(corvid.root().captureSignalFile()) << "tone 1000 -12\n";
  const fs::path axis = dir / "tone.t0";
  const size_t logFrom = corvid.logSize();
  std::printf("A client with 0..%d ms of jitter a chunk for %d s, factory setting:\n", jitterMs,
              seconds);
  std::fflush(stdout);
  const Finished f = runRemote(
      port,
      {"--password", kPassword, "--for", std::to_string(seconds), "--audio-jitter",
       std::to_string(jitterMs), "--audio-in", tone.string(), "--audio-in-t0", axis.string(),
       "--audio-out", (dir / "heard-long.wav").string(), "--stats"},
      dir, std::chrono::seconds(seconds + 30));
  corvid.waitForLogFrom(logFrom, "th_scrivi playback sw_params freed", std::chrono::seconds(10));
  const std::string log = corvid.log();
  std::printf("  client exit %d\n", f.status ? f.status->shellStatus() : -1);
  std::printf("  playback underruns (xruns) %zu\n",
              countFrom(log, logFrom, "prepare to output audio interface failed"));
  std::printf("  ring corrections: sound exausted %zu, too much sound %zu\n",
              countFrom(log, logFrom, "sound exausted"), countFrom(log, logFrom, "too much sound"));
  std::printf("  capture overruns %zu\n", countFrom(log, logFrom, "capture overrun"));
  const fs::path played = corvid.root().playbackWav();
  const std::optional<WavFile> out = readWavFile(played);
  const int64_t playT0 = readTimeAxis(played.string() + ".t0");
  const int64_t sentT0 = readTimeAxis(axis);
  if (out && playT0 >= 0 && sentT0 >= 0) {
    const Dropouts d = dropoutsOf(*out, (sentT0 - playT0) * kRate / kNs);
    std::printf("  the tone at the transceiver: %.1f s, %d dropouts, %.1f ms of them in all\n",
                d.loudSeconds, d.count, d.ms);
  }
  if (const std::optional<WavFile> heard = readWavFile(dir / "heard-long.wav")) {
    const Dropouts d = dropoutsOf(*heard, 0);
    std::printf("  the tone at the client: %.1f s, %d dropouts, %.1f ms of them in all\n",
                d.loudSeconds, d.count, d.ms);
  }
  if (const size_t at = f.out.rfind("frames "); at != std::string::npos) {
    std::printf("  client summary %s", f.out.substr(at).c_str());
  }
  if (const char* keep = std::getenv("CORVID_KEEP_AUDIO"); keep != nullptr) {
    fs::create_directories(keep);
    std::ofstream(fs::path(keep) / "controller.log") << log;
    std::error_code ec;
    for (const fs::path& folder : {dir, played.parent_path()}) {
      for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".wav" || ext == ".t0") {
          fs::copy_file(entry.path(), fs::path(keep) / entry.path().filename(),
                        fs::copy_options::overwrite_existing, ec);
        }
      }
    }
  }
  return 0;
}

}  // namespace
}  // namespace corvid::bench::test

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
  const int jitterMs = argc > 2 ? std::clamp(std::atoi(argv[2]), 0, 1000) : 20;
  return corvid::bench::test::run(seconds, jitterMs);
}
