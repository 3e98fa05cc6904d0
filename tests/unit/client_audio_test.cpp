// The client's audio: its WAV writer (sizes right after every chunk) and reader (the
// formats it takes and refuses), the "CF" and "SO" frames byte for byte, the pacing of
// the chunks it sends, and a tone through its Opus coder and decoder.
#include "client/client_audio.h"

#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string_view>

#include "client/remote_protocol.h"
#include "client/wav_file.h"

namespace corvid::client {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes fileBytes(const std::string& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}
uint32_t le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
std::string tmp(const std::string& name) {
  return (fs::temp_directory_path() / ("corvid-client-audio-" + std::to_string(getpid()) + name))
      .string();
}
Bytes makeWav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
              const Bytes& samples, bool list) {
  Bytes b;
  auto t = [&](std::string_view s) {
    for (const char c : s.substr(0, 4)) b.push_back(static_cast<uint8_t>(c));
  };
  auto p32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> 8 * i));
  };
  auto p16 = [&](uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  };
  t("RIFF");
  p32(0);
  t("WAVE");
  if (list) {
    t("LIST");
    p32(3);
    b.push_back('a');
    b.push_back('b');
    b.push_back('c');
    b.push_back(0);
  }
  t("fmt ");
  p32(format == 0xFFFE ? 40 : 16);
  p16(format);
  p16(channels);
  p32(rate);
  p32(rate * channels * bits / 8);
  p16(uint16_t(channels * bits / 8));
  p16(bits);
  if (format == 0xFFFE) {
    p16(22);
    p16(bits);
    p32(3);
    p16(1);
    for (int i = 0; i < 14; ++i) b.push_back(0);
  }
  t("data");
  p32(uint32_t(samples.size()));
  b.insert(b.end(), samples.begin(), samples.end());
  return b;
}

TEST(ClientAudio, WavWriterSizesAfterEveryChunk) {
  const std::string path = tmp("w.wav");
  WavWriter w;
  ASSERT_EQ(w.open(path), "");
  Bytes b = fileBytes(path);
  ASSERT_EQ(b.size(), 44u);
  EXPECT_EQ(le32(b, 4), 36u);
  EXPECT_EQ(le32(b, 40), 0u);
  EXPECT_EQ(le32(b, 24), 48000u);
  EXPECT_EQ(b[22], 2);
  std::vector<int16_t> s(960, 0);
  s[0] = -2;
  s[1] = 0x1234;
  ASSERT_EQ(w.append(s), "");
  b = fileBytes(path);
  EXPECT_EQ(b.size(), 44u + 1920);
  EXPECT_EQ(le32(b, 4), 36u + 1920);
  EXPECT_EQ(le32(b, 40), 1920u);
  EXPECT_EQ(b[44], 0xFE);
  EXPECT_EQ(b[45], 0xFF);
  EXPECT_EQ(b[46], 0x34);
  EXPECT_EQ(b[47], 0x12);
  ASSERT_EQ(w.append(s), "");
  b = fileBytes(path);
  EXPECT_EQ(le32(b, 40), 3840u);
  WavAudio a;
  EXPECT_EQ(parseWav(b, a), "");
  EXPECT_EQ(a.samples.size(), 1920u);
  EXPECT_EQ(a.samples[1], 0x1234);
  fs::remove(path);
}

TEST(ClientAudio, WavReaderFormats) {
  const Bytes mono{1, 0, 2, 0, 0xFF, 0x7F};
  struct C {
    Bytes file;
    std::string error;
    size_t samples;
  };
  const C cases[] = {
      {makeWav(1, 1, 48000, 16, mono, false), "", 6},
      {makeWav(1, 1, 48000, 16, mono, true), "", 6},
      {makeWav(0xFFFE, 2, 48000, 16, Bytes(8), false), "", 4},
      {makeWav(1, 2, 44100, 16, Bytes(8), false), "44100", 0},
      {makeWav(1, 2, 48000, 8, Bytes(8), false), "8-bit", 0},
      {makeWav(1, 3, 48000, 16, Bytes(12), false), "3 channels", 0},
      {makeWav(3, 2, 48000, 32, Bytes(16), false), "not PCM", 0},
      {Bytes{'R', 'I', 'F', 'F'}, "not a RIFF", 0},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string path = tmp("r" + std::to_string(i++) + ".wav");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.file.data()), c.file.size());
    std::vector<int16_t> st;
    const std::string e = readWavForSending(path, st);
    if (c.error.empty()) {
      EXPECT_EQ(e, "") << i;
      EXPECT_EQ(st.size(), c.samples) << i;
    } else
      EXPECT_NE(e.find(c.error), std::string::npos) << i << " " << e;
    if (i == 1) {
      EXPECT_EQ(st, (std::vector<int16_t>{1, 1, 2, 2, 0x7FFF, 0x7FFF}));
    }
    fs::remove(path);
  }
}

