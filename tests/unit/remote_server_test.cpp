// The remote server: the handshake's accept value and request lines, the client frame
// headers and their bounds, the messages to the client byte for byte, the command words,
// the CAT reply assembly, and the server thread itself on a loopback socket with a
// client written here from the frame layouts (login, wrong password, heartbeat, status and
// spectrum frames, an oversized frame, the next client).
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "core/works.h"
#include "platform/socket.h"
#include "remote/cat_link.h"
#include "remote/remote_commands.h"
#include "remote/ws_server.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

TEST(RemoteHandshake, AcceptValues) {
  // The example of RFC 6455, and a key whose SHA-1 digest holds a zero byte (its 14th).
  EXPECT_EQ(webSocketAccept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
  EXPECT_EQ(webSocketAccept("a2V5MDAwNQ=="), "iYG1zF8awWFurhAAxpiKKaZD7Zg=");
}

TEST(RemoteHandshake, SevenHeadersAndTheEmptyLine) {
  const std::vector<std::string> request = {
      "GET / HTTP/1.1\r\n",
      "Host: 10.0.0.2:6666\r\n",
      "Sec-WebSocket-Version: 13\r\n",
      "Sec-WebSocket-Protocol: chat\r\n",
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n",
      "Connection: keep-alive, Upgrade\r\n",
      "Upgrade: websocket\r\n",
      "\r\n",
  };
  HandshakeState complete;
  for (const std::string& line : request) {
    EXPECT_FALSE(complete.complete()) << line;
    takeHandshakeLine(complete, line);
  }
  EXPECT_TRUE(complete.complete());
  EXPECT_EQ(complete.key, "dGhlIHNhbXBsZSBub25jZQ==");
  // Without the "Connection" line the empty line leaves it one step short.
  HandshakeState missing;
  for (const std::string& line : request) {
    if (!line.starts_with("Connection")) takeHandshakeLine(missing, line);
  }
  EXPECT_EQ(missing.step, 7);
  EXPECT_FALSE(missing.complete());
  const std::vector<std::string> response = handshakeResponse("dGhlIHNhbXBsZSBub25jZQ==");
  ASSERT_EQ(response.size(), 5u);
  EXPECT_EQ(response[0], "HTTP/1.1 101 Switching Protocols\r\n");
  EXPECT_EQ(response[3], "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n");
  EXPECT_EQ(response[4], "Sec-WebSocket-Protocol: chat\r\n\r\n");
}

TEST(RemoteFrames, ClientHeadersAndTheReceiveBuffer) {
  struct Case {
    const char* name;
    Bytes first;
    bool taken;
    FrameForm form;
    uint32_t length;
    size_t frameBytes;
  };
  const Case cases[] = {
      {"masked text", {0x81, 10, 1, 2}, true, FrameForm::Short, 10, 16},
      {"empty text", {0x81, 0, 1, 2}, true, FrameForm::Short, 0, 6},
      {"short binary", {0x82, 60, 'S', 'T'}, true, FrameForm::Short, 60, 62},
      {"binary without a tag", {0x82, 1, 'S', 'T'}, false, FrameForm::Short, 0, 0},
      {"16-bit, fills the buffer", {0x82, 126, 0x03, 0xFC}, true, FrameForm::Long16, 1020, 1024},
      {"16-bit, one byte over", {0x82, 126, 0x03, 0xFD}, false, FrameForm::Long16, 0, 0},
      {"16-bit, 65535", {0x82, 126, 0xFF, 0xFF}, false, FrameForm::Long16, 0, 0},
      {"RFC mask flag: 32-bit form", {0x82, 0x85, 0, 0, 0, 10}, true, FrameForm::Long32, 10, 14},
      {"32-bit, 4 GB", {0x82, 127, 0xFF, 0xFF, 0xFF, 0xFF}, false, FrameForm::Long32, 0, 0},
      {"32-bit without a tag", {0x82, 127, 0, 0, 0, 1}, false, FrameForm::Long32, 0, 0},
      {"too few bytes", {0x82, 127, 0, 0}, false, FrameForm::Long32, 0, 0},
  };
  for (const Case& c : cases) {
    const auto h = frameHeader(c.first);
    ASSERT_EQ(h.has_value(), c.taken) << c.name;
    if (!h) continue;
    EXPECT_EQ(h->form, c.form) << c.name;
    EXPECT_EQ(h->length, c.length) << c.name;
    EXPECT_EQ(h->frameBytes, c.frameBytes) << c.name;
    EXPECT_LE(h->frameBytes, kReceiveBuffer) << c.name;
  }
}

TEST(RemoteFrames, MessagesToTheClient) {
  EXPECT_EQ(shortFrame("CA", bytesOf("FA00014070000;")),
            (Bytes{0x82, 16, 'C', 'A', 'F', 'A', '0', '0', '0', '1', '4', '0', '7', '0', '0', '0',
                   '0', ';'}));
  const Bytes status(58, 'x');
  const Bytes st = shortFrame("ST", status);
  ASSERT_EQ(st.size(), 62u);
  EXPECT_EQ(st[1], 60);
  // A CAT reply too long for the one-byte length goes in the 16-bit form.
  const Bytes longReply = shortFrame("CA", Bytes(150, 'y'));
  ASSERT_EQ(longReply.size(), 156u);
  EXPECT_EQ((Bytes{longReply[0], longReply[1], longReply[2], longReply[3], longReply[4]}),
            (Bytes{0x82, 126, 0, 152, 'C'}));
  // 854 bytes of spectrum: two pieces of 526 bytes, offsets 0 and 512.
  Bytes spectrum(854);
  for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<uint8_t>(i);
  const Bytes second = spectrumPiece(spectrum, 512);
  ASSERT_EQ(second.size(), 526u);
  EXPECT_EQ((Bytes(second.begin(), second.begin() + 14)),
            (Bytes{0x82, 126, 0x02, 0x0A, 'S', 'P', 0, 0, 0x03, 0x56, 0, 0, 0x02, 0x00}));
  EXPECT_EQ(second[14], static_cast<uint8_t>(512));
  EXPECT_EQ(second[14 + 341], static_cast<uint8_t>(853));
  EXPECT_EQ(second[14 + 342], 0) << "past the spectrum";
  EXPECT_EQ(audioFrame(Bytes{1, 2, 3}), (Bytes{0x82, 126, 0, 5, 'S', 'O', 1, 2, 3}));
}

TEST(RemoteFrames, PasswordsCompareWhole) {
  EXPECT_TRUE(sameSecret("bench-pass", "bench-pass"));
  EXPECT_TRUE(sameSecret("", ""));
  EXPECT_FALSE(sameSecret("bench-pass", "bench-pasS"));
  EXPECT_FALSE(sameSecret("bench", "bench-pass"));
  EXPECT_FALSE(sameSecret("bench-pass", ""));
}

TEST(CatReplyAssembly, PiecesAndLongRuns) {
  CatReplies replies;
  std::vector<std::string> out;
  auto deliver = [&](std::span<const uint8_t> r) { out.emplace_back(r.begin(), r.end()); };
  replies.take(bytesOf("FA0001"), deliver);
  EXPECT_TRUE(out.empty());
  replies.take(bytesOf("4070000;MD"), deliver);
  replies.take(bytesOf("2;"), deliver);
  EXPECT_EQ(out, (std::vector<std::string>{"FA00014070000;", "MD2;"}));
  out.clear();
  replies.take(Bytes(200, 'z'), deliver);  // dropped: no ';' in 200 bytes
  replies.take(bytesOf("ID019;"), deliver);
  EXPECT_EQ(out, (std::vector<std::string>{"ID019;"}));
}

class RemoteCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setLogSink([](platform::LogLevel, std::string_view) {});
    initSetup(w());
  }
  void TearDown() override { platform::setLogSink(nullptr); }
  Works& w() { return *works_; }
  void send(std::string_view text) {
    ::testing::internal::CaptureStderr();
    dispStat(w(), text);
    ::testing::internal::GetCapturedStderr();
  }

 private:
  testing::TempRoot root_;
  testing::InstantSleep sleep_;
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
};

