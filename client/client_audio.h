// The client's audio: the configuration message it sends after the login ("CF"), the
// amplifier's receive audio ("SO" from the server) decoded into a WAV file, and a WAV
// file sent as the client's audio ("SO" to the server), paced in real time. Its own Opus
// coder and decoder, 48 kHz stereo, like the amplifier's.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "client/wav_file.h"

struct OpusEncoder;
struct OpusDecoder;

namespace corvid::client {

// What the client asks of the amplifier's audio.
struct AudioConfig {
  int32_t bitrate = 30000;    // Opus bitrate both ways; 0: raw samples both ways
  int32_t chunkUs = 10000;    // capture and playback chunk, microseconds
  int32_t bufferChunks = 10;  // the amplifier's playback pre-buffer, chunks
  // Frames of one chunk at 48 kHz: chunkUs x 120 / 2500, as the amplifier counts.
  int chunkFrames() const { return static_cast<int>(int64_t{chunkUs} * 120 / 2500); }
};

// The data of the "CF" message (after its tag): two unused bytes, then bitrate, the
// compression of the client's audio (nonzero: Opus, the bitrate again), capture chunk,
// playback chunk and pre-buffer chunks, each 32-bit big-endian.
std::vector<uint8_t> configurationData(const AudioConfig& config);

// 0x82, 126, the 16-bit big-endian length of tag and data, the tag, the data: the form a
// client's "SO" travels in. Empty when tag and data exceed 65535 bytes.
std::optional<std::vector<uint8_t>> longBinaryFrame(std::string_view tag,
                                                    std::span<const uint8_t> data);

// The largest raw chunk the amplifier takes from a client: its receive buffer holds 1024
// bytes, the frame's head 4 of them.
inline constexpr int kMaxRawSendFrames = (1024 - 4 - 2) / 4;

struct OpusDeleter {
  void operator()(OpusEncoder* encoder) const;
  void operator()(OpusDecoder* decoder) const;
};

// The amplifier's audio into a WAV file. Sample 0 lies at the CLOCK_MONOTONIC time of
// FILE.t0 (nanoseconds as text): the first chunk's arrival, where a player that starts at
// once would play it.
class AudioReceiver {
 public:
  // Empty text on success, else why not.
  std::string open(const std::string& path, const AudioConfig& config);
  // One "SO" message's data; a chunk that cannot be decoded is written as silence.
  bool take(std::span<const uint8_t> data);
  uint64_t chunks() const { return chunks_; }
  uint64_t errors() const { return errors_; }
  const std::string& writeError() const { return writeError_; }

 private:
  WavWriter wav_;
  std::string path_;
  AudioConfig config_;
  std::unique_ptr<OpusDecoder, OpusDeleter> decoder_;
  uint64_t chunks_ = 0;
  uint64_t errors_ = 0;
  std::string writeError_;
};

// A WAV file as the client's audio, one chunk at a time.
class AudioSender {
 public:
  using Clock = std::chrono::steady_clock;
  // Empty text on success, else why not (a file that is no 48 kHz 16-bit WAV, a raw
  // chunk too big for the amplifier's buffer, a coder that cannot be made).
  std::string open(const std::string& path, const AudioConfig& config, bool loop, int jitterMs);
  // Chunk n is due at start + n x chunk length (plus its jitter, order kept).
  void start(Clock::time_point at) { start_ = at, next_ = 0, nextDue_ = dueTime(0); }
  Clock::time_point dueTime(uint64_t n);
  bool finished() const { return !loop_ && next_ * frames_ >= frames(); }
  // The frame of the next chunk when it is due at now; empty when none is due.
  std::optional<std::vector<uint8_t>> nextDue(Clock::time_point now);
  Clock::time_point nextDueTime() const { return nextDue_; }
  uint64_t sent() const { return next_; }
  // The CLOCK_MONOTONIC time (ns) at which the file's sample 0 was due: chunk n's first
  // sample is due n chunks later, before its jitter.
  int64_t startMonotonicNs() const;

 private:
  uint64_t frames() const { return samples_.size() / 2; }
  std::vector<int16_t> samples_;  // stereo
  AudioConfig config_;
  bool loop_ = true;
  int jitterMs_ = 0;
  size_t frames_ = 0;  // per chunk
  std::unique_ptr<OpusEncoder, OpusDeleter> encoder_;
  Clock::time_point start_{};
  uint64_t next_ = 0;
  Clock::time_point nextDue_{};
  Clock::time_point lastDue_{};
  std::mt19937 random_{12345};
};

}  // namespace corvid::client
