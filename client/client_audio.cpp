// The client's audio (see client_audio.h).
#include "client/client_audio.h"

#include <opus/opus.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <string_view>

namespace corvid::client {

namespace {

constexpr int kOpusRate = 48000;
constexpr int kOpusChannels = 2;
// The longest Opus frame, 120 ms: room for whatever one packet holds.
constexpr int kMaxDecodedFrames = 5760;

void put32(std::vector<uint8_t>& out, int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

int64_t monotonicNs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

void OpusDeleter::operator()(OpusEncoder* encoder) const {
  opus_encoder_destroy(encoder);
}
void OpusDeleter::operator()(OpusDecoder* decoder) const {
  opus_decoder_destroy(decoder);
}

std::vector<uint8_t> configurationData(const AudioConfig& config) {
  std::vector<uint8_t> data = {0, 0};
  put32(data, config.bitrate);
  put32(data, config.bitrate);  // the client's own audio: Opus-coded exactly when ours is
  put32(data, config.chunkUs);
  put32(data, config.chunkUs);
  put32(data, config.bufferChunks);
  return data;
}

std::optional<std::vector<uint8_t>> longBinaryFrame(std::string_view tag,
                                                    std::span<const uint8_t> data) {
  if (tag.size() != 2 || data.size() + 2 > 0xFFFF) return std::nullopt;
  const size_t n = data.size() + 2;
  std::vector<uint8_t> frame = {0x82,
                                126,
                                static_cast<uint8_t>(n >> 8),
                                static_cast<uint8_t>(n & 0xFF),
                                static_cast<uint8_t>(tag[0]),
                                static_cast<uint8_t>(tag[1])};
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

// ---- receiving ----

std::string AudioReceiver::open(const std::string& path, const AudioConfig& config) {
  config_ = config;
  path_ = path;
  if (config.bitrate != 0) {
    int error = OPUS_OK;
    decoder_.reset(opus_decoder_create(kOpusRate, kOpusChannels, &error));
    if (error != OPUS_OK || decoder_ == nullptr) {
      return std::string("cannot make the Opus decoder: ") + opus_strerror(error);
    }
  }
  return wav_.open(path);
}

bool AudioReceiver::take(std::span<const uint8_t> data) {
  std::vector<int16_t> pcm;
  bool decoded = true;
  if (decoder_ != nullptr) {
    pcm.resize(static_cast<size_t>(kMaxDecodedFrames) * kOpusChannels);
    const int frames =
        opus_decode(decoder_.get(), data.data(), static_cast<opus_int32>(data.size()), pcm.data(),
                    kMaxDecodedFrames, 0);
    if (frames < 0) {
      // Silence of a chunk's length in its place keeps the file's time axis.
      ++errors_;
      decoded = false;
      pcm.assign(static_cast<size_t>(std::max(config_.chunkFrames(), 0)) * kOpusChannels, 0);
    } else {
      pcm.resize(static_cast<size_t>(frames) * kOpusChannels);
    }
  } else {
    pcm.resize(data.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
      pcm[i] = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    pcm.resize(pcm.size() / 2 * 2);  // whole stereo frames
  }
  if (chunks_ == 0) std::ofstream(path_ + ".t0") << monotonicNs() << "\n";
  ++chunks_;
  if (std::string error = wav_.append(pcm); !error.empty() && writeError_.empty()) {
    writeError_ = error;
  }
  return decoded;
}

// ---- sending ----

std::string AudioSender::open(const std::string& path, const AudioConfig& config, bool loop,
                              int jitterMs) {
  config_ = config;
  loop_ = loop;
  jitterMs_ = std::max(0, jitterMs);
  if (std::string error = readWavForSending(path, samples_); !error.empty()) return error;
  if (samples_.size() < 2) return path + ": no samples";
  const int chunk = config.chunkFrames();
  if (chunk < 1) return "the chunk is shorter than one sample";
  frames_ = static_cast<size_t>(chunk);
  if (config.bitrate == 0) {
    if (chunk > kMaxRawSendFrames) {
      return "raw audio of " + std::to_string(chunk) + " frames a chunk does not fit the " +
             "amplifier's 1024-byte receive buffer: at most " + std::to_string(kMaxRawSendFrames) +
             " (--chunk-us 5000 or less)";
    }
    return {};
  }
  int error = OPUS_OK;
  encoder_.reset(opus_encoder_create(kOpusRate, kOpusChannels, OPUS_APPLICATION_AUDIO, &error));
  if (error != OPUS_OK || encoder_ == nullptr) {
    return std::string("cannot make the Opus encoder: ") + opus_strerror(error);
  }
  if (const int rc = opus_encoder_ctl(encoder_.get(), OPUS_SET_BITRATE(config.bitrate));
      rc != OPUS_OK) {
    return std::string("the Opus encoder refuses the bitrate: ") + opus_strerror(rc);
  }
  return {};
}

AudioSender::Clock::time_point AudioSender::dueTime(uint64_t n) {
  const auto offset =
      std::chrono::nanoseconds(static_cast<int64_t>(n * frames_) * 1'000'000'000 / kOpusRate);
  Clock::time_point due = start_ + std::chrono::duration_cast<Clock::duration>(offset);
  if (jitterMs_ > 0) {
    std::uniform_int_distribution<int> delay(0, jitterMs_ * 1000);
    due += std::chrono::microseconds(delay(random_));
  }
  due = std::max(due, lastDue_);  // a later chunk never goes before an earlier one
  lastDue_ = due;
  return due;
}

int64_t AudioSender::startMonotonicNs() const {
  const auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start_);
  return monotonicNs() - since.count();
}

std::optional<std::vector<uint8_t>> AudioSender::nextDue(Clock::time_point now) {
  if (finished() || now < nextDue_) return std::nullopt;
  std::vector<int16_t> chunk(frames_ * 2);
  const uint64_t total = frames();
  for (size_t f = 0; f < frames_; ++f) {
    uint64_t position = next_ * frames_ + f;
    if (loop_) {
      position %= total;
    } else if (position >= total) {
      break;  // the last chunk of a file played once ends in silence
    }
    const auto at = static_cast<size_t>(position);  // below the sample count
    chunk[2 * f] = samples_[2 * at];
    chunk[2 * f + 1] = samples_[2 * at + 1];
  }
  std::vector<uint8_t> data;
  if (encoder_ != nullptr) {
    data.resize(chunk.size() * 2);
    const opus_int32 n = opus_encode(encoder_.get(), chunk.data(), static_cast<int>(frames_),
                                     data.data(), static_cast<opus_int32>(data.size()));
    if (n < 0) return std::nullopt;
    data.resize(static_cast<size_t>(n));
  } else {
    data = littleEndianSamples(chunk);
  }
  ++next_;
  nextDue_ = dueTime(next_);
  return longBinaryFrame("SO", data);
}

}  // namespace corvid::client
