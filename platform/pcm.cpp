#include "platform/pcm.h"

#include <alsa/asoundlib.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/root.h"

namespace corvid::platform {

namespace {

constexpr size_t kSampleBytes = 2;  // S16_LE

void quietHandler(const char*, int, const char*, int, const char*, ...) {}

struct ConfigDeleter {
  void operator()(snd_config_t* config) const { snd_config_delete(config); }
};
using ConfigPtr = std::unique_ptr<snd_config_t, ConfigDeleter>;

// A configuration tree read from text; nullptr and the code on a syntax error.
ConfigPtr loadConfiguration(std::string_view text, int* error) {
  snd_config_t* top = nullptr;
  *error = snd_config_top(&top);
  if (*error < 0) return nullptr;
  ConfigPtr config(top);
  snd_input_t* input = nullptr;
  *error = snd_input_buffer_open(&input, text.data(), static_cast<ssize_t>(text.size()));
  if (*error < 0) return nullptr;
  *error = snd_config_load(config.get(), input);
  snd_input_close(input);
  if (*error < 0) return nullptr;
  return config;
}

// Under a root the unit's own /etc/asound.conf lies in the root: the system's global
// configuration with that file read on top, so its names join the system's. nullptr
// (and 0) without a root or without the file; nullptr and the code when it cannot be read.
ConfigPtr rootConfiguration(int* error) {
  *error = 0;
  if (!hasRoot()) return nullptr;
  const std::string path = hostPath("/etc/asound.conf");
  if (::access(path.c_str(), F_OK) != 0) return nullptr;
  snd_config_t* global = nullptr;
  snd_config_t* copy = nullptr;
  // Without a readable system configuration the root's file alone defines the names.
  if (snd_config_update_ref(&global) >= 0 && global != nullptr) {
    *error = snd_config_copy(&copy, global);
    snd_config_unref(global);
    if (*error < 0) return nullptr;
  } else if ((*error = snd_config_top(&copy)) < 0) {
    return nullptr;
  }
  ConfigPtr config(copy);
  snd_input_t* input = nullptr;
  *error = snd_input_stdio_open(&input, path.c_str(), "r");
  if (*error < 0) return nullptr;
  *error = snd_config_load(config.get(), input);
  snd_input_close(input);
  if (*error < 0) return nullptr;
  return config;
}

struct HwParamsDeleter {
  void operator()(snd_pcm_hw_params_t* p) const { snd_pcm_hw_params_free(p); }
};
struct SwParamsDeleter {
  void operator()(snd_pcm_sw_params_t* p) const { snd_pcm_sw_params_free(p); }
};

}  // namespace

const char* pcmErrorText(int error) {
  return snd_strerror(error);
}

void quietPcmLibraryMessages(bool quiet) {
  snd_lib_error_set_handler(quiet ? quietHandler : nullptr);
}

PcmState pcmStateFromLibrary(int state) {
  struct Row {
    snd_pcm_state_t library;
    PcmState ours;
  };
  static constexpr Row kStates[] = {
      {SND_PCM_STATE_OPEN, PcmState::open},
      {SND_PCM_STATE_SETUP, PcmState::setup},
      {SND_PCM_STATE_PREPARED, PcmState::prepared},
      {SND_PCM_STATE_RUNNING, PcmState::running},
      {SND_PCM_STATE_XRUN, PcmState::xrun},
      {SND_PCM_STATE_DRAINING, PcmState::draining},
      {SND_PCM_STATE_PAUSED, PcmState::paused},
      {SND_PCM_STATE_SUSPENDED, PcmState::suspended},
      {SND_PCM_STATE_DISCONNECTED, PcmState::disconnected},
  };
  for (const Row& row : kStates) {
    if (static_cast<int>(row.library) == state) return row.ours;
  }
  return PcmState::unknown;
}

Result<PcmWakeup> PcmWakeup::create() {
  Fd fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!fd.valid()) return Result<PcmWakeup>::failure(errno);
  return PcmWakeup(std::move(fd));
}

int PcmWakeup::raise() const {
  const uint64_t one = 1;
  for (;;) {
    if (::write(fd_.get(), &one, sizeof one) == static_cast<ssize_t>(sizeof one)) return 0;
    if (errno == EINTR) continue;
    // EAGAIN: the counter is at its limit, so it is raised already.
    return errno == EAGAIN ? 0 : errno;
  }
}

int PcmWakeup::clear() const {
  uint64_t count = 0;
  for (;;) {
    if (::read(fd_.get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count)) return 0;
    if (errno == EINTR) continue;
    return errno == EAGAIN ? 0 : errno;  // EAGAIN: it was not raised
  }
}

