// The bench's sound devices: an external I/O plugin of the ALSA library (type
// "corvid_bench", libasound_module_pcm_corvid_bench.so) that stands in for the USB sound
// card beside the transceiver. The controller opens it by name through the library like
// the real card, so its whole audio path, the library included, runs unchanged.
//
//   pcm.bench_rx_audio { type corvid_bench dir "/abs/folder" }
//
// S16_LE, interleaved read/write, 1 or 2 channels, 48000 Hz. The device is paced in real
// time without a thread of its own (it runs inside the controller, which is tested under
// ThreadSanitizer): the hardware position is the CLOCK_MONOTONIC time since the start,
// and the poll descriptor is a timerfd armed for the moment the stream becomes ready.
//
// Files in the folder:
//   playback.wav, capture.wav  every frame played or captured, 48 kHz S16_LE with the
//       stream's channel count, each at the file position of the moment it was played or
//       captured: sample n lies at t0 + n / 48000 s, so gaps (a stopped device, an xrun)
//       are silence and the file's time axis is real time.
//   playback.wav.t0, capture.wav.t0  t0: CLOCK_MONOTONIC in nanoseconds, as text; written
//       when the wav is made anew (at an open that finds no wav or no t0).
//   capture-signal  what capture plays, a function of the time since capture.wav's t0:
//       "silence", "tone HZ DBFS", "chirp HZ1 HZ2 SECONDS [DBFS]" (a repeating linear
//       sweep, -12 dBFS by default), "clicks PERIOD_MS DBFS" (a 1 ms burst starting at
//       every multiple of PERIOD_MS from t0, for latency figures), "wav FILE" (a 48 kHz
//       S16 WAV, mono or stereo, looped; a relative FILE is taken in the folder). Read
//       again whenever the file changes; a missing or unreadable one is silence.
//   fault  "gone" (the device has disappeared: every call fails with -ENODEV, the open
//       too), "stall" (the position stops, poll is never ready), "refuse-open" (the open
//       fails with -EBUSY); empty or missing: none. Looked at on every call.
//
// Nothing is ever printed about the files: the library runs inside the controller, whose
// log lines are part of its behaviour.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr unsigned kRate = 48000;
constexpr int64_t kNsPerSecond = 1'000'000'000;
constexpr size_t kSampleBytes = 2;
constexpr size_t kWavHeaderBytes = 44;
// The 32-bit sizes of a WAV header: frames past this are not recorded.
constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - kWavHeaderBytes;
// A wait that is not ready yet still looks at the fault file this often, so that a fault
// written during a long wait is seen.
constexpr int64_t kFaultCheckNs = 100'000'000;
// Text files (signal, fault, t0) are short; anything longer is not ours.
constexpr size_t kMaxTextBytes = 4096;
// A "wav" signal is read whole: 64 MiB is about 5.8 minutes of stereo.
constexpr uintmax_t kMaxSignalWavBytes = 64u << 20;
constexpr unsigned kClickBurstFrames = kRate / 1000;  // 1 ms
constexpr double kClickHz = 6000;  // starts at its crest: the onset is the first sample
constexpr double kDefaultChirpDbfs = -12;

int64_t nowNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

// Frames of the 48 kHz grid from t0 to t (floor); negative before t0. Split in seconds
// and the rest so that a t0 of long ago cannot overflow.
int64_t framesSince(int64_t t0, int64_t t) {
  const int64_t d = t - t0;
  const int64_t seconds = d / kNsPerSecond;
  int64_t rest = d % kNsPerSecond;
  int64_t frames = seconds * kRate;
  if (rest < 0) {
    rest += kNsPerSecond;
    frames -= kRate;
  }
  return frames + rest * kRate / kNsPerSecond;
}

// The moment frame n of the grid begins (rounded up, so that at that moment at least n
// frames have passed).
int64_t timeOfFrame(int64_t t0, int64_t n) {
  const int64_t seconds = n / kRate;
  const int64_t rest = n % kRate;
  return t0 + seconds * kNsPerSecond + (rest * kNsPerSecond + kRate - 1) / kRate;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const size_t start = i;
    while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i > start) out.push_back(text.substr(start, i - start));
  }
  return out;
}

