#include "remote/remote_audio.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/works.h"
#include "errors/errors.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/log.h"
#include "platform/pcm.h"
#include "remote/ws_server.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::PcmDirection;
using platform::pcmErrorText;
using platform::PcmStep;
using platform::PcmStream;

namespace {

constexpr int kOpenTries = 100;
constexpr int kOpenPauseMs = 100;
// The playback device's buffer and period are counted in 192-frame units (4 periods).
constexpr unsigned long kPlaybackUnitFrames = kPeriodFrames * 2 * (16 / 8);
constexpr int kWaitMs = 10;

// Each thread runs while its flag is '1' and the controller runs (its shutdown joins them).
bool readWanted(const Works& works) {
  return works.core.running.load() != 0 && works.set.text.flag(Slot::EnableRead) == '1';
}
bool writeWanted(const Works& works) {
  return works.core.running.load() != 0 && works.set.text.flag(Slot::EnableWrite) == '1';
}
bool clientReady(const Works& works) {
  return works.remote.wsClientReady.load() == 1;
}

// Sleeps ms in steps of 10 ms, cut short when keepWaiting says so.
template <typename Pred>
void sleepWhile(int ms, Pred keepWaiting) {
  for (int waited = 0; waited < ms && keepWaiting(); waited += kWaitMs) {
    platform::sleepMs(std::min(kWaitMs, ms - waited));
  }
}

// One period of the ring: copied out and cleared, so that it plays as silence should the
// server fall behind. Outside the ring (a chunk size changed under it): silence.
std::array<uint8_t, kPeriodBytes> takePeriod(RemoteState& remote, int period, bool clear) {
  std::array<uint8_t, kPeriodBytes> out{};
  const size_t at = static_cast<size_t>(std::max(period, 0)) * kPeriodBytes;
  if (at + kPeriodBytes > remote.playRing->size()) return out;
  std::scoped_lock lock(remote.playRingMutex);
  auto from = remote.playRing->begin() + static_cast<std::ptrdiff_t>(at);
  std::copy_n(from, kPeriodBytes, out.begin());
  if (clear) std::fill_n(from, kPeriodBytes, uint8_t{0});
  return out;
}

void clearPeriod(RemoteState& remote, int period) {
  takePeriod(remote, period, true);
}

// The read position after a period was written, with the fill check at each wrap.
void advanceReadPosition(Works& works, int slot) {
  RemoteState& remote = works.remote;
  if (remote.playStart.load() < 1) {
    remote.playReadSlot = 0;
    return;
  }
  const int next = (slot + 1) % playRingPeriods(remote);
  remote.playReadSlot = next;
  if (next != 0) return;
  const int chunks = remote.bufferChunks.load();
  const int written = remote.playWriteSlot.load();
  if (written >= 2 * chunks) {
    logInfo("too much sound %d", 2 * chunks);
    remote.playWriteSlot = chunks;
  } else if (written < chunks / 2) {
    logInfo("sound exausted");
    remote.playWriteSlot = chunks;
  }
  if (remote.audioRestart.load() != 0) {
    remote.audioRestart = 0;
    remote.playWriteSlot = chunks;
  }
}

// The real stream behind the callback.
class StreamDevice : public PlaybackDevice {
 public:
  explicit StreamDevice(PcmStream& stream) : stream_(stream) {}
  long avail() override { return stream_.avail(); }
  long writei(std::span<const uint8_t> frames) override { return stream_.writei(frames); }
  int prepare() override { return stream_.prepare(); }