Result<PcmStream> PcmStream::openDevice(std::string_view device, PcmDirection direction,
                                  PcmOpenRetry retry, std::string_view configuration, int* tries) {
  if (tries != nullptr) *tries = 0;
  ConfigPtr config;
  if (!configuration.empty()) {
    int error = 0;
    config = loadConfiguration(configuration, &error);
    if (config == nullptr) return Result<PcmStream>::failure(error);
  } else {
    int error = 0;
    config = rootConfiguration(&error);
    if (error < 0) return Result<PcmStream>::failure(error);
  }
  const std::string name(device);
  const snd_pcm_stream_t stream =
      direction == PcmDirection::capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
  const int total = retry.tries > 0 ? retry.tries : 1;
  int error = 0;
  for (int attempt = 1; attempt <= total; ++attempt) {
    if (attempt > 1) sleepMs(retry.pauseMs);
    if (tries != nullptr) *tries = attempt;
    snd_pcm_t* pcm = nullptr;
    error = config != nullptr ? snd_pcm_open_lconf(&pcm, name.c_str(), stream, 0, config.get())
                              : snd_pcm_open(&pcm, name.c_str(), stream, 0);
    if (error == 0) return PcmStream(pcm);
  }
  return Result<PcmStream>::failure(error);
}

PcmStream::PcmStream(PcmStream&& other) noexcept
    : pcm_(std::exchange(other.pcm_, nullptr)), frameBytes_(std::exchange(other.frameBytes_, 0)) {}

PcmStream& PcmStream::operator=(PcmStream&& other) noexcept {
  if (this != &other) {
    close();
    pcm_ = std::exchange(other.pcm_, nullptr);
    frameBytes_ = std::exchange(other.frameBytes_, 0);
  }
  return *this;
}

PcmStream::~PcmStream() {
  close();
}

int PcmStream::close() {
  if (pcm_ == nullptr) return 0;
  const int error = snd_pcm_close(std::exchange(pcm_, nullptr));
  frameBytes_ = 0;
  return error;
}

PcmHardwareResult PcmStream::setHardware(const PcmHardware& wanted) {
  PcmHardwareResult result;
  const auto failed = [&result](PcmStep step, int error) {
    result.failedStep = step;
    result.error = error;
    return result;
  };
  if (pcm_ == nullptr) return failed(PcmStep::initialize, -EBADFD);
  snd_pcm_hw_params_t* raw = nullptr;
  if (const int e = snd_pcm_hw_params_malloc(&raw); e < 0) return failed(PcmStep::allocate, e);
  const std::unique_ptr<snd_pcm_hw_params_t, HwParamsDeleter> params(raw);
  snd_pcm_hw_params_t* hw = params.get();

  if (const int e = snd_pcm_hw_params_any(pcm_, hw); e < 0) return failed(PcmStep::initialize, e);
  if (wanted.allowResample) {
    if (const int e = snd_pcm_hw_params_set_rate_resample(pcm_, hw, 1); e < 0) {
      return failed(PcmStep::resample, e);
    }
  }
  if (const int e = snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED); e < 0) {
    return failed(PcmStep::access, e);
  }
  if (const int e = snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE); e < 0) {
    return failed(PcmStep::format, e);
  }
  unsigned rate = wanted.rate;
  if (const int e = snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, nullptr); e < 0) {
    return failed(PcmStep::rate, e);
  }
  if (const int e = snd_pcm_hw_params_set_channels(pcm_, hw, wanted.channels); e < 0) {
    return failed(PcmStep::channels, e);
  }
  snd_pcm_uframes_t buffer = wanted.bufferFrames;
  if (buffer != 0) {
    if (const int e = snd_pcm_hw_params_set_buffer_size_near(pcm_, hw, &buffer); e < 0) {
      return failed(PcmStep::bufferSize, e);
    }
  }
  snd_pcm_uframes_t period = wanted.periodFrames;
  if (period != 0) {
    if (const int e = snd_pcm_hw_params_set_period_size_near(pcm_, hw, &period, nullptr); e < 0) {
      return failed(PcmStep::periodSize, e);
    }
  }
  if (const int e = snd_pcm_hw_params(pcm_, hw); e < 0) return failed(PcmStep::apply, e);

  // What was installed, read back from the stream's own parameters.
  snd_pcm_hw_params_current(pcm_, hw);
  snd_pcm_hw_params_get_rate(hw, &rate, nullptr);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  result.rate = rate;
  result.bufferFrames = buffer;
  result.periodFrames = period;
  frameBytes_ = wanted.channels * kSampleBytes;
  return result;
}

PcmStatus PcmStream::setSoftware(const PcmSoftware& wanted) {
  PcmStatus status;
  const auto failed = [&status](PcmStep step, int error) {
    status.failedStep = step;
    status.error = error;
    return status;
  };
  if (pcm_ == nullptr) return failed(PcmStep::softwareCurrent, -EBADFD);
  snd_pcm_sw_params_t* raw = nullptr;
  if (const int e = snd_pcm_sw_params_malloc(&raw); e < 0) return failed(PcmStep::allocate, e);
  const std::unique_ptr<snd_pcm_sw_params_t, SwParamsDeleter> params(raw);
  snd_pcm_sw_params_t* sw = params.get();

  if (const int e = snd_pcm_sw_params_current(pcm_, sw); e < 0) {
    return failed(PcmStep::softwareCurrent, e);
  }
  if (wanted.startThreshold != 0) {
    if (const int e = snd_pcm_sw_params_set_start_threshold(pcm_, sw, wanted.startThreshold);
        e < 0) {
      return failed(PcmStep::startThreshold, e);
    }
  }
  if (wanted.availMin != 0) {
    if (const int e = snd_pcm_sw_params_set_avail_min(pcm_, sw, wanted.availMin); e < 0) {
      return failed(PcmStep::availMin, e);
    }
  }
  if (const int e = snd_pcm_sw_params(pcm_, sw); e < 0) return failed(PcmStep::softwareApply, e);
  return status;
}