std::optional<double> number(std::string_view word) {
  double value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (ec != std::errc{} || end != word.data() + word.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
}
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

// --- small file helpers ---------------------------------------------------------------

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

bool writeAll(int fd, const void* data, size_t size, off_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// At most limit bytes of a file; empty when it cannot be read.
std::optional<std::string> readText(const std::string& path, size_t limit) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  std::string text;
  std::array<char, 1024> chunk{};
  while (text.size() < limit) {
    const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    text.append(chunk.data(), std::min(static_cast<size_t>(n), limit - text.size()));
  }
  return text;
}

// Through a temporary file and a rename: a reader never sees half of it. 0 or -errno.
int replaceFile(const std::string& path, const void* data, size_t size) {
  const std::string temp = path + ".new";
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid()) return -errno;
  if (!writeAll(fd.get(), data, size, 0)) {
    const int error = errno != 0 ? errno : EIO;
    ::unlink(temp.c_str());
    return -error;
  }
  fd.reset();
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp.c_str());
    return -error;
  }
  return 0;
}

// A text file looked at with stat on every call and read again only when it changed
// (another inode after a replace, another size or modification time).
class WatchedFile {
 public:
  explicit WatchedFile(std::string path) : path_(std::move(path)) {}

  // True when the content may have changed since the last call (always on the first).
  bool refresh() {
    struct stat st {};
    Stamp now;
    if (::stat(path_.c_str(), &st) == 0) {
      now = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    }
    if (seen_ && now == stamp_) return false;
    seen_ = true;
    stamp_ = now;
    text_ = now.exists ? readText(path_, kMaxTextBytes).value_or("") : "";
    return true;
  }
  const std::string& text() const { return text_; }
  const std::string& path() const { return path_; }

 private:
  struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    time_t sec = 0;
    long nsec = 0;
    bool operator==(const Stamp&) const = default;
  };
  std::string path_;
  bool seen_ = false;
  Stamp stamp_;
  std::string text_;
};

// --- faults -------------------------------------------------------------------------

enum class Fault { none, gone, stall, refuseOpen };

Fault parseFault(std::string_view text) {
  const std::vector<std::string_view> w = words(text);
  if (w.empty()) return Fault::none;
  if (w[0] == "gone") return Fault::gone;
  if (w[0] == "stall") return Fault::stall;
  if (w[0] == "refuse-open") return Fault::refuseOpen;
  return Fault::none;
}

// --- the capture signal ---------------------------------------------------------------

// The samples of a 48 kHz S16 WAV, interleaved; empty when the file is not one.
struct WavSamples {
  unsigned channels = 0;
  std::vector<int16_t> samples;
};

std::optional<WavSamples> readWav(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || st.st_size < static_cast<off_t>(kWavHeaderBytes) ||
      static_cast<uintmax_t>(st.st_size) > kMaxSignalWavBytes) {
    return std::nullopt;
  }
  const std::optional<std::string> text = readText(path, static_cast<size_t>(st.st_size));
  if (!text || text->size() < 12) return std::nullopt;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text->data());
  const size_t size = text->size();
  if (std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WavSamples wav;
  bool format = false;
  size_t at = 12;
  while (at + 8 <= size) {
    const uint8_t* chunk = bytes + at;
    const size_t length = le32(chunk + 4);
    const size_t body = at + 8;
    if (length > size - body) {
      // A recording still being written may promise more than it holds: take what is there.
      if (std::memcmp(chunk, "data", 4) != 0) return std::nullopt;
    }
    const size_t available = std::min(length, size - body);
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (available < 16) return std::nullopt;
      const uint16_t tag = le16(bytes + body);
      const uint16_t channels = le16(bytes + body + 2);
      const uint32_t rate = le32(bytes + body + 4);
      const uint16_t bits = le16(bytes + body + 14);
      if ((tag != 1 && tag != 0xFFFE) || channels < 1 || channels > 2 || rate != kRate ||
          bits != 16) {
        return std::nullopt;
      }
      wav.channels = channels;
      format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!format) return std::nullopt;
      const size_t frameBytes = wav.channels * kSampleBytes;
      const size_t frames = available / frameBytes;
      wav.samples.resize(frames * wav.channels);
      for (size_t i = 0; i < wav.samples.size(); ++i) {
        wav.samples[i] = static_cast<int16_t>(le16(bytes + body + i * kSampleBytes));
      }
      if (frames == 0) return std::nullopt;
      return wav;
    }
    at = body + available + (available & 1);  // chunks are padded to an even size
  }
  return std::nullopt;
}

class Signal {
 public:
  enum class Kind { silence, tone, chirp, clicks, wav };