 private:
  PcmStream& stream_;
};

// ---- capture ----

void ExitAUDIOread(Works& works, PcmStream& stream) {
  std::fputs("th_leggi ERR\n", stderr);
  AddErrore(works, Err::AudioRead);
  if (stream.isOpen()) stream.close();
  works.core.remoteRestartRequest = 1;
  works.set.text.setFlag(Slot::EnableRead, '0');
}

// The informational lines of the steps that were done, then the failed step's line.
// False when a step failed.
bool logCaptureHardware(const platform::PcmHardwareResult& result, unsigned channels,
                        unsigned rate) {
  struct Line {
    PcmStep step;
    const char* done;
    const char* failed;
  };
  static constexpr std::array<Line, 7> kLines = {{
      {PcmStep::allocate, "capture hw_params allocated",
       "cannot allocate capture hardware parameter structure (%s)"},
      {PcmStep::initialize, "capture hw_params initialized",
       "cannot initialize capture hardware parameter structure (%s)"},
      {PcmStep::access, "capture hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set",
       "cannot set capture access type (%s)"},
      {PcmStep::format, "capture hw_params SND_PCM_FORMAT_S16_LE format set",
       "cannot set capture sample format (%s)"},
      {PcmStep::rate, nullptr, "cannot set capture sample rate (%s)"},
      {PcmStep::channels, nullptr, "cannot set capture channel count (%s)"},
      {PcmStep::apply, "capture hw_params set", "cannot set capture parameters (%s)"},
  }};
  for (const Line& line : kLines) {
    if (!result.ok() && result.failedStep == line.step) {
      logError(line.failed, pcmErrorText(result.error));
      return false;
    }
    if (line.step == PcmStep::rate) {
      logInfo("capture hw_params rate set to %d", static_cast<int>(rate));
    } else if (line.step == PcmStep::channels) {
      logInfo("capture hw_params number of channels set to %d", static_cast<int>(channels));
    } else {
      logInfo("%s", line.done);
    }
  }
  if (!result.ok()) {  // a step the capture does not ask for
    logError("cannot set capture parameters (%s)", pcmErrorText(result.error));
    return false;
  }
  logInfo("capture hw_params freed");
  return true;
}

// One chunk as the sender takes it: stereo, 16-bit. A mono device's samples are doubled.
void sendChunk(Works& works, std::span<const uint8_t> bytes, unsigned channels,
               std::vector<int16_t>& samples) {
  const size_t frames = bytes.size() / (2 * channels);
  samples.resize(frames * 2);
  for (size_t f = 0; f < frames; ++f) {
    for (size_t c = 0; c < 2; ++c) {
      const size_t from = (f * channels + std::min<size_t>(c, channels - 1)) * 2;
      samples[f * 2 + c] = static_cast<int16_t>(bytes[from] | (bytes[from + 1] << 8));
    }
  }
  sendWebSockAudioFrame(works, samples);
}

}  // namespace

int playRingPeriods(const RemoteState& remote) {
  const int frames = static_cast<int>(playChunkBytes(remote) / 4);
  return std::max(1, frames * kPlayRingSlots / kPeriodFrames);
}

void MyRecCallback(Works& works, PlaybackDevice& device) {
  RemoteState& remote = works.remote;
  if (remote.playStart.load() == 0) clearPeriod(remote, remote.playReadSlot.load());
  long frames = device.avail();
  if (frames < 0) {
    logError("prepare to output audio interface failed %d (%d - %s)", remote.playReadSlot.load(),
             static_cast<int>(frames), pcmErrorText(static_cast<int>(frames)));
    device.prepare();
    const auto period = takePeriod(remote, remote.playReadSlot.load(), false);
    const long rc = device.writei(period);
    std::fputs("1", stderr);
    if (rc < 0) {
      std::fprintf(stderr, "Mic 1 send error %d (%s)", static_cast<int>(rc),
                   pcmErrorText(static_cast<int>(rc)));
    }
    frames = device.avail();
  }
  while (frames >= kPeriodFrames) {
    // A position left beyond the ring by a smaller chunk is taken modulo the ring.
    const int slot = std::max(remote.playReadSlot.load(), 0) % playRingPeriods(remote);
    const auto period = takePeriod(remote, slot, true);
    const long rc = device.writei(period);
    if (rc != kPeriodFrames) {
      if (rc == -EPIPE) {
        device.prepare();
        const long again = device.writei(period);
        std::fputs("3", stderr);
        if (again < 0) {
          std::fprintf(stderr, "Mic 2 send error %d (%s)", static_cast<int>(again),
                       pcmErrorText(static_cast<int>(again)));
        }
      } else {
        std::fprintf(stderr, "Mic 3 send error %d (%s)", static_cast<int>(rc),
                     pcmErrorText(static_cast<int>(rc)));
        return;
      }
    }
    advanceReadPosition(works, slot);
    frames = device.avail();
  }
}