long PcmStream::readi(std::span<uint8_t> buffer) {
  if (pcm_ == nullptr || frameBytes_ == 0) return -EBADFD;
  const snd_pcm_uframes_t frames = buffer.size() / frameBytes_;
  return snd_pcm_readi(pcm_, buffer.data(), frames);
}

long PcmStream::writei(std::span<const uint8_t> buffer) {
  if (pcm_ == nullptr || frameBytes_ == 0) return -EBADFD;
  const snd_pcm_uframes_t frames = buffer.size() / frameBytes_;
  return snd_pcm_writei(pcm_, buffer.data(), frames);
}

long PcmStream::avail() {
  if (pcm_ == nullptr) return -EBADFD;
  return snd_pcm_avail(pcm_);
}

int PcmStream::prepare() {
  return pcm_ == nullptr ? -EBADFD : snd_pcm_prepare(pcm_);
}
int PcmStream::start() {
  return pcm_ == nullptr ? -EBADFD : snd_pcm_start(pcm_);
}
int PcmStream::drain() {
  return pcm_ == nullptr ? -EBADFD : snd_pcm_drain(pcm_);
}
int PcmStream::drop() {
  return pcm_ == nullptr ? -EBADFD : snd_pcm_drop(pcm_);
}

int PcmStream::recover(int error) {
  return pcm_ == nullptr ? -EBADFD : snd_pcm_recover(pcm_, error, 1);
}

PcmState PcmStream::state() const {
  if (pcm_ == nullptr) return PcmState::unknown;
  return pcmStateFromLibrary(static_cast<int>(snd_pcm_state(pcm_)));
}

Result<std::vector<pollfd>> PcmStream::pollDescriptors() const {
  if (pcm_ == nullptr) return Result<std::vector<pollfd>>::failure(-EBADFD);
  const int count = snd_pcm_poll_descriptors_count(pcm_);
  if (count < 0) return Result<std::vector<pollfd>>::failure(count);
  std::vector<pollfd> descriptors(static_cast<size_t>(count));
  const int filled =
      snd_pcm_poll_descriptors(pcm_, descriptors.data(), static_cast<unsigned>(count));
  if (filled < 0) return Result<std::vector<pollfd>>::failure(filled);
  descriptors.resize(static_cast<size_t>(filled));
  return descriptors;
}

Result<unsigned short> PcmStream::revents(std::span<pollfd> descriptors) const {
  if (pcm_ == nullptr) return Result<unsigned short>::failure(-EBADFD);
  unsigned short events = 0;
  const int e = snd_pcm_poll_descriptors_revents(
      pcm_, descriptors.data(), static_cast<unsigned>(descriptors.size()), &events);
  if (e < 0) return Result<unsigned short>::failure(e);
  return events;
}

PcmWait PcmStream::waitReady(int timeoutMs, const PcmWakeup& wakeup, int* errorCode) const {
  const auto failed = [errorCode](int error) {
    if (errorCode != nullptr) *errorCode = error;
    return PcmWait::failed;
  };
  if (errorCode != nullptr) *errorCode = 0;
  auto descriptors = pollDescriptors();
  if (!descriptors.ok()) return failed(descriptors.error());
  std::vector<pollfd>& fds = descriptors.value();
  const size_t streamCount = fds.size();
  fds.push_back(pollfd{wakeup.fd(), POLLIN, 0});
  const short ready = snd_pcm_stream(pcm_) == SND_PCM_STREAM_PLAYBACK ? POLLOUT : POLLIN;
  int r;
  do {
    // A signal only repeats the wait: the timeout is a period, not a deadline.
    r = ::poll(fds.data(), fds.size(), timeoutMs);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return failed(-errno);
  if ((fds.back().revents & POLLIN) != 0) return PcmWait::woken;
  if (r == 0) return PcmWait::timeout;
  auto events = revents(std::span<pollfd>(fds.data(), streamCount));
  if (!events.ok()) return failed(events.error());
  if ((events.value() & (POLLERR | POLLNVAL)) != 0) return PcmWait::streamError;
  if ((events.value() & ready) != 0) return PcmWait::ready;
  // Woken inside the library's descriptors without the stream being ready (a plugin's own
  // timer, for example): as seen from here, nothing happened yet.
  return PcmWait::timeout;
}

int PcmStream::runWhenReady(const PcmWakeup& wakeup, int timeoutMs,
                            const std::function<bool(PcmWait event)>& onEvent) const {
  for (;;) {
    int error = 0;
    const PcmWait event = waitReady(timeoutMs, wakeup, &error);
    if (event == PcmWait::woken) return 0;
    if (event == PcmWait::failed) return error;
    if (!onEvent(event)) return 0;
  }
}

}  // namespace corvid::platform