  // From the text of the signal file; anything not understood is silence.
  static Signal parse(std::string_view text, const std::string& dir) {
    const std::vector<std::string_view> w = words(text);
    Signal s;
    if (w.empty()) return s;
    const auto amplitudeOf = [](double dbfs) {
      return std::min(32767.0, 32767.0 * std::pow(10.0, dbfs / 20.0));
    };
    const auto audible = [](double hz) { return hz > 0 && hz < kRate / 2.0; };
    if (w[0] == "tone" && w.size() == 3) {
      const auto hz = number(w[1]);
      const auto dbfs = number(w[2]);
      if (hz && dbfs && audible(*hz)) {
        s.kind_ = Kind::tone;
        s.hz1_ = *hz;
        s.amplitude_ = amplitudeOf(*dbfs);
      }
    } else if (w[0] == "chirp" && (w.size() == 4 || w.size() == 5)) {
      const auto hz1 = number(w[1]);
      const auto hz2 = number(w[2]);
      const auto seconds = number(w[3]);
      const auto dbfs = w.size() == 5 ? number(w[4]) : std::optional<double>(kDefaultChirpDbfs);
      if (hz1 && hz2 && seconds && dbfs && audible(*hz1) && audible(*hz2) && *seconds > 0 &&
          *seconds <= 3600) {
        s.kind_ = Kind::chirp;
        s.hz1_ = *hz1;
        s.hz2_ = *hz2;
        s.sweepFrames_ =
            std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(*seconds * kRate)));
        s.amplitude_ = amplitudeOf(*dbfs);
      }
    } else if (w[0] == "clicks" && w.size() == 3) {
      const auto ms = number(w[1]);
      const auto dbfs = number(w[2]);
      if (ms && dbfs && *ms >= 2 && *ms <= 60000) {
        s.kind_ = Kind::clicks;
        s.clickFrames_ = static_cast<uint64_t>(std::llround(*ms * kRate / 1000.0));
        s.amplitude_ = amplitudeOf(*dbfs);
      }
    } else if (w[0] == "wav" && w.size() >= 2) {
      // The name is the rest of the line (it may hold blanks).
      std::string name(trim(text.substr(static_cast<size_t>(w[1].data() - text.data()))));
      if (name.front() != '/') name = dir + "/" + name;
      if (std::optional<WavSamples> wav = readWav(name)) {
        s.kind_ = Kind::wav;
        s.wav_ = std::move(*wav);
      }
    }
    return s;
  }

  Kind kind() const { return kind_; }

  // Frame n of the capture file's grid into out (channels samples).
  void frame(uint64_t n, unsigned channels, int16_t* out) const {
    if (kind_ == Kind::wav) {
      const uint64_t frames = wav_.samples.size() / wav_.channels;
      const size_t f = static_cast<size_t>(n % frames);
      const int16_t* src = &wav_.samples[f * wav_.channels];
      for (unsigned c = 0; c < channels; ++c) {
        if (wav_.channels == 1) {
          out[c] = src[0];
        } else if (channels == 1) {
          out[c] = static_cast<int16_t>((src[0] + src[1]) / 2);
        } else {
          out[c] = src[c];
        }
      }
      return;
    }
    const int16_t v = sample(n);
    for (unsigned c = 0; c < channels; ++c) out[c] = v;
  }

 private:
  int16_t sample(uint64_t n) const {
    constexpr double kTwoPi = 2 * std::numbers::pi;
    double value = 0;
    switch (kind_) {
      case Kind::silence:
      case Kind::wav:
        return 0;
      case Kind::tone:
        // The cycles since t0, reduced before the sine so that hours keep their precision.
        value = std::sin(kTwoPi * std::fmod(hz1_ * static_cast<double>(n) / kRate, 1.0));
        break;
      case Kind::chirp: {
        const double tau = static_cast<double>(n % sweepFrames_) / kRate;
        const double seconds = static_cast<double>(sweepFrames_) / kRate;
        const double cycles = hz1_ * tau + (hz2_ - hz1_) * tau * tau / (2 * seconds);
        value = std::sin(kTwoPi * std::fmod(cycles, 1.0));
        break;
      }
      case Kind::clicks: {
        const uint64_t m = n % clickFrames_;
        if (m >= kClickBurstFrames) return 0;
        value = std::cos(kTwoPi * kClickHz * static_cast<double>(m) / kRate);
        break;
      }
    }
    return static_cast<int16_t>(std::lround(std::clamp(value * amplitude_, -32768.0, 32767.0)));
  }

  Kind kind_ = Kind::silence;
  double hz1_ = 0;
  double hz2_ = 0;
  double amplitude_ = 0;
  uint64_t sweepFrames_ = 1;
  uint64_t clickFrames_ = 1;
  WavSamples wav_;
};

// --- the recording ---------------------------------------------------------------------