TEST_F(RemoteCommands, WordsLengthsAndArguments) {
  w().set.NumAntenna = 0;
  send("VORNAN 0");
  EXPECT_EQ(w().set.NumAntenna.load(), 0) << "antenna 0 is no antenna";
  send("VORNAN 2");
  EXPECT_EQ(w().set.NumAntenna.load(), 1);
  send("VORNAN");
  EXPECT_EQ(w().set.NumAntenna.load(), 1) << "no number: no change";
  // Beyond the three outputs (found by fuzzing: INT_MAX overflowed the settings' digit).
  for (const char* beyond : {"VORNAN 4", "VORNAN 2147483647", "VORNAN 99999999999999"}) {
    send(beyond);
    EXPECT_EQ(w().set.NumAntenna.load(), 1) << beyond;
  }
  send("VORNAN 3");
  EXPECT_EQ(w().set.NumAntenna.load(), 2);

  w().set.Divide = 4;
  send("VORNFD 8");
  EXPECT_EQ(w().set.Divide.load(), 8);
  send("VORNFT01");
  EXPECT_EQ(w().set.Divide.load(), 8);
  EXPECT_EQ(w().set.text.flag(Slot::EnableFFT2), '1');
  EXPECT_EQ(w().set.text.flag(Slot::Enable1600), '0');
  send("VORNFD:1x");
  EXPECT_EQ(w().set.Divide.load(), 1) << "any separator; digits up to the first other";
  send("VORNFT02");
  EXPECT_EQ(w().set.Divide.load(), 2);
  EXPECT_EQ(w().set.text.flag(Slot::Enable1600), '1');
  send("VORNFT00");
  EXPECT_EQ(w().set.text.flag(Slot::EnableFFT2), '0');
  send("VORNFD 99999999999999");
  EXPECT_EQ(w().set.Divide.load(), INT_MAX) << "a huge number is held at the int's end";

  w().atu.attSelect = 2;
  send("VORNAT -1");
  EXPECT_EQ(w().atu.attSelect.load(), 2) << "negative: ignored";
  send("vornat 1");
  send("VORNPA1");
  send("VORNFT0");  // shorter than its word
  send(std::string("VORN\0AN 2", 9));
  EXPECT_EQ(w().atu.attSelect.load(), 2);
  EXPECT_EQ(w().set.text.flag(Slot::EnableFFT2), '0');
}

