// The WAV files of the client's audio: the writer of the amplifier's receive audio
// (--audio-out), whose header sizes are right after every chunk so that the file can be
// read while the client runs or after it was killed, and the reader of the audio the
// client sends (--audio-in). Both are 16-bit PCM; the writer always 48 kHz stereo.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/files.h"

namespace corvid::client {

inline constexpr uint32_t kWavRate = 48000;
inline constexpr uint16_t kWavChannels = 2;
inline constexpr size_t kWavHeaderBytes = 44;
// The largest file the reader loads: about 23 minutes of 48 kHz stereo.
inline constexpr size_t kWavReadLimit = 256u << 20;

// The 44-byte header of a 48 kHz stereo 16-bit file with dataBytes bytes of samples.
std::vector<uint8_t> wavHeader(uint32_t dataBytes);

// 16-bit samples as the little-endian bytes of a WAV file (and of a raw "SO" chunk).
std::vector<uint8_t> littleEndianSamples(std::span<const int16_t> samples);

class WavWriter {
 public:
  // Creates (or truncates) the file with an empty data chunk; empty text on success,
  // else why not.
  std::string open(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  // Appends little-endian 16-bit stereo frames (a whole number of 4-byte frames) and then
  // rewrites the two sizes of the header, so the header never counts bytes that are not
  // there yet. Empty text on success.
  std::string appendBytes(std::span<const uint8_t> bytes);
  std::string append(std::span<const int16_t> stereo);
  uint64_t frames() const { return dataBytes_ / 4; }

 private:
  platform::File file_;
  std::string path_;
  uint32_t dataBytes_ = 0;
};

// A file's samples, as they were in it.
struct WavAudio {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  std::vector<int16_t> samples;  // interleaved
};

// Reads RIFF/WAVE bytes: 16-bit PCM (plain or extensible), 1 or 2 channels, any rate;
// chunks other than "fmt " and "data" are passed over. Empty text on success, else what
// is wrong with the file.
std::string parseWav(std::span<const uint8_t> bytes, WavAudio& audio);
// The samples as stereo frames: a mono file's samples are given to both channels.
std::vector<int16_t> stereoSamples(const WavAudio& audio);
// The file at path as 48 kHz stereo, for sending: empty text on success, else why not.
std::string readWavForSending(const std::string& path, std::vector<int16_t>& stereo);

}  // namespace corvid::client