std::array<uint8_t, kWavHeaderBytes> wavHeader(unsigned channels, uint64_t dataBytes) {
  std::array<uint8_t, kWavHeaderBytes> h{};
  const auto data = static_cast<uint32_t>(std::min(dataBytes, kMaxWavDataBytes));
  std::memcpy(h.data(), "RIFF", 4);
  putLe32(h.data() + 4, 36 + data);
  std::memcpy(h.data() + 8, "WAVEfmt ", 8);
  putLe32(h.data() + 16, 16);
  putLe16(h.data() + 20, 1);  // PCM
  putLe16(h.data() + 22, channels);
  putLe32(h.data() + 24, kRate);
  putLe32(h.data() + 28, kRate * channels * kSampleBytes);
  putLe16(h.data() + 32, channels * kSampleBytes);
  putLe16(h.data() + 34, 16);
  std::memcpy(h.data() + 36, "data", 4);
  putLe32(h.data() + 40, data);
  return h;
}

// DIR/NAME.wav and its t0 file: frames are written at their place on the time axis.
class Recording {
 public:
  explicit Recording(std::string wavPath) : wav_(std::move(wavPath)), t0File_(wav_ + ".t0") {}

  // At the open: keeps the t0 of an existing wav, or starts a new time axis now.
  int ensureTimeAxis() {
    struct stat st {};
    if (::stat(wav_.c_str(), &st) == 0) {
      if (const std::optional<int64_t> t0 = readT0()) {
        t0_ = *t0;
        return 0;
      }
    }
    return newTimeAxis(nowNs());
  }

  // At the hardware parameters: opens the wav for channels, made anew when it is missing
  // or holds another channel count (a new time axis then, if it held frames).
  int open(unsigned channels) {
    fd_.reset();
    channels_ = channels;
    Fd fd(::open(wav_.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.valid()) {
      std::array<uint8_t, kWavHeaderBytes> h{};
      struct stat st {};
      const bool read = ::pread(fd.get(), h.data(), h.size(), 0) == static_cast<ssize_t>(h.size());
      if (read && ::fstat(fd.get(), &st) == 0 && isOurHeader(h, channels)) {
        const uint64_t frameBytes = channels * kSampleBytes;
        dataBytes_ =
            (static_cast<uint64_t>(st.st_size) - kWavHeaderBytes) / frameBytes * frameBytes;
        fd_ = std::move(fd);
        return 0;
      }
      struct stat held {};
      if (::fstat(fd.get(), &held) == 0 && held.st_size > static_cast<off_t>(kWavHeaderBytes)) {
        if (const int e = newTimeAxis(nowNs()); e < 0) return e;
      }
    }
    return create();
  }

  // A time axis that the frames from now on fit (t0 not in the future, positions within the
  // header's 32-bit sizes for another hour): else a new one, the file made anew.
  int keepInRange(int64_t now) {
    const int64_t frames = framesSince(t0_, now);
    const uint64_t hour = uint64_t{3600} * kRate * channels_ * kSampleBytes;
    if (frames >= 0 &&
        static_cast<uint64_t>(frames) * channels_ * kSampleBytes + hour <= kMaxWavDataBytes) {
      return 0;
    }
    if (const int e = newTimeAxis(now); e < 0) return e;
    return create();
  }

  int64_t t0() const { return t0_; }

  // Frames (S16_LE, interleaved) at frame position 'at' of the time axis, then the
  // header's sizes. A write that fails (a full disk) only loses the recording.
  void write(uint64_t at, const uint8_t* data, size_t frames) {
    if (!fd_.valid() || frames == 0) return;
    const size_t frameBytes = channels_ * kSampleBytes;
    const size_t bytes = frames * frameBytes;  // one transfer: within the buffer
    if (at > kMaxWavDataBytes / frameBytes) return;
    const uint64_t offset = at * frameBytes;
    if (bytes > kMaxWavDataBytes - offset) return;
    if (!writeAll(fd_.get(), data, bytes, static_cast<off_t>(kWavHeaderBytes + offset))) return;
    if (offset + bytes > dataBytes_) {
      dataBytes_ = offset + bytes;
      const std::array<uint8_t, kWavHeaderBytes> h = wavHeader(channels_, dataBytes_);
      writeAll(fd_.get(), h.data() + 4, 4, 4);
      writeAll(fd_.get(), h.data() + 40, 4, 40);
    }
  }

  void close() { fd_.reset(); }

 private:
  static bool isOurHeader(const std::array<uint8_t, kWavHeaderBytes>& h, unsigned channels) {
    const std::array<uint8_t, kWavHeaderBytes> want = wavHeader(channels, 0);
    // Everything but the two sizes.
    return std::memcmp(h.data(), want.data(), 4) == 0 &&
           std::memcmp(h.data() + 8, want.data() + 8, 32) == 0;
  }

  std::optional<int64_t> readT0() const {
    const std::optional<std::string> text = readText(t0File_, kMaxTextBytes);
    if (!text) return std::nullopt;
    const std::string_view digits = trim(*text);
    int64_t t0 = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), t0);
    if (ec != std::errc{} || end != digits.data() + digits.size() || digits.empty() || t0 < 0) {
      return std::nullopt;
    }
    return t0;
  }

  // t0 first, then the wav (made empty): a reader who finds the wav finds its t0.
  int newTimeAxis(int64_t now) {
    t0_ = now;
    const std::string text = std::to_string(now) + "\n";
    if (const int e = replaceFile(t0File_, text.data(), text.size()); e < 0) return e;
    if (::unlink(wav_.c_str()) != 0 && errno != ENOENT) return -errno;
    fd_.reset();
    return 0;
  }

  int create() {
    fd_.reset();
    const std::array<uint8_t, kWavHeaderBytes> h = wavHeader(channels_, 0);
    if (const int e = replaceFile(wav_, h.data(), h.size()); e < 0) return e;
    Fd fd(::open(wav_.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) return -errno;
    fd_ = std::move(fd);
    dataBytes_ = 0;
    return 0;
  }

  std::string wav_;
  std::string t0File_;
  Fd fd_;
  unsigned channels_ = 2;
  int64_t t0_ = 0;
  uint64_t dataBytes_ = 0;
};

