// A PCM stream of the sound library: the remote audio's capture of the transceiver's
// receive audio and its playback of the client's microphone. Samples are always 16-bit
// signed little-endian, interleaved. Every failure is the library's own code: a negative
// errno as the library gives it (-ENOENT for an unknown device name, -EPIPE for an xrun),
// which pcmErrorText turns into the text of the caller's log line.
//
// The playback is driven from a thread that waits on the stream's poll descriptors
// (waitReady / runWhenReady), never from the library's signal-driven notification, whose
// callback would run inside a signal handler.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/fd.h"

struct _snd_pcm;  // the library's handle; only pcm.cpp sees inside

namespace corvid::platform {

enum class PcmDirection { capture, playback };

// Which step of a multi-step call failed, so the caller can log the step's own line.
enum class PcmStep {
  none,
  allocate,         // parameter structure
  initialize,       // hardware: the full range (snd_pcm_hw_params_any)
  resample,         // hardware: software resampling allowed
  access,           // hardware: interleaved read/write
  format,           // hardware: S16_LE
  rate,             // hardware: nearest rate
  channels,         // hardware: channel count
  bufferSize,       // hardware: nearest buffer size
  periodSize,       // hardware: nearest period size
  apply,            // hardware: the parameters installed
  softwareCurrent,  // software: the present values (-EIO before the hardware is set)
  startThreshold,   // software
  availMin,         // software
  softwareApply,    // software: the parameters installed
};

// The library's text for a code of this file ("No such file or directory").
const char* pcmErrorText(int error);
// Library diagnostics on standard error ("ALSA lib pcm.c: Unknown PCM ..."): shown by
// default; the capture thread quiets them. Set before any stream is opened.
void quietPcmLibraryMessages(bool quiet);

// How often an open is tried, and the pause between two tries (platform sleep).
struct PcmOpenRetry {
  int tries = 1;
  int pauseMs = 0;
};

struct PcmHardware {
  unsigned channels = 2;
  unsigned rate = 48000;           // the nearest rate the device takes is set
  bool allowResample = false;      // playback: let the library resample to the device
  unsigned long bufferFrames = 0;  // 0: the device's choice; else the nearest it takes
  unsigned long periodFrames = 0;  // 0: the device's choice; else the nearest it takes
};

// What setHardware did: on failure the step and the code; on success the values set.
struct PcmHardwareResult {
  int error = 0;
  PcmStep failedStep = PcmStep::none;
  unsigned rate = 0;
  unsigned long bufferFrames = 0;
  unsigned long periodFrames = 0;
  bool ok() const { return error == 0; }
};

struct PcmSoftware {
  unsigned long startThreshold = 0;  // frames buffered before playback starts; 0: leave
  unsigned long availMin = 0;        // frames free before the device is "ready"; 0: leave
};

struct PcmStatus {
  int error = 0;
  PcmStep failedStep = PcmStep::none;
  bool ok() const { return error == 0; }
};

enum class PcmState {
  open,
  setup,
  prepared,
  running,
  xrun,
  draining,
  paused,
  suspended,
  disconnected,
  unknown
};
// The library's state number (snd_pcm_state_t) as ours; unknown for any other.
PcmState pcmStateFromLibrary(int state);

// What a wait on a stream saw. streamError: the stream reports an xrun, a suspend or a
// disconnection (avail() gives the code; recover, or close). failed: the wait itself failed.
enum class PcmWait { ready, timeout, woken, streamError, failed };

// A wake-up another thread raises to end a wait on a stream at once (an eventfd). It
// stays raised until cleared, so a raise that comes before the wait is not lost.
class PcmWakeup {
 public:
  static Result<PcmWakeup> create();
  PcmWakeup() = default;
  int raise() const;  // any thread; 0 or errno
  int clear() const;  // 0 or errno
  int fd() const { return fd_.get(); }

 private:
  explicit PcmWakeup(Fd fd) : fd_(std::move(fd)) {}
  Fd fd_;
};

class PcmStream {
 public:
  // Opens the named device ("hw:1", "default", "null", ...) in blocking mode, trying
  // retry.tries times. configuration, when given, is a configuration text of the library
  // that alone defines the names (the system's configuration files are then not read):
  // the tests describe their stand-in devices so. Without one, under a root (the bench)
  // the root's /etc/asound.conf, when there is one, is read on top of the system's
  // configuration, as the unit reads its own /etc/asound.conf. *tries (when given) gets
  // the number of tries made. Failure: the last try's code.
  static Result<PcmStream> openDevice(std::string_view device, PcmDirection direction,
                                PcmOpenRetry retry = {}, std::string_view configuration = {},
                                int* tries = nullptr);

  PcmStream() = default;
  PcmStream(PcmStream&& other) noexcept;
  PcmStream& operator=(PcmStream&& other) noexcept;
  PcmStream(const PcmStream&) = delete;
  PcmStream& operator=(const PcmStream&) = delete;
  ~PcmStream();
  bool isOpen() const { return pcm_ != nullptr; }
  // 0 or the code; the stream is closed either way.
  int close();

  // Interleaved access, S16_LE, then channels, rate, buffer and period as asked, in the
  // order the steps are listed in PcmStep, and installs them (the stream is then prepared).
  PcmHardwareResult setHardware(const PcmHardware& wanted);
  PcmStatus setSoftware(const PcmSoftware& wanted);
  // Bytes of one frame once the hardware is set (channels x 2), else 0.
  size_t frameBytes() const { return frameBytes_; }

  // Whole frames of the buffer (its size / frameBytes()); the frames moved or a negative
  // code (-EPIPE: xrun, -ESTRPIPE: suspended, -EBADFD: hardware not set).
  long readi(std::span<uint8_t> buffer);
  long writei(std::span<const uint8_t> buffer);
  // Frames the device can take (playback) or give (capture) now, or a negative code.
  long avail();

  int prepare();
  int start();
  int drain();  // plays what is buffered, then stops
  int drop();   // stops at once, dropping what is buffered
  // After readi/writei/avail gave error: prepares again after an xrun, resumes after a
  // suspend (snd_pcm_recover, quietly). 0 or the code, which is error itself when the
  // library cannot recover from it.
  int recover(int error);
  PcmState state() const;

  // The stream's poll descriptors, to be waited on with others; revents turns what poll
  // returned for them into the stream's own events (POLLIN, POLLOUT, POLLERR).
  Result<std::vector<pollfd>> pollDescriptors() const;
  Result<unsigned short> revents(std::span<pollfd> descriptors) const;

  // Waits up to timeoutMs (negative: no limit) until the device can take (playback) or
  // give (capture) data, or wakeup is raised; woken wins over everything else. For failed,
  // *errorCode (when given) gets the negative code.
  PcmWait waitReady(int timeoutMs, const PcmWakeup& wakeup, int* errorCode = nullptr) const;
  // The playback thread's loop: waits again and again (each wait at most timeoutMs) and
  // calls onEvent in the calling thread with ready, streamError or timeout, until wakeup
  // is raised or onEvent returns false (then 0), or a wait fails (then its code).
  int runWhenReady(const PcmWakeup& wakeup, int timeoutMs,
                   const std::function<bool(PcmWait event)>& onEvent) const;

 private:
  explicit PcmStream(_snd_pcm* pcm) : pcm_(pcm) {}
  _snd_pcm* pcm_ = nullptr;
  size_t frameBytes_ = 0;
};

}  // namespace corvid::platform