// ---- the server thread on a loopback socket ----

uint16_t freePort() {
  auto probe = platform::TcpListener::listen(0, 1, platform::ListenAddress::loopback);
  return probe.ok() ? probe->port() : 0;
}

// A client written from the frame layouts, apart from the server's code.
class Client {
 public:
  bool connect(uint16_t port) {
    auto s = platform::TcpSocket::connect("127.0.0.1", port, 2000);
    if (!s.ok()) return false;
    socket_ = std::move(s.value());
    return true;
  }
  bool send(const Bytes& bytes) { return socket_.write(bytes) == static_cast<long>(bytes.size()); }
  bool sendText(std::string_view line) { return send(bytesOf(line)); }
  // Reads until the response's empty line; the whole response.
  std::string readResponse() {
    std::string text;
    while (text.find("\r\n\r\n") == std::string::npos && text.size() < 2000) {
      uint8_t b = 0;
      if (socket_.read({&b, 1}, 3000) != 1) break;
      text += static_cast<char>(b);
    }
    return text;
  }
  bool login(const std::string& password) {
    for (const char* line :
         {"GET / HTTP/1.1\r\n", "Host: 127.0.0.1\r\n", "Sec-WebSocket-Version: 13\r\n",
          "Sec-WebSocket-Protocol: chat\r\n", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n",
          "Connection: keep-alive, Upgrade\r\n", "Upgrade: websocket\r\n", "\r\n"}) {
      if (!sendText(line)) return false;
    }
    response = readResponse();
    Bytes frame = {0x81, static_cast<uint8_t>(password.size()), 0x11, 0x22, 0x33, 0x44};
    for (size_t i = 0; i < password.size(); ++i) {
      frame.push_back(static_cast<uint8_t>(password[i] ^ frame[2 + i % 4]));
    }
    return send(frame);
  }
  // The next frame from the server (tag and data), or nothing within the time.
  std::optional<std::pair<std::string, Bytes>> next(int timeoutMs = 3000) {
    uint8_t head[4];
    if (!readExact(head, 2, timeoutMs)) return std::nullopt;
    size_t n = head[1];
    if (n == 126) {
      if (!readExact(head + 2, 2, timeoutMs)) return std::nullopt;
      n = (size_t{head[2]} << 8) | head[3];
    }
    Bytes payload(n);
    if (!readExact(payload.data(), n, timeoutMs) || n < 2) return std::nullopt;
    return std::make_pair(std::string(payload.begin(), payload.begin() + 2),
                          Bytes(payload.begin() + 2, payload.end()));
  }
  // True when the server closed the connection within the time.
  bool closed(int timeoutMs = 3000) {
    uint8_t b = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
      const long n = socket_.read({&b, 1}, 100);
      if (n < 0) return true;
    }
    return false;
  }
  std::string response;

 private:
  bool readExact(uint8_t* out, size_t n, int timeoutMs) {
    size_t done = 0;
    while (done < n) {
      const long got = socket_.read({out + done, n - done}, timeoutMs);
      if (got <= 0) return false;
      done += static_cast<size_t>(got);
    }
    return true;
  }
  platform::TcpSocket socket_;
};