// --- the device --------------------------------------------------------------------------

class BenchPcm {
 public:
  BenchPcm(std::string dir, snd_pcm_stream_t stream)
      : dir_(std::move(dir)),
        playback_(stream == SND_PCM_STREAM_PLAYBACK),
        fault_(dir_ + "/fault"),
        signalFile_(dir_ + "/capture-signal"),
        recording_(dir_ + (playback_ ? "/playback.wav" : "/capture.wav")) {}

  // Before the library's handle exists: the open's own faults, the timer, the time axis.
  int open() {
    switch (fault()) {
      case Fault::gone:
        return -ENODEV;
      case Fault::refuseOpen:
        return -EBUSY;
      case Fault::none:
      case Fault::stall:
        break;
    }
    timer_.reset(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!timer_.valid()) return -errno;
    return recording_.ensureTimeAxis();
  }

  snd_pcm_ioplug_t io{};

  int pollFd() const { return timer_.get(); }

  // --- callbacks of the library ---

  int hwParams() {
    if (const int e = goneCheck(); e < 0) return e;
    channels_ = io.channels;
    frameBytes_ = channels_ * kSampleBytes;
    bufferFrames_ = io.buffer_size;
    if (playback_) shadow_.assign(bufferFrames_ * frameBytes_, 0);
    return recording_.open(channels_);
  }

  int swParams(snd_pcm_sw_params_t* params) {
    snd_pcm_uframes_t availMin = 0;
    snd_pcm_uframes_t boundary = 0;
    if (snd_pcm_sw_params_get_avail_min(params, &availMin) == 0)
      availMin_ = std::max<uint64_t>(1, availMin);
    if (snd_pcm_sw_params_get_boundary(params, &boundary) == 0 && boundary > 0)
      boundary_ = boundary;
    if (io.pcm != nullptr) rearm();  // readiness with the new minimum
    return 0;
  }

  int prepare() {
    if (const int e = goneCheck(); e < 0) return e;
    running_ = false;
    stalled_ = false;
    underrun_ = false;
    hw_ = 0;
    base_ = 0;
    // Prepared (the library sets the state when this returns): playback can take a
    // buffer, capture has nothing until it starts.
    if (playback_ && availMin_ <= bufferFrames_) {
      armNow();
    } else {
      armIn(kFaultCheckNs);
    }
    return 0;
  }

  int start() {
    if (const int e = goneCheck(); e < 0) return e;
    const int64_t now = nowNs();
    if (const int e = recording_.keepInRange(now); e < 0) return e;
    base_ = framesSince(recording_.t0(), now);
    hw_ = 0;
    running_ = true;
    stalled_ = false;
    if (fault() == Fault::stall) beginStall(now);
    rearm();
    return 0;
  }

  int stop() {
    if (running_ && playback_ && !underrun_) {
      // What was played up to now reaches the recording before the rest is dropped.
      const uint64_t appl = applFrames();
      recordPlayed(std::min(position(nowNs()), appl));
    }
    running_ = false;
    disarm();
    return 0;
  }

  snd_pcm_sframes_t pointer() {
    const Fault f = fault();
    if (f == Fault::gone) {
      disconnect();
      return wrap(hw_);  // the state says it; an error here would read as an xrun
    }
    if (!running_) return wrap(hw_);
    const int64_t now = nowNs();
    followStall(f, now);
    const uint64_t pos = position(now);
    const uint64_t appl = applFrames();
    if (playback_) {
      if (io.state == SND_PCM_STATE_DRAINING) {
        recordPlayed(std::min(pos, appl));
      } else if (pos > appl) {
        recordPlayed(appl);
        underrun_ = true;
        return -EPIPE;
      } else {
        recordPlayed(pos);
      }
    } else {
      if (pos > appl + bufferFrames_) return -EPIPE;  // more than a buffer behind
      hw_ = pos;
    }
    return wrap(hw_);
  }

