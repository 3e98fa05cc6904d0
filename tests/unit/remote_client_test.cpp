// The remote client corvid-remote: handshake values against reference digests, its frames
// byte for byte, the reader of the server's stream on whole, cut and malformed input, the
// spectrum pieces, the status text built here by hand from the byte table, and whole runs
// of the client against a small fake server on the loopback interface.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/remote_protocol.h"
#include "client/remote_session.h"
#include "client/scope_picture.h"
#include "client/status_block.h"
#include "platform/socket.h"

namespace corvid {
namespace {

using namespace client;
using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes bigEndian32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// Server frames written out here, independently of the client's reader.
Bytes shortFrame(std::string_view tag, const Bytes& data) {
  return concat({{0x82, static_cast<uint8_t>(data.size() + 2)}, bytesOf(tag), data});
}
Bytes longFrame(std::string_view tag, const Bytes& data) {
  const size_t n = data.size() + 2;
  return concat(
      {{0x82, 126, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}, bytesOf(tag), data});
}
Bytes spectrumFrame(uint32_t total, uint32_t offset, const Bytes& source) {
  Bytes piece(512, 0xEE);  // past the total: no meaning
  for (size_t i = 0; i < 512 && offset + i < source.size(); ++i) piece[i] = source[offset + i];
  return longFrame("SP", concat({bigEndian32(total), bigEndian32(offset), piece}));
}

// A status text laid out by the byte table: 40 m, EXT IO, attenuator step 2, antenna 2
// (digit 1), amplifier operating, tuner in line, no tune, SWR 1.50, 100 W forward, 5 W in,
// 35.2 degrees, 48.1 V, 12.3 A, bank 2, newest error 1, versions, tune byte 0.
Bytes statusText() {
  Bytes text = bytesOf("40m 1210T0001.50100.00005.0035.248.112.302");
  text.push_back(2);  // error 1 + 1
  const Bytes versions = bytesOf("01.046 002.011");
  text.insert(text.end(), versions.begin(), versions.end());
  text.push_back(0);
  return text;
}

TEST(RemoteClientHandshake, AcceptValuesMatchReferenceDigests) {
  // Expected values from a reference SHA-1 and Base64 (openssl sha1 -binary | base64); the
  // digests of the last two keys hold a zero byte (at byte 7, and as the last byte).
  struct Case {
    const char* key;
    const char* accept;
  };
  const Case cases[] = {
      {"dGhlIHNhbXBsZSBub25jZQ==", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
      {"Y29ydmlkLWtleS0wMDAzOA==", "WqoPIgiYowBVA3m3MRGJD2cz96U="},
      {"Y29ydmlkLWtleS0wMDAxNw==", "F0Rpi+8pXzneyP1bMUxdon3ZHAA="},
  };
  for (const auto& c : cases) EXPECT_EQ(acceptValue(c.key), c.accept) << c.key;

  const std::string key = newKey();
  EXPECT_EQ(key.size(), 24u);  // 16 bytes in Base64
  EXPECT_NE(key, newKey());
}

TEST(RemoteClientHandshake, RequestHasTheServersHeaderLinesInOrder) {
  EXPECT_EQ(upgradeRequest("192.168.1.20", 6666, "dGhlIHNhbXBsZSBub25jZQ=="),
            "GET / HTTP/1.1\r\n"
            "Host: 192.168.1.20:6666\r\n"
            "Sec-WebSocket-Version: 13\r\n"
            "Sec-WebSocket-Protocol: chat\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Connection: keep-alive, Upgrade\r\n"
            "Upgrade: websocket\r\n"
            "\r\n");
}

TEST(RemoteClientHandshake, ResponseVerdicts) {
  const std::string key = "dGhlIHNhbXBsZSBub25jZQ==";
  const std::string good =
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
      "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
      "Sec-WebSocket-Protocol: chat\r\n\r\n";
  struct Case {
    std::string name;
    std::string received;
    ResponseVerdict verdict;
    size_t headerBytes;
  };
  const Case cases[] = {
      {"the server's answer", good, ResponseVerdict::accepted, good.size()},
      {"a frame right behind it", good + "\x82\x04STab", ResponseVerdict::accepted, good.size()},
      {"cut before the empty line", good.substr(0, good.size() - 2), ResponseVerdict::incomplete,
       0},
      {"nothing yet", "", ResponseVerdict::incomplete, 0},
      {"lower case name, blanks",
       "HTTP/1.1 101\nsec-websocket-accept:   s3pPLMBiTxaQ9kYGzzhZRbK+xOo= \n\n",
       ResponseVerdict::accepted, 0},
      {"refused", "HTTP/1.1 403 Forbidden\r\n\r\n", ResponseVerdict::notSwitching, 0},
      {"101 is a prefix only",
       "HTTP/1.1 1010 X\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n\r\n",
       ResponseVerdict::notSwitching, 0},
      {"no accept", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n\r\n",
       ResponseVerdict::missingAccept, 0},
      {"accept of another key",
       "HTTP/1.1 101 Switching Protocols\r\nSec-WebSocket-Accept: "
       "WqoPIgiYowBVA3m3MRGJD2cz96U=\r\n\r\n",
       ResponseVerdict::wrongAccept, 0},
      {"endless header", "HTTP/1.1 101\r\n" + std::string(5000, 'x'), ResponseVerdict::tooLong, 0},
  };
  for (const auto& c : cases) {
    const ResponseCheck check = checkUpgradeResponse(c.received, key);
    EXPECT_EQ(check.verdict, c.verdict) << c.name;
    if (c.headerBytes != 0) {
      EXPECT_EQ(check.headerBytes, c.headerBytes) << c.name;
    }
  }
}

TEST(RemoteClientFrames, ClientFramesByteForByte) {
  struct Case {
    std::string name;
    std::optional<Bytes> made;
    std::optional<Bytes> expected;
  };
  const std::array<uint8_t, 4> mask{0x01, 0x02, 0x04, 0x80};
  const Case cases[] = {
      {"password", passwordFrame("secret", mask),
       Bytes{0x81, 6, 0x01, 0x02, 0x04, 0x80, 's' ^ 0x01, 'e' ^ 0x02, 'c' ^ 0x04, 'r' ^ 0x80,
             'e' ^ 0x01, 't' ^ 0x02}},
      {"empty password", passwordFrame("", mask), Bytes{0x81, 0, 0x01, 0x02, 0x04, 0x80}},
      // 125 bytes still fit the length byte, without the mask bit.
      {"longest password", passwordFrame(std::string(125, 'p'), {0, 0, 0, 0}),
       concat({{0x81, 125, 0, 0, 0, 0}, Bytes(125, 'p')})},
      {"password too long", passwordFrame(std::string(126, 'p'), mask), std::nullopt},
      {"command word", textMessage("ST", "VORNAN 2"), bytesOf("\x82\x0ASTVORNAN 2")},
      {"CAT command", textMessage("CA", "FA;"),
       bytesOf("\x82\x05"
               "CAFA;")},
      {"heartbeat", heartbeatFrame(0x01020304, 0x000A0B0C),
       Bytes{0x82, 10, 'H', 'B', 1, 2, 3, 4, 0, 0x0A, 0x0B, 0x0C}},
      {"longest data", textMessage("CA", std::string(123, 'x')),
       concat({{0x82, 125, 'C', 'A'}, Bytes(123, 'x')})},
      {"data too long", textMessage("CA", std::string(124, 'x')), std::nullopt},
      {"tag of three letters", textMessage("STX", "a"), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(c.made, c.expected) << c.name;
}

// What the reader gives for a byte stream fed in one piece: each frame as "TAG:n" (n data
// bytes), "skip", then the state it stops in.
std::string readAll(const Bytes& stream, size_t* left = nullptr) {
  FrameReader reader;
  reader.feed(stream);
  std::string seen;
  for (;;) {
    ServerFrame frame;
    const ReadResult result = reader.next(frame);
    if (result == ReadResult::frame) {
      seen += frame.tag + ":" + std::to_string(frame.data.size()) + " ";
    } else if (result == ReadResult::skipped) {
      seen += "skip ";
    } else {
      seen += result == ReadResult::needMore ? "more" : "broken";
      if (left != nullptr) *left = reader.buffered();
      return seen;
    }
  }
}

TEST(RemoteClientFrames, ReaderSplitsTheServersStream) {
  struct Case {
    std::string name;
    Bytes stream;
    std::string seen;
    size_t left;  // bytes kept for the next feed
  };
  const Bytes hb = concat({bigEndian32(7), bigEndian32(8), bigEndian32(1), bigEndian32(2)});
  const Case cases[] = {
      {"status", shortFrame("ST", statusText()), "ST:58 more", 0},
      {"back to back",
       concat({shortFrame("CA", bytesOf("FA00014043168;")), shortFrame("HB", hb),
               longFrame("SO", Bytes(900, 1))}),
       "CA:14 HB:16 SO:900 more", 0},
      {"empty data", shortFrame("PA", {}), "PA:0 more", 0},
      {"unknown tag, length known",
       concat({shortFrame("ZZ", Bytes(5)), shortFrame("CF", Bytes(18))}), "ZZ:5 CF:18 more", 0},
      {"cut short frame", Bytes{0x82, 60, 'S', 'T', '0', '1'}, "more", 6},
      {"cut 16-bit length", Bytes{0x82, 126, 0x02}, "more", 3},
      {"declared 65535, few bytes", concat({{0x82, 126, 0xFF, 0xFF}, bytesOf("SP"), Bytes(100)}),
       "more", 106},
      {"no room for a tag", concat({{0x82, 0}, {0x82, 1, 'S'}, longFrame("CA", {})}),
       "skip skip CA:0 more", 0},
      {"16-bit length 1", concat({{0x82, 126, 0, 1, 'S'}, shortFrame("ST", Bytes(3))}),
       "skip ST:3 more", 0},
      {"a text frame", concat({shortFrame("ST", Bytes(2)), {0x81, 2, 'h', 'i'}}), "ST:2 broken", 4},
      {"64-bit length code", Bytes{0x82, 127, 0, 0, 0, 0, 0, 0, 0, 4, 'S', 'T', 1, 2}, "broken",
       14},
      {"masked length", Bytes{0x82, 0x84, 1, 2, 3, 4, 'S', 'T', 1, 2}, "broken", 10},
  };
  for (const auto& c : cases) {
    size_t left = 999;
    EXPECT_EQ(readAll(c.stream, &left), c.seen) << c.name;
    EXPECT_EQ(left, c.left) << c.name;
  }
}

TEST(RemoteClientFrames, FramesFedAByteAtATimeComeOutWhole) {
  Bytes source(854);
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7);
  const Bytes stream = concat({spectrumFrame(854, 0, source), shortFrame("ST", statusText()),
                               spectrumFrame(854, 512, source)});
  FrameReader reader;
  SpectrumAssembler assembler;
  std::vector<std::string> tags;
  for (const uint8_t byte : stream) {
    reader.feed(std::span(&byte, 1));
    ServerFrame frame;
    while (reader.next(frame) == ReadResult::frame) {
      tags.push_back(frame.tag);
      if (frame.tag != "SP") continue;
      EXPECT_TRUE(frame.longForm);
      EXPECT_EQ(frame.wireBytes, 526u);
      const auto piece = decodeSpectrumPiece(frame.data);
      ASSERT_TRUE(piece);
      assembler.add(*piece);
    }
  }
  EXPECT_EQ(tags, (std::vector<std::string>{"SP", "ST", "SP"}));
  EXPECT_EQ(reader.buffered(), 0u);
  EXPECT_EQ(assembler.completed(), 1u);
  EXPECT_EQ(assembler.last(), source);  // the 170 bytes past the total are dropped
}

TEST(RemoteClientSpectrum, PiecesOutOfStepOrMalformedAreRefused) {
  const Bytes source(854, 100);
  const auto piece = [&](uint32_t total, uint32_t offset) {
    const Bytes frame = spectrumFrame(total, offset, source);
    return Bytes(frame.begin() + 6, frame.end());  // the data after header and tag
  };
  using Step = SpectrumAssembler::Step;
  struct Case {
    std::string name;
    std::vector<Bytes> pieces;
    std::vector<std::optional<Step>> steps;  // nullopt: the piece does not decode
    uint64_t completed;
  };
  const Case cases[] = {
      {"in order", {piece(854, 0), piece(854, 512)}, {Step::partial, Step::complete}, 1},
      {"one piece enough", {piece(300, 0)}, {Step::complete}, 1},
      {"second piece first", {piece(854, 512), piece(854, 0)}, {Step::rejected, Step::partial}, 0},
      {"piece lost", {piece(1706, 0), piece(1706, 1024)}, {Step::partial, Step::rejected}, 0},
      {"total changes", {piece(854, 0), piece(1706, 512)}, {Step::partial, Step::rejected}, 0},
      {"restart at 0",
       {piece(854, 0), piece(854, 0), piece(854, 512)},
       {Step::partial, Step::partial, Step::complete},
       1},
      {"total 0", {piece(0, 0)}, {std::nullopt}, 0},
      {"offset past total", {piece(854, 1024)}, {std::nullopt}, 0},
      {"absurd total", {piece(0x7FFFFFFF, 0)}, {std::nullopt}, 0},
      {"header cut", {Bytes{0, 0, 3, 0x56, 0, 0}}, {std::nullopt}, 0},
      {"no level bytes", {concat({bigEndian32(854), bigEndian32(0)})}, {std::nullopt}, 0},
  };
  for (const auto& c : cases) {
    SpectrumAssembler assembler;
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      const auto decoded = decodeSpectrumPiece(c.pieces[i]);
      ASSERT_EQ(decoded.has_value(), c.steps[i].has_value()) << c.name << " piece " << i;
      if (decoded) {
        EXPECT_EQ(assembler.add(*decoded), *c.steps[i]) << c.name << " piece " << i;
      }
    }
    EXPECT_EQ(assembler.completed(), c.completed) << c.name;
  }
}

TEST(RemoteClientSpectrum, PictureColumnsRiseToTheirLevel) {
  // -30 dB (byte 162) tops out 70 rows below +40 dB; -192 dB (byte 0) stays below the
  // picture.
  const Bytes spectrum{162, 0};
  const Bytes pixels = drawSpectrum(spectrum);
  ASSERT_EQ(pixels.size(), 2u * kSpectrumPictureHeight * 3);
  const auto pixel = [&](int row, int column) {
    const size_t at = (static_cast<size_t>(row) * 2 + column) * 3;
    return Bytes(pixels.begin() + at, pixels.begin() + at + 3);
  };
  const Bytes trace = pixel(70, 0);
  EXPECT_NE(pixel(69, 0), trace);
  EXPECT_NE(pixel(71, 0), trace);
  EXPECT_EQ(pixel(71, 0), pixel(199, 0));  // filled down to the bottom
  EXPECT_NE(pixel(71, 0), pixel(71, 1));
  EXPECT_EQ(pixel(199, 1), pixel(150, 1));  // background only
}

TEST(RemoteClientStatus, HandBuiltTextDecodesByTheByteTable) {
  const StatusBlock s = decodeStatus(statusText());
  EXPECT_EQ(s.length, 58u);
  EXPECT_EQ(s.band, "40m");
  EXPECT_EQ(s.frequencySource, FrequencySource::extIo);
  EXPECT_EQ(s.attenuatorStep, 2);
  EXPECT_EQ(s.antenna, 2);
  EXPECT_EQ(s.ampBypassed, false);
  EXPECT_EQ(s.tuner, TunerState::inLine);
  EXPECT_EQ(s.tuning, false);
  EXPECT_EQ(s.swr, 1.5);
  EXPECT_EQ(s.forwardW, 100.0);
  EXPECT_EQ(s.inputW, 5.0);
  EXPECT_EQ(s.temperatureC, 35.2);
  EXPECT_EQ(s.supplyV, 48.1);
  EXPECT_EQ(s.currentA, 12.3);
  EXPECT_EQ(s.bank, 2);
  EXPECT_EQ(newestError(s), 1);
  EXPECT_EQ(s.softwareVersion, "01.046");
  EXPECT_EQ(s.ampFirmware, "002.011");
  EXPECT_EQ(s.tuningFlag, false);

  const std::string shown = formatStatus(s);
  for (const char* line :
       {"  band: 40m\n", "  frequency source: EXT IO transceiver\n", "  forward power: 100.00 W\n",
        "  SWR: 1.50\n", "  supply voltage: 48.1 V\n", "  newest error: 1 HI SWR error\n",
        "  attenuator: 3 dB (step 2)\n", "  tuner: in line\n", "  amplifier firmware: 002.011\n"}) {
    EXPECT_NE(shown.find(line), std::string::npos) << line << "in\n" << shown;
  }
}

TEST(RemoteClientStatus, EdgesOfTheText) {
  // Each case changes bytes of the hand-built text at a position.
  struct Case {
    std::string name;
    size_t at;
    Bytes bytes;
    std::function<void(const StatusBlock&)> check;
  };
  const Case cases[] = {
      {"no band", 0, bytesOf("----"), [](auto& s) { EXPECT_EQ(s.band, ""); }},
      {"FT-817 source", 4, bytesOf("2"),
       [](auto& s) { EXPECT_EQ(s.frequencySource, FrequencySource::ft817); }},
      {"unknown source", 4, bytesOf("x"), [](auto& s) { EXPECT_FALSE(s.frequencySource); }},
      {"step 4 does not exist", 5, bytesOf("4"), [](auto& s) { EXPECT_FALSE(s.attenuatorStep); }},
      {"bypassed, no tuner, tuning", 7, bytesOf("1N1"),
       [](auto& s) {
         EXPECT_EQ(s.ampBypassed, true);
         EXPECT_EQ(s.tuner, TunerState::notInstalled);
         EXPECT_EQ(s.tuning, true);
       }},
      {"SWR capped", 10, bytesOf("100.00"), [](auto& s) { EXPECT_EQ(s.swr, 100.0); }},
      // 1234.56 W does not fit its six places: the next field cut its tail.
      {"forward cut", 16, bytesOf("1234.5"), [](auto& s) { EXPECT_EQ(s.forwardW, 1234.5); }},
      {"101 degrees cut", 28, bytesOf("101."), [](auto& s) { EXPECT_EQ(s.temperatureC, 101.0); }},
      {"voltage with a blank", 32, bytesOf(" 0.0"), [](auto& s) { EXPECT_EQ(s.supplyV, 0.0); }},
      {"garbage number", 22, bytesOf("5.0x00"), [](auto& s) { EXPECT_FALSE(s.inputW); }},
      {"no error", 42, bytesOf("0"), [](auto& s) { EXPECT_EQ(newestError(s), -1); }},
      {"error 27", 42, Bytes{28},
       [](auto& s) {
         EXPECT_EQ(newestError(s), 27);
         EXPECT_NE(formatStatus(s).find("newest error: 27 Auto Tune Low Pwr"), std::string::npos);
       }},
      {"unknown error code", 42, Bytes{200},
       [](auto& s) {
         EXPECT_EQ(newestError(s), 199);
         EXPECT_NE(formatStatus(s).find("unknown code 200"), std::string::npos);
       }},
      {"short amplifier firmware", 50, Bytes{0, 0, 0, 0, 0, 0, 0},
       [](auto& s) {
         EXPECT_EQ(s.softwareVersion, "01.046");
         EXPECT_EQ(s.ampFirmware, "");
       }},
      {"tuning byte", 57, Bytes{1}, [](auto& s) { EXPECT_EQ(s.tuningFlag, true); }},
      {"tuning byte not 0 or 1", 57, bytesOf("1"), [](auto& s) { EXPECT_FALSE(s.tuningFlag); }},
  };
  for (const auto& c : cases) {
    Bytes text = statusText();
    std::copy(c.bytes.begin(), c.bytes.end(), text.begin() + static_cast<long>(c.at));
    SCOPED_TRACE(c.name);
    c.check(decodeStatus(text));
  }
}

TEST(RemoteClientStatus, AShortTextKeepsOnlyTheFieldsItHolds) {
  const Bytes full = statusText();
  const StatusBlock s = decodeStatus(std::span(full).first(30));
  EXPECT_EQ(s.length, 30u);
  EXPECT_EQ(s.inputW, 5.0);      // bytes 22-27 are there
  EXPECT_FALSE(s.temperatureC);  // bytes 28-31 are not
  EXPECT_FALSE(s.errorCode);
  EXPECT_FALSE(s.softwareVersion);
  EXPECT_FALSE(s.tuningFlag);
  const StatusBlock none = decodeStatus({});
  EXPECT_FALSE(none.band);
  EXPECT_NE(formatStatus(none).find("  band: ?\n"), std::string::npos);
}

TEST(RemoteClientParameters, FrequencyAndFlagsOfTheRecord) {
  struct Case {
    std::string name;
    Bytes payload;
    std::optional<uint32_t> hz;
    bool vfoB;
    std::optional<bool> transmitting;
  };
  const Case cases[] = {
      {"digit characters",
       {0x00, 0x30, 0x30, 0x3D, 0x36, 0x34, 0x38, 0x32, 0x30},
       14043168,
       false,
       std::nullopt},
      {"bare digits, VFO B, transmitting",
       {0x10, 0, 0, 13, 6, 4, 8, 2, 0, 0xC0},
       14043168,
       true,
       true},
      {"byte 9 without its marker bit",
       {0x00, 0, 0, 13, 6, 4, 8, 2, 0, 0x40},
       14043168,
       false,
       std::nullopt},
      {"receiving", {0x00, 0, 0, 13, 6, 4, 8, 2, 0, 0x80}, 14043168, false, false},
      {"not a digit",
       {0x00, 0x30, 0x30, 0x41, 0x36, 0x34, 0x38, 0x32, 0x30},
       std::nullopt,
       false,
       std::nullopt},
      {"too short", {0x00, 0x30, 0x30}, std::nullopt, false, std::nullopt},
  };
  for (const auto& c : cases) {
    const auto p = decodeParameters(c.payload);
    ASSERT_EQ(p.has_value(), c.hz.has_value()) << c.name;
    if (!p) continue;
    EXPECT_EQ(p->frequencyHz, *c.hz) << c.name;
    EXPECT_EQ(p->vfoB, c.vfoB) << c.name;
    EXPECT_EQ(p->transmitting, c.transmitting) << c.name;
  }
}

TEST(RemoteClientArguments, CommandLines) {
  struct Case {
    std::vector<std::string> arguments;
    bool ok;
    std::string host;
    uint16_t port;
  };
  const Case cases[] = {
      {{"192.168.1.20", "--password", "p"}, true, "192.168.1.20", 6666},
      {{"localhost:7000", "--password", "p", "--once"}, true, "127.0.0.1", 7000},
      {{"10.0.0.1:6666", "--password", "", "--send", "VORNAN 2", "--send", "VORNRE"},
       true,
       "10.0.0.1",
       6666},
      {{"192.168.1.20"}, false, "", 0},                  // no password
      {{"--password", "p"}, false, "", 0},               // no host
      {{"amp.local", "--password", "p"}, false, "", 0},  // names are not resolved
      {{"192.168.1.256", "--password", "p"}, false, "", 0},
      {{"192.168.1", "--password", "p"}, false, "", 0},
      {{"192.168.1.20:0", "--password", "p"}, false, "", 0},
      {{"192.168.1.20:70000", "--password", "p"}, false, "", 0},
      {{"192.168.1.20:", "--password", "p"}, false, "", 0},
      {{"192.168.1.20", "--password"}, false, "", 0},
      {{"192.168.1.20", "--password", "p", "--for", "0"}, false, "", 0},
      {{"192.168.1.20", "--password", "p", "--count", "x"}, false, "", 0},
      {{"192.168.1.20", "--password", "p", "--bogus"}, false, "", 0},
      {{"192.168.1.20", "--password", std::string(126, 'p')}, false, "", 0},
      {{"192.168.1.20", "--password", "p", "--send", std::string(124, 'w')}, false, "", 0},
  };
  for (const auto& c : cases) {
    const ParsedArguments parsed = parseArguments(c.arguments);
    ASSERT_EQ(parsed.options.has_value(), c.ok) << c.arguments[0] << " " << parsed.error;
    if (!c.ok) {
      EXPECT_FALSE(parsed.error.empty());
      continue;
    }
    EXPECT_EQ(parsed.options->host, c.host);
    EXPECT_EQ(parsed.options->port, c.port);
  }
  const auto parsed =
      parseArguments(std::vector<std::string>{"1.2.3.4", "--password", "x", "--send", "A", "--send",
                                              "B", "--count-frames", "--for", "2.5"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->sendWords, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(parsed.options->stats);
  EXPECT_EQ(parsed.options->forSeconds, 2.5);
}

// A one-client server on the loopback interface that speaks the amplifier's side of the
// link as written out in this test, records what the client sent, and misbehaves on
// request.
enum class Behaviour { normal, otherPassword, wrongAccept, notSwitching, dropAfterStatus, junk };

class FakeServer {
 public:
  explicit FakeServer(Behaviour behaviour) : behaviour_(behaviour) {
    auto listener = platform::TcpListener::listen(0, 1, platform::ListenAddress::loopback);
    EXPECT_TRUE(listener.ok());
    listener_ = std::move(listener.value());
    thread_ = std::thread([this] {
      serve();
      socket_ = platform::TcpSocket();  // closing is the server's only answer to some faults
    });
  }
  ~FakeServer() { join(); }
  uint16_t port() const { return listener_.port(); }
  std::string request() {
    std::scoped_lock lock(mutex_);
    return request_;
  }
  std::string password() {
    std::scoped_lock lock(mutex_);
    return password_;
  }
  // The client's binary frames as "TAG data" (a heartbeat as "HB" and its length).
  std::vector<std::string> received() {
    std::scoped_lock lock(mutex_);
    return received_;
  }
  void join() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void write(const Bytes& bytes) { socket_.write(bytes); }

  // Reads more of the client's bytes into in_; false once it has gone.
  bool pull(int timeoutMs) {
    uint8_t buffer[512];
    const long n = socket_.read(buffer, timeoutMs);
    if (n < 0) return false;
    in_.insert(in_.end(), buffer, buffer + n);
    return true;
  }

  void serve() {
    auto accepted = listener_.accept(10000);
    if (!accepted.ok()) return;
    socket_ = std::move(accepted.value());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !pull(50)) return;
      text.assign(in_.begin(), in_.end());
    }
    const size_t headerEnd = text.find("\r\n\r\n") + 4;
    in_.erase(in_.begin(), in_.begin() + static_cast<long>(headerEnd));
    {
      std::scoped_lock lock(mutex_);
      request_ = text.substr(0, headerEnd);
    }
    const std::string keyLine = "Sec-WebSocket-Key: ";
    const size_t at = text.find(keyLine) + keyLine.size();
    const std::string key = text.substr(at, text.find("\r\n", at) - at);
    if (behaviour_ == Behaviour::notSwitching) {
      write(bytesOf("HTTP/1.1 400 Bad Request\r\n\r\n"));
      return;
    }
    const std::string accept = acceptValue(behaviour_ == Behaviour::wrongAccept ? key + "x" : key);
    write(
        bytesOf("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\n"
                "Connection: Upgrade\r\nSec-WebSocket-Accept: " +
                accept + "\r\nSec-WebSocket-Protocol: chat\r\n\r\n"));

    // The password: 0x81, n, mask, n masked bytes.
    while (in_.size() < 2 || in_.size() < 6u + in_[1]) {
      if (std::chrono::steady_clock::now() > deadline || !pull(50)) return;
    }
    ASSERT_EQ(in_[0], 0x81);
    std::string password;
    for (size_t i = 0; i < in_[1]; ++i) password += static_cast<char>(in_[6 + i] ^ in_[2 + i % 4]);
    in_.erase(in_.begin(), in_.begin() + 6 + in_[1]);
    {
      std::scoped_lock lock(mutex_);
      password_ = password;
    }
    if (behaviour_ == Behaviour::otherPassword || password != "secret") return;  // no answer

    const Bytes status = shortFrame("ST", statusText());
    write(status);
    if (behaviour_ == Behaviour::dropAfterStatus) return;
    if (behaviour_ == Behaviour::junk) {
      write(Bytes{0x55, 0x10, 'S', 'T'});
      pull(2000);  // until the client leaves
      return;
    }
    Bytes spectrum(854);
    for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<uint8_t>(60 + i % 120);
    write(concat({spectrumFrame(854, 0, spectrum), spectrumFrame(854, 512, spectrum),
                  shortFrame("PA", {0x00, 0x30, 0x30, 0x3D, 0x36, 0x34, 0x38, 0x32, 0x30})}));
    auto nextStatus = std::chrono::steady_clock::now();
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      if (std::chrono::steady_clock::now() >= nextStatus) {
        write(status);
        nextStatus += std::chrono::milliseconds(40);
      }
      if (!pull(10)) return;  // the client has gone
      // Binary client frames: 0x82, n, then n bytes of tag and data.
      while (in_.size() >= 2 && in_.size() >= 2u + in_[1]) {
        EXPECT_EQ(in_[0], 0x82);
        const std::string tag(in_.begin() + 2, in_.begin() + 4);
        const Bytes data(in_.begin() + 4, in_.begin() + 2 + in_[1]);
        in_.erase(in_.begin(), in_.begin() + 2 + in_[1]);
        std::string seen = tag + " " + std::string(data.begin(), data.end());
        if (tag == "HB") {
          seen = "HB " + std::to_string(data.size());
          write(shortFrame("HB", concat({bigEndian32(1700000000), bigEndian32(5), data})));
        } else if (tag == "CA") {
          const std::string command(data.begin(), data.end());
          write(shortFrame("CA", bytesOf(command == "FA;" ? "FA00014043168;" : "?;")));
        }
        std::scoped_lock lock(mutex_);
        received_.push_back(seen);
      }
    }
  }

  Behaviour behaviour_;
  platform::TcpListener listener_;
  platform::TcpSocket socket_;
  Bytes in_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string request_;
  std::string password_;
  std::vector<std::string> received_;
  std::thread thread_;
};

struct ClientRun {
  int exit = -1;
  std::string out;
  std::string err;
};

ClientRun runAgainst(uint16_t port, std::vector<std::string> extra, int inputFd = -1) {
  std::vector<std::string> arguments{"127.0.0.1:" + std::to_string(port), "--password", "secret"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  std::ostringstream out;
  std::ostringstream err;
  ClientRun run;
  run.exit = runRemote(arguments, ClientStreams{out, err, inputFd, nullptr});
  run.out = out.str();
  run.err = err.str();
  return run;
}

TEST(RemoteClientRun, LogsInSendsWordsInOrderAndPrintsTheStatus) {
  const auto picture = std::filesystem::temp_directory_path() /
                       ("remote_client_test_" + std::to_string(::getpid()) + ".png");
  FakeServer server(Behaviour::normal);
  const ClientRun run =
      runAgainst(server.port(), {"--send", "VORNAN 2", "--send", "VORNAT 1", "--once", "--stats",
                                 "--spectrum", picture.string()});
  server.join();
  EXPECT_EQ(run.exit, 0) << run.err;
  const std::string request = server.request();
  const std::string key = request.substr(request.find("Key: ") + 5, 24);
  EXPECT_EQ(request, upgradeRequest("127.0.0.1", server.port(), key));
  EXPECT_EQ(server.password(), "secret");
  std::vector<std::string> words;
  bool heartbeat = false;
  for (const auto& frame : server.received()) {
    if (frame.starts_with("ST ")) words.push_back(frame);
    if (frame == "HB 8") heartbeat = true;
  }
  EXPECT_EQ(words, (std::vector<std::string>{"ST VORNAN 2", "ST VORNAT 1"}));
  EXPECT_TRUE(heartbeat);

  // One block (--once), then the summary.
  EXPECT_EQ(run.out.find("status\n"), 0u) << run.out;
  EXPECT_EQ(run.out.find("status\n", 1), std::string::npos);
  for (const char* line : {"  band: 40m\n", "  antenna: 2\n", "  current: 12.3 A\n",
                           "  transceiver: 14043168 Hz, VFO A\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "in\n" << run.out;
  }
  const size_t summary = run.out.find("frames ST=");
  ASSERT_NE(summary, std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" SP=2 CA=0 ", summary), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" PA=1 SO=0 CF=0 other=0 bad=0 spectra=1 ", summary), std::string::npos);

  // The picture: a PNG 854 wide and 200 high (signature, then the IHDR chunk).
  std::ifstream file(picture, std::ios::binary);
  Bytes head(24);
  ASSERT_TRUE(file.read(reinterpret_cast<char*>(head.data()), 24)) << picture;
  EXPECT_EQ(head, concat({{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
                          bigEndian32(13),
                          bytesOf("IHDR"),
                          bigEndian32(854),
                          bigEndian32(200)}));
  std::filesystem::remove(picture);
}

TEST(RemoteClientRun, RelaysCatLinesAndPrintsEachReply) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string lines = "FA\r\n\nIF;\nFA";  // the last line without its line feed
  ASSERT_EQ(::write(fds[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
  ::close(fds[1]);
  FakeServer server(Behaviour::normal);
  const ClientRun run = runAgainst(server.port(), {"--cat"}, fds[0]);
  server.join();
  ::close(fds[0]);
  EXPECT_EQ(run.exit, 0) << run.err;
  std::vector<std::string> cat;
  for (const auto& frame : server.received()) {
    if (frame.starts_with("CA ")) cat.push_back(frame);
  }
  EXPECT_EQ(cat, (std::vector<std::string>{"CA FA;", "CA IF;", "CA FA;"}));
  EXPECT_NE(run.out.find("cat: FA00014043168;\ncat: ?;\ncat: FA00014043168;\n"), std::string::npos)
      << run.out;
}

TEST(RemoteClientRun, FailuresEndWithTheirOwnExitStatusAndMessage) {
  struct Case {
    Behaviour behaviour;
    ExitCode exit;
    std::string message;
  };
  const Case cases[] = {
      {Behaviour::otherPassword, ExitCode::passwordRefused,
       "password refused (the server closed the connection)"},
      {Behaviour::wrongAccept, ExitCode::handshakeFailed, "does not match our key"},
      {Behaviour::notSwitching, ExitCode::handshakeFailed, "HTTP/1.1 400 Bad Request"},
      {Behaviour::dropAfterStatus, ExitCode::connectionLost, "connection lost"},
      {Behaviour::junk, ExitCode::brokenStream, "connection broken: unknown frame type 0x55"},
  };
  for (const auto& c : cases) {
    FakeServer server(c.behaviour);
    const ClientRun run = runAgainst(server.port(), {"--stats"});
    server.join();
    EXPECT_EQ(run.exit, static_cast<int>(c.exit)) << c.message << "\n" << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("frames ST="), std::string::npos) << run.out;
  }

  // Nobody listens: the port of a listener that has been closed.
  uint16_t port = 0;
  {
    auto listener = platform::TcpListener::listen(0, 1, platform::ListenAddress::loopback);
    ASSERT_TRUE(listener.ok());
    port = listener->port();
  }
  const ClientRun refused = runAgainst(port, {});
  EXPECT_EQ(refused.exit, static_cast<int>(ExitCode::noConnection));
  EXPECT_NE(refused.err.find("connection refused"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace corvid
