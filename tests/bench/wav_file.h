// WAV files for the tests: 16-bit PCM read back (the bench's sound recordings) and
// written (signals for the capture device). Only the chunks that matter are looked at;
// a recording that is still being written may hold more than its header says, or less:
// what the header names and the file holds is taken.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace corvid::bench::test {

struct WavFile {
  unsigned channels = 0;
  unsigned rate = 0;
  std::vector<int16_t> samples;  // interleaved
  size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
  int16_t at(size_t frame, unsigned channel = 0) const {
    return samples[frame * channels + channel];
  }
};

namespace wav_detail {
inline uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<size_t>(i)];
  return v;
}
inline void put(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
}  // namespace wav_detail

// Empty when the file is missing or no 16-bit PCM WAV.
inline std::optional<WavFile> readWavFile(const std::filesystem::path& path) {
  using wav_detail::le;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  const std::vector<uint8_t> b{std::istreambuf_iterator<char>(in), {}};
  if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
      std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WavFile wav;
  for (size_t at = 12; at + 8 <= b.size();) {
    const size_t length = le(b, at + 4, 4);
    const size_t body = at + 8;
    const size_t held = std::min(length, b.size() - body);
    if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && held >= 16) {
      if (le(b, body, 2) != 1 || le(b, body + 14, 2) != 16) return std::nullopt;
      wav.channels = le(b, body + 2, 2);
      wav.rate = le(b, body + 4, 4);
    } else if (std::memcmp(b.data() + at, "data", 4) == 0) {
      if (wav.channels == 0) return std::nullopt;
      wav.samples.resize(held / 2);
      for (size_t i = 0; i < wav.samples.size(); ++i) {
        wav.samples[i] = static_cast<int16_t>(le(b, body + 2 * i, 2));
      }
      wav.samples.resize(wav.frames() * wav.channels);
      return wav;
    }
    at = body + held + (held & 1);
  }
  return std::nullopt;
}

// A 16-bit PCM WAV of the interleaved samples.
inline bool writeWavFile(const std::filesystem::path& path, unsigned channels, unsigned rate,
                         const std::vector<int16_t>& samples) {
  using wav_detail::put;
  const auto data = static_cast<uint32_t>(samples.size() * 2);
  std::string out = "RIFF";
  put(out, 36 + data, 4);
  out += "WAVEfmt ";
  put(out, 16, 4);
  put(out, 1, 2);
  put(out, channels, 2);
  put(out, rate, 4);
  put(out, rate * channels * 2, 4);
  put(out, channels * 2, 2);
  put(out, 16, 2);
  out += "data";
  put(out, data, 4);
  for (int16_t s : samples) put(out, static_cast<uint16_t>(s), 2);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << out;
  return static_cast<bool>(file.flush());
}

// A stereo 48 kHz WAV of a tone at -12 dBFS, the seconds long.
inline bool writeToneWavFile(const std::filesystem::path& path, double hz, double seconds) {
  constexpr unsigned kToneRate = 48000;
  const auto frames = static_cast<size_t>(seconds * kToneRate);
  std::vector<int16_t> samples(frames * 2);
  for (size_t f = 0; f < frames; ++f) {
    const auto v = static_cast<int16_t>(std::lround(
        8192 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(f) / kToneRate)));
    samples[2 * f] = v;
    samples[2 * f + 1] = v;
  }
  return writeWavFile(path, 2, kToneRate, samples);
}

}  // namespace corvid::bench::test