  snd_pcm_sframes_t transfer(const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                             snd_pcm_uframes_t size) {
    if (const int e = goneCheck(); e < 0) return e;
    if (frameBytes_ == 0) return -EBADFD;
    const uint64_t appl = applFrames();
    if (playback_) {
      for (snd_pcm_uframes_t i = 0; i < size; ++i) {
        uint8_t* to = &shadow_[static_cast<size_t>((appl + i) % bufferFrames_) * frameBytes_];
        for (unsigned c = 0; c < channels_; ++c) {
          std::memcpy(to + c * kSampleBytes, sampleIn(areas[c], offset + i), kSampleBytes);
        }
      }
      rearmAfter(size);
      return static_cast<snd_pcm_sframes_t>(size);
    }
    if (signalFile_.refresh()) signal_ = Signal::parse(signalFile_.text(), dir_);
    scratch_.resize(size * frameBytes_);
    std::array<int16_t, 2> frame{};
    const uint64_t first = static_cast<uint64_t>(base_) + appl;
    for (snd_pcm_uframes_t i = 0; i < size; ++i) {
      signal_.frame(first + i, channels_, frame.data());
      for (unsigned c = 0; c < channels_; ++c) {
        uint8_t* at = &scratch_[i * frameBytes_ + c * kSampleBytes];
        putLe16(at, static_cast<uint16_t>(frame[c]));
        std::memcpy(sampleIn(areas[c], offset + i), at, kSampleBytes);
      }
    }
    recording_.write(first, scratch_.data(), size);
    rearmAfter(size);
    return static_cast<snd_pcm_sframes_t>(size);
  }

  int pollRevents(unsigned short* revents) {
    uint64_t expirations = 0;
    while (::read(timer_.get(), &expirations, sizeof expirations) > 0) {
    }
    *revents = rearm();
    return 0;
  }

  void close() {
    if (running_) stop();
    recording_.close();
    timer_.reset();
  }

 private:
  // Whether the stream is ready now (the poll events), and the timer armed to match: at
  // once while it is ready, as a sound card's descriptor stays readable until the
  // application acts; else for the moment it becomes ready. Called after everything
  // that changes readiness other than the passing of time.
  unsigned short rearm() {
    const Fault f = fault();
    if (f == Fault::gone) {
      disconnect();
      armNow();
      return POLLERR;
    }
    if (io.state == SND_PCM_STATE_XRUN || io.state == SND_PCM_STATE_DISCONNECTED) {
      armNow();
      return POLLERR;
    }
    const unsigned short ready = playback_ ? POLLOUT : POLLIN;
    const int64_t now = nowNs();
    followStall(f, now);
    if (stalled_) {
      armIn(kFaultCheckNs);
      return 0;
    }
    const uint64_t appl = applFrames();
    if (!running_) {
      // Prepared: playback can take a buffer, capture has nothing yet.
      const uint64_t avail =
          playback_ ? bufferFrames_ - std::min<uint64_t>(appl, bufferFrames_) : 0;
      if (avail >= availMin_) {
        armNow();
        return ready;
      }
      armIn(kFaultCheckNs);
      return 0;
    }
    const uint64_t pos = position(now);
    // The position at which the stream is ready.
    uint64_t target = 0;
    if (playback_ && io.state == SND_PCM_STATE_DRAINING) {
      target = appl;  // a drain waits until everything is played, not for each period
    } else if (playback_) {
      target = appl + availMin_ > bufferFrames_ ? appl + availMin_ - bufferFrames_ : 0;
    } else {
      target = appl + availMin_;
    }
    // An underrun or overrun is ready too: the next call learns it from the pointer.
    if (pos >= target) {
      armNow();
      return ready;
    }
    armAt(std::min(timeOfFrame(recording_.t0(), base_ + static_cast<int64_t>(target)),
                   now + kFaultCheckNs));
    return 0;
  }

  // After a transfer of frames: the library moves its application position only when the
  // transfer returned, so readiness is judged as it will be then.
  void rearmAfter(snd_pcm_uframes_t frames) {
    pendingFrames_ = frames;
    rearm();
    pendingFrames_ = 0;
  }

  Fault fault() {
    fault_.refresh();
    return parseFault(fault_.text());
  }

  int goneCheck() {
    if (fault() != Fault::gone) return 0;
    disconnect();
    return -ENODEV;
  }