class RemoteServer : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::setLogSink([this](platform::LogLevel, std::string_view line) {
      std::scoped_lock lock(logMutex_);
      log_ += std::string(line) + "\n";
    });
    initSetup(w());
    w().core.running = 1;
    w().set.text.setFlag(Slot::WebSocket, '1');
    w().set.Passphrase.set("bench-pass");
    port_ = freePort();
    ASSERT_NE(port_, 0);
    w().set.TcpPort = port_;
    server_ = std::thread([this] { Wsocket(w()); });
    // Listening once a client can connect.
    for (int i = 0; i < 100; ++i) {
      if (logHas("Listening on port")) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  void TearDown() override {
    w().core.running = 0;
    if (server_.joinable()) server_.join();
    platform::setLogSink(nullptr);
  }
  Works& w() { return *works_; }
  uint16_t port() const { return port_; }
  bool logHas(std::string_view text) {
    std::scoped_lock lock(logMutex_);
    return log_.find(text) != std::string::npos;
  }
  bool waitReady(int want) {
    for (int i = 0; i < 200; ++i) {
      if (w().remote.wsClientReady.load() == want) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::unique_ptr<Works> works_ = std::make_unique<Works>();
  uint16_t port_ = 0;
  std::thread server_;
  std::mutex logMutex_;
  std::string log_;
};

TEST_F(RemoteServer, LogsInSendsAndRefusesWhatDoesNotFit) {
  ASSERT_TRUE(logHas("Listening on port"));
  // A wrong password: the connection closes, nothing is sent.
  {
    Client client;
    ASSERT_TRUE(client.connect(port()));
    ASSERT_TRUE(client.login("wrong"));
    EXPECT_NE(client.response.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo="),
              std::string::npos)
        << client.response;
    EXPECT_TRUE(client.closed());
    EXPECT_EQ(w().remote.wsClientReady.load(), 0);
  }
  // The right one: status and spectrum reach the client, the heartbeat is answered.
  Client client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(client.login("bench-pass"));
  ASSERT_TRUE(waitReady(1));
  const Bytes status(58, 'S');
  sendWebSockStatusFrame(w(), status);
  auto frame = client.next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->first, "ST");
  EXPECT_EQ(frame->second, status);
  sendWebSockSerSpectrFrame(w(), Bytes(854, 0x40));
  for (uint32_t offset : {0u, 512u}) {
    frame = client.next();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->first, "SP");
    ASSERT_EQ(frame->second.size(), 520u);
    EXPECT_EQ((Bytes(frame->second.begin(), frame->second.begin() + 8)),
              (Bytes{0, 0, 0x03, 0x56, 0, 0, static_cast<uint8_t>(offset >> 8), 0}));
  }
  ASSERT_TRUE(client.send({0x82, 10, 'H', 'B', 1, 2, 3, 4, 5, 6, 7, 8}));
  frame = client.next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->first, "HB");
  ASSERT_EQ(frame->second.size(), 16u);
  EXPECT_EQ((Bytes(frame->second.begin() + 8, frame->second.end())),
            (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  // The audio configuration: A bitrate, B compression, C and D chunk times (us), E buffer
  // chunks; 20000 us is 960 samples at 48 kHz; the first 18 data bytes come back.
  Bytes cf = {0x82, 24, 'C', 'F', 0, 0};
  for (uint32_t v : {24000u, 1u, 5000u, 20000u, 6u}) {
    for (int shift = 24; shift >= 0; shift -= 8) cf.push_back(static_cast<uint8_t>(v >> shift));
  }
  w().remote.bufferChunks = 4;
  w().remote.playPrebuffer = -3;  // one chunk of the previous client's four counted
  ASSERT_TRUE(client.send(cf));
  frame = client.next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->first, "CF");
  EXPECT_EQ(frame->second, (Bytes(cf.begin() + 4, cf.begin() + 22)));
  EXPECT_EQ(w().remote.playChunkSamples.load(), 960);
  EXPECT_EQ(w().remote.captureChunkSamples.load(), 240);
  EXPECT_EQ(w().remote.opusBitrate.load(), 24000);
  EXPECT_EQ(w().set.AudioCompress.load(), 1);
  EXPECT_EQ(w().remote.bufferChunks.load(), 6);
  EXPECT_EQ(w().remote.audioRestart.load(), 1) << "a new buffer count restarts the playback";
  EXPECT_EQ(w().remote.playPrebuffer.load(), -5) << "the pre-buffer still filling counts to 6";
  // A CAT message without a CAT port, and garbage of a known length: the server stays.
  ASSERT_TRUE(client.send({0x82, 5, 'C', 'A', 'F', 'A', ';'}));
  ASSERT_TRUE(client.send({0x77, 4, 'z', 'z', 'z', 'z'}));
  ASSERT_TRUE(client.send({0x82, 10, 'H', 'B', 9, 9, 9, 9, 9, 9, 9, 9}));
  frame = client.next();
  ASSERT_TRUE(frame.has_value());
  EXPECT_EQ(frame->first, "HB");
  // A frame that does not fit the receive buffer: refused unread, the client cut off.
  ASSERT_TRUE(client.send({0x82, 126, 0x07, 0xD0, 'S', 'O'}));
  EXPECT_TRUE(client.closed());
  EXPECT_TRUE(waitReady(0));
  EXPECT_TRUE(logHas("frame refused"));
  // And the next client is served.
  Client next;
  ASSERT_TRUE(next.connect(port()));
  ASSERT_TRUE(next.login("bench-pass"));
  EXPECT_TRUE(waitReady(1));
}