TEST(ClientAudio, ConfigurationAndAudioFrames) {
  const auto cf = binaryFrame("CF", configurationData(AudioConfig{}));
  ASSERT_TRUE(cf);
  EXPECT_EQ(*cf, (Bytes{0x82, 24, 'C', 'F',  0,    0, 0, 0,    0x75, 0x30, 0, 0, 0x75,
                        0x30, 0,  0,   0x27, 0x10, 0, 0, 0x27, 0x10, 0,    0, 0, 10}));
  const auto so = longBinaryFrame("SO", Bytes{1, 2, 3});
  EXPECT_EQ(*so, (Bytes{0x82, 126, 0, 5, 'S', 'O', 1, 2, 3}));
  EXPECT_EQ(longBinaryFrame("SO", Bytes(1000))->size(), 1006u);
  EXPECT_FALSE(longBinaryFrame("SO", Bytes(65534)));
}

TEST(ClientAudio, PacingAndOpusRoundTrip) {
  const std::string in = tmp("tone.wav"), out = tmp("out.wav");
  Bytes pcm;
  for (int i = 0; i < 48000; ++i) {
    const auto v = int16_t(10000 * std::sin(2 * std::numbers::pi * 1000.0 * i / 48000));
    pcm.push_back(uint8_t(v));
    pcm.push_back(uint8_t(uint16_t(v) >> 8));
  }
  const Bytes f = makeWav(1, 1, 48000, 16, pcm, false);
  std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(f.data()), f.size());
  AudioConfig config;
  AudioSender sender;
  ASSERT_EQ(sender.open(in, config, false, 0), "");
  const auto start = std::chrono::steady_clock::time_point(std::chrono::seconds(1000));
  sender.start(start);
  EXPECT_EQ(sender.dueTime(100000) - start, std::chrono::seconds(1000));
  sender.start(start);
  AudioReceiver receiver;
  ASSERT_EQ(receiver.open(out, config), "");
  int n = 0;
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const int64_t before = ts.tv_sec * 1000000000LL + ts.tv_nsec;
  while (auto frame = sender.nextDue(start + std::chrono::hours(1))) {
    ASSERT_EQ((*frame)[0], 0x82);
    ASSERT_EQ((*frame)[1], 126);
    EXPECT_LT(frame->size(), 1024u);
    EXPECT_TRUE(receiver.take(std::span(*frame).subspan(6)));
    ++n;
  }
  EXPECT_EQ(n, 100);
  EXPECT_TRUE(sender.finished());
  EXPECT_EQ(receiver.chunks(), 100u);
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const int64_t after = ts.tv_sec * 1000000000LL + ts.tv_nsec;
  std::ifstream t0f(out + ".t0");
  int64_t t0 = 0;
  t0f >> t0;
  // Sample 0 at the first chunk's arrival: after the start, before the last chunk.
  EXPECT_GE(t0, before);
  EXPECT_LE(t0, after);
  WavAudio a;
  ASSERT_EQ(parseWav(fileBytes(out), a), "");
  ASSERT_EQ(a.samples.size(), 96000u);
  int crossings = 0;
  for (size_t i = 2 * 4800; i + 2 < a.samples.size(); i += 2)
    if ((a.samples[i] < 0) != (a.samples[i + 2] < 0)) ++crossings;
  // 0.9 s of 1 kHz: 1800 crossings.
  EXPECT_NEAR(crossings, 1800, 10);
  // A packet the decoder refuses is written as a chunk of silence: the time axis holds.
  EXPECT_FALSE(receiver.take(Bytes(3, 0xFF)));
  EXPECT_EQ(receiver.errors(), 1u);
  ASSERT_EQ(parseWav(fileBytes(out), a), "");
  EXPECT_EQ(a.samples.size(), 96000u + 960u);
  fs::remove(in);
  fs::remove(out);
  fs::remove(out + ".t0");
}

}  // namespace
}  // namespace corvid::client
