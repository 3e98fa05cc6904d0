// The client's WAV writer and reader (see wav_file.h).
#include "client/wav_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace corvid::client {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// The first two bytes of the sub-format GUID of extensible PCM.
constexpr uint16_t kSubFormatPcm = 1;
constexpr uint32_t kMaxDataBytes = 0xFFFFFFFFu - (kWavHeaderBytes - 8);

void put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void putText(std::vector<uint8_t>& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

uint16_t get16(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

uint32_t get32(std::span<const uint8_t> bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

bool isTag(std::span<const uint8_t> bytes, size_t at, std::string_view tag) {
  return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, tag.data(), 4) == 0;
}

std::string errnoText() {
  return std::strerror(errno);
}

}  // namespace

std::vector<uint8_t> wavHeader(uint32_t dataBytes) {
  std::vector<uint8_t> header;
  header.reserve(kWavHeaderBytes);
  putText(header, "RIFF");
  put32(header, static_cast<uint32_t>(kWavHeaderBytes - 8) + dataBytes);
  putText(header, "WAVE");
  putText(header, "fmt ");
  put32(header, 16);
  put16(header, kFormatPcm);
  put16(header, kWavChannels);
  put32(header, kWavRate);
  put32(header, kWavRate * kWavChannels * 2);  // bytes a second
  put16(header, kWavChannels * 2);             // bytes a frame
  put16(header, 16);
  putText(header, "data");
  put32(header, dataBytes);
  return header;
}

std::vector<uint8_t> littleEndianSamples(std::span<const int16_t> samples) {
  std::vector<uint8_t> bytes;
  bytes.reserve(samples.size() * 2);
  for (const int16_t sample : samples) put16(bytes, static_cast<uint16_t>(sample));
  return bytes;
}

std::string WavWriter::open(const std::string& path) {
  path_ = path;
  dataBytes_ = 0;
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_) return "cannot write " + path + ": " + errnoText();
  const auto header = wavHeader(0);
  if (std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size() ||
      std::fflush(file_.get()) != 0) {
    file_.reset();
    return "cannot write " + path + ": " + errnoText();
  }
  return {};
}

std::string WavWriter::appendBytes(std::span<const uint8_t> bytes) {
  if (!file_) return "no file";
  if (bytes.size() % 4 != 0) return "not a whole number of stereo frames";
  if (bytes.size() > kMaxDataBytes - dataBytes_) return path_ + " is full (4 GiB)";
  std::FILE* f = file_.get();
  if (std::fseek(f, 0, SEEK_END) != 0 ||
      std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    return "cannot write " + path_ + ": " + errnoText();
  }
  dataBytes_ += static_cast<uint32_t>(bytes.size());
  // The samples go out before the sizes that count them.
  if (std::fflush(f) != 0) return "cannot write " + path_ + ": " + errnoText();
  const auto header = wavHeader(dataBytes_);
  if (std::fseek(f, 4, SEEK_SET) != 0 || std::fwrite(header.data() + 4, 1, 4, f) != 4 ||
      std::fseek(f, 40, SEEK_SET) != 0 || std::fwrite(header.data() + 40, 1, 4, f) != 4 ||
      std::fflush(f) != 0) {
    return "cannot write " + path_ + ": " + errnoText();
  }
  return {};
}

std::string WavWriter::append(std::span<const int16_t> stereo) {
  return appendBytes(littleEndianSamples(stereo));
}

std::string parseWav(std::span<const uint8_t> bytes, WavAudio& audio) {
  if (bytes.size() < 12 || !isTag(bytes, 0, "RIFF") || !isTag(bytes, 8, "WAVE")) {
    return "not a RIFF/WAVE file";
  }
  bool haveFormat = false;
  uint16_t bits = 0;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const uint32_t size = get32(bytes, at + 4);
    const size_t body = at + 8;
    // A data size that runs past the end (0xFFFFFFFF of a file written as a stream, or a
    // file cut short) means the rest of the file.
    const size_t available = std::min<size_t>(size, bytes.size() - body);
    if (isTag(bytes, at, "fmt ")) {
      if (available < 16) return "the fmt chunk is too short";
      uint16_t format = get16(bytes, body);
      audio.channels = get16(bytes, body + 2);
      audio.sampleRate = get32(bytes, body + 4);
      bits = get16(bytes, body + 14);
      if (format == kFormatExtensible) {
        if (available < 26) return "the extensible fmt chunk is too short";
        format = get16(bytes, body + 24);
        if (format != kSubFormatPcm) return "not PCM samples";
      }
      if (format != kFormatPcm) return "not PCM samples (format " + std::to_string(format) + ")";
      haveFormat = true;
    } else if (isTag(bytes, at, "data")) {
      if (!haveFormat) return "the data chunk comes before the fmt chunk";
      if (bits != 16) return std::to_string(bits) + "-bit samples, not 16-bit";
      if (audio.channels != 1 && audio.channels != 2) {
        return std::to_string(audio.channels) + " channels, not 1 or 2";
      }
      const size_t frameBytes = 2u * audio.channels;
      const size_t frames = available / frameBytes;
      audio.samples.resize(frames * audio.channels);
      for (size_t i = 0; i < audio.samples.size(); ++i) {
        audio.samples[i] = static_cast<int16_t>(get16(bytes, body + 2 * i));
      }
      return {};
    }
    if (size > bytes.size() - body) break;
    at = body + size + (size & 1);  // chunks are padded to an even length
  }
  return haveFormat ? "no data chunk" : "no fmt chunk";
}

std::vector<int16_t> stereoSamples(const WavAudio& audio) {
  if (audio.channels == 2) return audio.samples;
  std::vector<int16_t> stereo;
  stereo.reserve(audio.samples.size() * 2);
  for (const int16_t sample : audio.samples) {
    stereo.push_back(sample);
    stereo.push_back(sample);
  }
  return stereo;
}

std::string readWavForSending(const std::string& path, std::vector<int16_t>& stereo) {
  errno = 0;
  const auto content = platform::readFile(path, kWavReadLimit);
  if (!content) {
    return "cannot read " + path + ": " +
           (errno == EFBIG ? std::string("larger than 256 MiB") : errnoText());
  }
  WavAudio audio;
  const std::string problem = parseWav(
      std::span(reinterpret_cast<const uint8_t*>(content->data()), content->size()), audio);
  if (!problem.empty()) return path + ": " + problem;
  if (audio.sampleRate != kWavRate) {
    return path + ": " + std::to_string(audio.sampleRate) + " Hz, not 48000 Hz";
  }
  if (audio.samples.empty()) return path + ": no samples";
  stereo = stereoSamples(audio);
  return {};
}

}  // namespace corvid::client