void th_leggi(Works& works) {
  const std::string name = works.set.text.text(Slot::AudioIn);
  const int channelsWanted = std::atoi(works.set.text.text(Slot::InChannels).c_str());
  works.remote.audioChannels = channelsWanted;
  platform::quietPcmLibraryMessages(true);
  platform::runCommand("/usr/bin/myamixer");

  PcmStream stream;
  int tries = 0;
  auto opened =
      PcmStream::openDevice(name, PcmDirection::capture, {kOpenTries, kOpenPauseMs}, {}, &tries);
  if (!opened.ok()) {
    logError("cannot open capture audio device '%s' (%s) after %d/10\"", name.c_str(),
             pcmErrorText(opened.error()), tries);
    ExitAUDIOread(works, stream);
    return;
  }
  stream = std::move(opened.value());
  logInfo("capture audio interface %s opened", name.c_str());

  platform::PcmHardware wanted;
  wanted.channels = static_cast<unsigned>(std::clamp(channelsWanted, 1, 2));
  wanted.rate = static_cast<unsigned>(works.remote.audioSampleRate.load());
  const platform::PcmHardwareResult hardware = stream.setHardware(wanted);
  if (hardware.ok()) works.remote.audioSampleRate = static_cast<int>(hardware.rate);
  if (!logCaptureHardware(hardware, wanted.channels, hardware.ok() ? hardware.rate : wanted.rate)) {
    ExitAUDIOread(works, stream);
    return;
  }
  if (const int rc = stream.prepare(); rc < 0) {
    logError("cannot prepare capture audio interface for use (%s)", pcmErrorText(rc));
    ExitAUDIOread(works, stream);
    return;
  }
  logInfo("capture audio interface prepared");

  auto wakeup = platform::PcmWakeup::create();
  std::vector<uint8_t> chunk;
  std::vector<int16_t> samples;
  while (readWanted(works)) {
    const int chunkFrames = std::clamp(works.remote.captureChunkSamples.load(), 1, 4096);
    chunk.resize(static_cast<size_t>(chunkFrames) * stream.frameBytes());
    // A chunk is read once the device holds it whole, so that a device that stops
    // delivering never holds the thread past the end of remote operation. An error
    // (avail negative) is the read's to report.
    if (const long ready = stream.avail(); ready >= 0 && ready < chunkFrames) {
      if (stream.state() == platform::PcmState::prepared) stream.start();
      if (wakeup.ok()) {
        stream.waitReady(kWaitMs * 10, wakeup.value());
      } else {
        platform::sleepMs(kWaitMs);
      }
      continue;
    }
    const long got = stream.readi(chunk);
    if (got == -EPIPE && stream.recover(static_cast<int>(got)) == 0) {
      // An overrun (the thread was held up): the stream starts again; only the audio of
      // the hold-up is lost.
      logInfo("capture overrun, restarted");
      continue;
    }
    if (got < 0) {
      logError("error reading pcm handler (%s)", pcmErrorText(static_cast<int>(got)));
      ExitAUDIOread(works, stream);
      return;
    }
    sendChunk(works,
              std::span<const uint8_t>(chunk).first(static_cast<size_t>(got) * stream.frameBytes()),
              wanted.channels, samples);
  }
  if (const int rc = stream.drop(); rc < 0) {
    logError("cannot drop capture pcm handler (%s)", pcmErrorText(rc));
    ExitAUDIOread(works, stream);
    return;
  }
  if (const int rc = stream.drain(); rc < 0 && rc != -EBADFD) {
    logError("cannot drain capture pcm handler (%s)", pcmErrorText(rc));
    ExitAUDIOread(works, stream);
    return;
  }
  logInfo("capture audio interface closed");
  stream.close();
  works.set.text.setFlag(Slot::EnableRead, '0');
  std::fputs("th_leggi END\n", stderr);
}

// ---- playback ----