TEST_F(RemoteServer, NothingBeforeThePasswordAndAClientThatLeavesMidHandshake) {
  {
    Client early;
    ASSERT_TRUE(early.connect(port()));
    ASSERT_TRUE(early.sendText("GET / HTTP/1.1\r\nHost: x\r\n"));
  }  // closed half way
  for (int i = 0; i < 100 && !logHas("TCP read error"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(logHas("TCP read error 0"));
  Client client;
  ASSERT_TRUE(client.connect(port()));
  ASSERT_TRUE(
      client.sendText("GET / HTTP/1.1\r\nHost: x\r\nSec-WebSocket-Version: 13\r\n"
                      "Sec-WebSocket-Protocol: chat\r\nSec-WebSocket-Key: a2V5MDAwNQ==\r\n"
                      "Connection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n\r\n"));
  EXPECT_NE(client.readResponse().find("iYG1zF8awWFurhAAxpiKKaZD7Zg="), std::string::npos);
  // A command before the password does nothing.
  w().set.Divide = 4;
  ASSERT_TRUE(client.send({0x82, 10, 'S', 'T', 'V', 'O', 'R', 'N', 'F', 'D', ' ', '7'}));
  ASSERT_TRUE(
      client.send({0x81, 10, 0, 0, 0, 0, 'b', 'e', 'n', 'c', 'h', '-', 'p', 'a', 's', 's'}));
  ASSERT_TRUE(waitReady(1));
  EXPECT_EQ(w().set.Divide.load(), 4);
  EXPECT_TRUE(logHas("message before the password"));
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(client.send({0x82, 10, 'S', 'T', 'V', 'O', 'R', 'N', 'F', 'D', ' ', '7'}));
  for (int i = 0; i < 100 && w().set.Divide.load() != 7; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(w().set.Divide.load(), 7);
}

}  // namespace
}  // namespace corvid