  void disconnect() {
    if (io.pcm != nullptr) snd_pcm_ioplug_set_state(&io, SND_PCM_STATE_DISCONNECTED);
  }

  // A stall freezes the position; when it ends, the stream goes on from where it stood
  // (its frames later on the time axis by the stall's length).
  void beginStall(int64_t now) {
    stalled_ = true;
    stallPos_ = position(now);
  }
  void followStall(Fault f, int64_t now) {
    if (!running_) return;
    if (f == Fault::stall && !stalled_) {
      beginStall(now);
    } else if (f != Fault::stall && stalled_) {
      stalled_ = false;
      base_ = framesSince(recording_.t0(), now) - static_cast<int64_t>(stallPos_);
    }
  }

  // Frames of the stream since its start (the consumer's or producer's position).
  uint64_t position(int64_t now) const {
    if (stalled_) return stallPos_;
    const int64_t frames = framesSince(recording_.t0(), now) - base_;
    return frames > 0 ? static_cast<uint64_t>(frames) : 0;
  }

  snd_pcm_sframes_t wrap(uint64_t frames) const {
    return static_cast<snd_pcm_sframes_t>(frames % boundary_);
  }

  // The application's position as a count since the prepare: the library's pointer wraps
  // at the boundary, and lies within a buffer of ours.
  uint64_t applFrames() const {
    const uint64_t raw = io.appl_ptr;
    const uint64_t ours = hw_ % boundary_;
    const uint64_t ahead = (raw + boundary_ - ours) % boundary_;
    if (ahead <= boundary_ / 2) return hw_ + ahead + pendingFrames_;
    const uint64_t behind = boundary_ - ahead;
    return (behind <= hw_ ? hw_ - behind : 0) + pendingFrames_;
  }

  // Playback: the frames from hw_ to 'to' have been played; into the recording.
  void recordPlayed(uint64_t to) {
    while (hw_ < to) {
      const auto slot = static_cast<size_t>(hw_ % bufferFrames_);
      const auto frames = static_cast<size_t>(std::min<uint64_t>(to - hw_, bufferFrames_ - slot));
      recording_.write(static_cast<uint64_t>(base_) + hw_, &shadow_[slot * frameBytes_], frames);
      hw_ += frames;
    }
  }

  static uint8_t* sampleIn(const snd_pcm_channel_area_t& area, snd_pcm_uframes_t frame) {
    return static_cast<uint8_t*>(area.addr) + (area.first + frame * area.step) / 8;
  }

  void armAt(int64_t when) {
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(when / kNsPerSecond);
    due.it_value.tv_nsec = static_cast<long>(when % kNsPerSecond);
    if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0) due.it_value.tv_nsec = 1;
    ::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME, &due, nullptr);
  }
  void armIn(int64_t ns) {
    itimerspec due{};
    due.it_value.tv_sec = static_cast<time_t>(ns / kNsPerSecond);
    due.it_value.tv_nsec = static_cast<long>(std::max<int64_t>(1, ns % kNsPerSecond));
    ::timerfd_settime(timer_.get(), 0, &due, nullptr);
  }
  void armNow() { armIn(1); }
  void disarm() {
    const itimerspec due{};
    ::timerfd_settime(timer_.get(), 0, &due, nullptr);
  }

  std::string dir_;
  bool playback_;
  WatchedFile fault_;
  WatchedFile signalFile_;
  Signal signal_;
  Recording recording_;
  Fd timer_;

  unsigned channels_ = 0;
  size_t frameBytes_ = 0;
  size_t bufferFrames_ = 1;  // the library's buffer, at most 65536 frames
  uint64_t availMin_ = 1;
  // The library's wrap of its positions; set with the software parameters.
  uint64_t boundary_ = uint64_t{1} << 30;

  bool running_ = false;
  bool underrun_ = false;
  bool stalled_ = false;
  uint64_t stallPos_ = 0;
  // The stream's frame 0 is frame base_ of the recording's time axis.
  int64_t base_ = 0;
  // The position last given to the library (playback: also recorded up to here).
  uint64_t hw_ = 0;
  uint64_t pendingFrames_ = 0;    // a transfer's frames, while it is being judged
  std::vector<uint8_t> shadow_;   // playback: the device buffer
  std::vector<uint8_t> scratch_;  // capture: one transfer's frames
};

BenchPcm* self(snd_pcm_ioplug_t* io) {
  return static_cast<BenchPcm*>(io->private_data);
}

// The callbacks run inside the C library: nothing may unwind through it.
template <typename Fn>
auto guarded(Fn fn) noexcept -> decltype(fn()) {
  try {
    return fn();
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  } catch (...) {
    return -EIO;
  }
}