namespace {

void ExitAUDIOwrite(Works& works, PcmStream& stream) {
  logError("th_scrivi ERR");
  std::fputs("th_scrivi ERR\n", stderr);
  AddErrore(works, Err::AudioWrite);
  if (stream.isOpen()) stream.close();
  works.core.remoteRestartRequest = 1;
  works.remote.playbackReady = 0;
  works.set.text.setFlag(Slot::EnableWrite, '0');
}

bool logPlaybackHardware(const platform::PcmHardwareResult& result, unsigned rate,
                         unsigned long bufferFrames, unsigned long periodFrames) {
  struct Line {
    PcmStep step;
    const char* done;
    const char* failed;
  };
  static constexpr std::array<Line, 10> kLines = {{
      {PcmStep::allocate, "th_scrivi playback hw_params allocated",
       "cannot allocate playback hardware parameter structure (%s)"},
      {PcmStep::initialize, "th_scrivi playback hw_params initialized",
       "cannot initialize playback hardware parameter structure (%s)"},
      {PcmStep::resample, nullptr, "th_scrivi cannot set playback resample to yes (%s)"},
      {PcmStep::access, "th_scrivi playback hw_params access SND_PCM_ACCESS_RW_INTERLEAVED set",
       "th_scrivi cannot set playback access type (%s)"},
      {PcmStep::format, "th_scrivi playback hw_params SND_PCM_FORMAT_S16_LE format set ",
       "th_scrivi cannot set playback sample format (%s)"},
      {PcmStep::rate, nullptr, "th_scrivi cannot set playback sample rate (%s)"},
      {PcmStep::channels, "th_scrivi playback hw_params number of channels set to 2",
       "Cannot set playback channel count (%s)"},
      {PcmStep::bufferSize, nullptr, nullptr},
      {PcmStep::periodSize, nullptr, nullptr},
      {PcmStep::apply, "th_scrivi playback hw_params set", nullptr},
  }};
  for (const Line& line : kLines) {
    if (!result.ok() && result.failedStep == line.step) {
      const char* text = pcmErrorText(result.error);
      if (line.step == PcmStep::bufferSize) {
        logError("th_scrivi Cannot set buffersize %d (%s)", static_cast<int>(bufferFrames), text);
      } else if (line.step == PcmStep::periodSize || line.step == PcmStep::apply) {
        logError("th_scrivi Cannot set periodsize %d (%s)", static_cast<int>(periodFrames), text);
      } else {
        logError(line.failed, text);
      }
      return false;
    }
    if (line.step == PcmStep::rate) {
      logInfo("th_scrivi playback hw_params rate set to %d", static_cast<int>(rate));
    } else if (line.done != nullptr) {
      logInfo("%s", line.done);
    }
  }
  if (!result.ok()) {
    logError("th_scrivi Cannot set periodsize %d (%s)", static_cast<int>(periodFrames),
             pcmErrorText(result.error));
    return false;
  }
  logInfo("th_scrivi playback hw_params freed");
  return true;
}

bool setPlaybackSoftware(PcmStream& stream, unsigned long units) {
  logInfo("th_scrivi playback sw_params allocated");
  platform::PcmSoftware software;
  software.startThreshold = (units > 1 ? units - 1 : 1) * kPlaybackUnitFrames;
  software.availMin = kPlaybackUnitFrames;
  const platform::PcmStatus status = stream.setSoftware(software);
  const auto failed = [&](PcmStep step) { return !status.ok() && status.failedStep == step; };
  if (failed(PcmStep::allocate)) {
    logError("th_scrivi cannot allocate playback software parameter structure (%s)",
             pcmErrorText(status.error));
    return false;
  }
  if (failed(PcmStep::softwareCurrent)) {
    logError("th_scrivi cannot set playback parameters (%s)", pcmErrorText(status.error));
    return false;
  }
  logInfo("th_scrivi playback sw_params current");
  if (failed(PcmStep::startThreshold)) {
    logError("th_scrivi start threshold not successful");
    return false;
  }
  logInfo("th_scrivi start threshold set");
  if (failed(PcmStep::availMin)) {
    logError("th_scrivi avail min not successful");
    return false;
  }
  logInfo("th_scrivi avail min set");
  if (!status.ok()) {
    logError("th_scrivi cannot set playback parameters (%s)", pcmErrorText(status.error));
    return false;
  }
  logInfo("th_scrivi playback sw_params set");
  logInfo("th_scrivi playback sw_params freed");
  return true;
}

enum class Pass { again, end };

// One client's playback: from the open device to its close. end: the thread ends (an
// error exit was taken).
Pass playForOneClient(Works& works) {
  RemoteState& remote = works.remote;
  const std::string name = works.set.text.text(Slot::AudioOut);
  auto opened = PcmStream::openDevice(name, PcmDirection::playback, {kOpenTries, kOpenPauseMs});
  if (!opened.ok()) {
    logError("th_scrivi cannot open output audio device %s (%s)", name.c_str(),
             pcmErrorText(opened.error()));
    std::fprintf(stderr, "cannot open output audio device %s (%s)\n", name.c_str(),
                 pcmErrorText(opened.error()));
    return Pass::again;
  }
  PcmStream stream = std::move(opened.value());
  logInfo("output audio interface %s opened", name.c_str());

  const auto units = static_cast<unsigned long>(std::max(1, works.set.AudioBuffers.load()));
  platform::PcmHardware wanted;
  wanted.channels = 2;
  wanted.rate = static_cast<unsigned>(remote.audioSampleRate.load());
  wanted.allowResample = true;
  wanted.bufferFrames = units * kPlaybackUnitFrames;
  wanted.periodFrames = kPlaybackUnitFrames;
  const platform::PcmHardwareResult hardware = stream.setHardware(wanted);
  if (!logPlaybackHardware(hardware, hardware.ok() ? hardware.rate : wanted.rate,
                           wanted.bufferFrames, wanted.periodFrames)) {
    ExitAUDIOwrite(works, stream);
    return Pass::end;
  }
  if (!setPlaybackSoftware(stream, units)) {
    ExitAUDIOwrite(works, stream);
    return Pass::end;
  }
  remote.playWriteSlot = 0;
  remote.playReadSlot = 0;

  platform::sleepMs(2);
  remote.playbackReady = 1;
  while (!clientReady(works) && writeWanted(works)) platform::sleepMs(kWaitMs);
  for (int rc = stream.prepare(); rc < 0 && writeWanted(works); rc = stream.prepare()) {
    logError("th_scrivi cannot prepare output audio interface for use (%s)", pcmErrorText(rc));
    sleepWhile(1000, [&] { return writeWanted(works); });
  }
  logInfo("th_scrivi output audio interface prepared");

  // The pre-buffer: the server sets playStart once bufferChunks chunks are in. A client
  // that leaves first, or the end of remote operation, ends the wait.
  while (remote.playStart.load() == 0 && clientReady(works) && writeWanted(works)) {
    platform::sleepMs(1);
  }
  bool played = false;
  if (remote.playStart.load() != 0 && clientReady(works) && writeWanted(works)) {
    // The device buffer up to one period short of its start threshold, less the four
    // periods from the ring, is filled with silence (reaching the threshold would start
    // the device before its start). Filled from the ring, it would take the pre-buffer
    // with it at the start (the reader ran the buffer's length ahead at once), leaving
    // the writer too few chunks ahead to ride out a late packet until the first wrap's
    // fill check put it back, with a dropout.
    const unsigned long silent =
        units > 2 ? (units - 2) * kPlaybackUnitFrames - static_cast<unsigned long>(kPeriodFrames)
                  : 0;
    const std::vector<uint8_t> silence(static_cast<size_t>(silent) * 4, 0);
    if (!silence.empty()) stream.writei(silence);
    std::array<uint8_t, 4 * kPeriodBytes> first{};
    {
      std::scoped_lock lock(remote.playRingMutex);
      std::copy_n(remote.playRing->begin(), first.size(), first.begin());
    }
    stream.writei(first);
    auto wakeup = platform::PcmWakeup::create();
    if (!wakeup.ok() || !stream.pollDescriptors().ok()) {
      logError("th_scrivi add handler not successful");
      ExitAUDIOwrite(works, stream);
      return Pass::end;
    }
    logInfo("th_scrivi pcm callback set");
    if (stream.start() < 0) {
      logError("th_scrivi start handler not successful");
      ExitAUDIOwrite(works, stream);
      return Pass::end;
    }
    logInfo("th_scrivi pcm callback started");
    played = true;
    StreamDevice device(stream);
    stream.runWhenReady(wakeup.value(), kWaitMs, [&](platform::PcmWait event) {
      if (!clientReady(works) || !writeWanted(works)) return false;
      if (event != platform::PcmWait::timeout) MyRecCallback(works, device);
      return true;
    });
  }
  logInfo("th_scrivi output audio interface to be stopped");
  // A stream in an xrun has nothing left to play: it is dropped, not drained.
  const platform::PcmState state = stream.state();
  const bool idle =
      !played || state == platform::PcmState::xrun || state == platform::PcmState::prepared;
  if (const int rc = idle ? stream.drop() : stream.drain(); rc < 0) {
    logError("th_scrivi cannot drain playback pcm handler (%s)", pcmErrorText(rc));
    ExitAUDIOwrite(works, stream);
    return Pass::end;
  }
  remote.playbackReady = 0;
  stream.close();
  logInfo("th_scrivi output audio interface closed");
  return Pass::again;
}

}  // namespace

void th_scrivi(Works& works) {
  works.remote.playbackReady = 0;
  sleepWhile(3000, [&] { return writeWanted(works); });
  // Remote operation switched off ends the thread, and only the thread: the controller
  // goes on in local operation.
  while (writeWanted(works)) {
    if (playForOneClient(works) == Pass::end) return;
  }
}

}  // namespace corvid