int cbStart(snd_pcm_ioplug_t* io) {
  return guarded([&] { return self(io)->start(); });
}
int cbStop(snd_pcm_ioplug_t* io) {
  return guarded([&] { return self(io)->stop(); });
}
snd_pcm_sframes_t cbPointer(snd_pcm_ioplug_t* io) {
  return guarded([&] { return self(io)->pointer(); });
}
snd_pcm_sframes_t cbTransfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                             snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  return guarded([&] { return self(io)->transfer(areas, offset, size); });
}
int cbClose(snd_pcm_ioplug_t* io) {
  BenchPcm* pcm = self(io);
  pcm->close();
  delete pcm;
  return 0;
}
int cbHwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*) {
  return guarded([&] { return self(io)->hwParams(); });
}
int cbSwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params) {
  return guarded([&] { return self(io)->swParams(params); });
}
int cbPrepare(snd_pcm_ioplug_t* io) {
  return guarded([&] { return self(io)->prepare(); });
}
int cbPollRevents(snd_pcm_ioplug_t* io, struct pollfd*, unsigned int, unsigned short* revents) {
  return guarded([&] { return self(io)->pollRevents(revents); });
}

constexpr snd_pcm_ioplug_callback_t kCallbacks = [] {
  snd_pcm_ioplug_callback_t c{};
  c.start = cbStart;
  c.stop = cbStop;
  c.pointer = cbPointer;
  c.transfer = cbTransfer;
  c.close = cbClose;
  c.hw_params = cbHwParams;
  c.sw_params = cbSwParams;
  c.prepare = cbPrepare;
  c.poll_revents = cbPollRevents;
  return c;
}();

int setConstraints(snd_pcm_ioplug_t* io) {
  static constexpr unsigned kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static constexpr unsigned kFormats[] = {SND_PCM_FORMAT_S16_LE};
  // Periods of 16 to 16384 frames, buffers up to 65536 frames (stereo; the library knows
  // only bytes, so mono may go twice as far).
  constexpr unsigned kMinFrameBytes = 1 * kSampleBytes;
  constexpr unsigned kMaxFrameBytes = 2 * kSampleBytes;
  int e = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess);
  if (e == 0) e = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, kFormats);
  if (e == 0) e = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2);
  if (e == 0) e = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, kRate, kRate);
  if (e == 0) {
    e = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 16 * kMinFrameBytes,
                                        16384 * kMaxFrameBytes);
  }
  if (e == 0) {
    e = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 32 * kMinFrameBytes,
                                        65536 * kMaxFrameBytes);
  }
  if (e == 0) e = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024);
  return e;
}

int openBenchPcm(snd_pcm_t** pcmp, const char* name, snd_config_t* conf, snd_pcm_stream_t stream,
                 int mode) {
  std::string dir;
  snd_config_iterator_t i;
  snd_config_iterator_t next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* entry = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(entry, &id) < 0) continue;
    const std::string_view key(id);
    if (key == "comment" || key == "type" || key == "hint") continue;
    if (key == "dir") {
      const char* value = nullptr;
      if (snd_config_get_string(entry, &value) < 0) {
        SNDERR("corvid_bench: dir must be a string");
        return -EINVAL;
      }
      dir = value;
      continue;
    }
    SNDERR("corvid_bench: unknown field %s", id);
    return -EINVAL;
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty() || dir.front() != '/') {
    SNDERR("corvid_bench: dir must be an absolute path");
    return -EINVAL;
  }

  auto* pcm = new (std::nothrow) BenchPcm(dir, stream);
  if (pcm == nullptr) return -ENOMEM;
  if (const int e = pcm->open(); e < 0) {
    delete pcm;
    return e;
  }
  snd_pcm_ioplug_t& io = pcm->io;
  io.version = SND_PCM_IOPLUG_VERSION;
  io.name = "Corvid bench sound device";
  io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC | SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
  io.mmap_rw = 0;
  io.callback = &kCallbacks;
  io.private_data = pcm;
  io.poll_fd = pcm->pollFd();
  io.poll_events = POLLIN;  // the timerfd is readable when it fired
  if (const int e = snd_pcm_ioplug_create(&io, name, stream, mode); e < 0) {
    pcm->close();
    delete pcm;
    return e;
  }
  if (const int e = setConstraints(&io); e < 0) {
    snd_pcm_ioplug_delete(&io);  // closes through cbClose, which deletes pcm
    return e;
  }
  *pcmp = io.pcm;
  return 0;
}

}  // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(corvid_bench) {
  (void)root;
  return guarded([&] { return openBenchPcm(pcmp, name, conf, stream, mode); });
}

SND_PCM_PLUGIN_SYMBOL(corvid_bench);

}  // extern "C"
