// Remote operation of the real controller on the bench, seen from corvid-remote (run as
// the program it is) and from a raw client written here from the frame layouts: a wrong
// password refused, a login with status and spectrum frames, command words reaching the
// amplifier line, a frame too long for the receive buffer and garbage refused, a client
// that goes silent dropped after 12 s, and the next client served each time.
//
// One start of the controller (about 14 s) serves every check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "sim/child_process.h"
#include "sim/extio_sim.h"
#include "sim/scenarios.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"
#include "tests/bench/remote_client_run.h"

namespace corvid::bench::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr const char* kPassword = "bench-pass";

// A number of the summary line ("frames ST=120 SP=40 ..."), -1 when missing.
long summaryValue(const std::string& text, const std::string& key) {
  const size_t line = text.rfind("frames ");
  if (line == std::string::npos) return -1;
  const size_t at = text.find(" " + key + "=", line);
  if (at == std::string::npos) return -1;
  return std::strtol(text.c_str() + at + key.size() + 2, nullptr, 10);
}

// A client of our own, for what corvid-remote would never send.
class RawClient {
 public:
  bool loginTo(uint16_t port) {
    auto s = platform::TcpSocket::connect("127.0.0.1", port, 2000);
    if (!s.ok()) return false;
    socket_ = std::move(s.value());
    const std::string request =
        "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nSec-WebSocket-Version: 13\r\n"
        "Sec-WebSocket-Protocol: chat\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
        "Connection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n\r\n";
    if (!send(Bytes(request.begin(), request.end()))) return false;
    std::string response;
    while (response.find("\r\n\r\n") == std::string::npos && response.size() < 2000) {
      uint8_t b = 0;
      if (socket_.read({&b, 1}, 5000) != 1) return false;
      response += static_cast<char>(b);
    }
    if (response.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=") == std::string::npos) return false;
    const std::string password = kPassword;
    Bytes frame = {0x81, static_cast<uint8_t>(password.size()), 7, 0, 7, 0};
    for (size_t i = 0; i < password.size(); ++i) {
      frame.push_back(static_cast<uint8_t>(password[i] ^ frame[2 + i % 4]));
    }
    return send(frame);
  }
  bool send(const Bytes& bytes) { return socket_.write(bytes) == static_cast<long>(bytes.size()); }
  // True once the server has closed the connection (frames before that are skipped).
  bool closedWithin(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::array<uint8_t, 4096> sink{};
    while (std::chrono::steady_clock::now() < until) {
      if (socket_.read(sink, 100) < 0) return true;
    }
    return false;
  }

 private:
  platform::TcpSocket socket_;
};

TEST(RemoteBench, LoginCommandsAndClientsThatMisbehave) {
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  ASSERT_TRUE(run.prepared());
  const uint16_t port = freeTcpPort();
  ASSERT_NE(port, 0);
  run.writeFile("/opt/set/setup.txt", withValues(goldenSetup(), {{"WebSocket", "1"},
                                                                 {"TcpPort", std::to_string(port)},
                                                                 {"Passphrase", kPassword}}));
  writeBandTables(run, factoryBandTable("!Pex"));
  ExtIoSimulator sim({.root = run.root().dir(),
                      .port = "/dev/VORNSER",
                      .watchFaultsFile = true,
                      .cycleMs = 100,
                      .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  ASSERT_TRUE(bench.start());
  ASSERT_TRUE(run.waitForLog("Listening on port " + std::to_string(port), 60s)) << run.log();
  ASSERT_TRUE(run.waitForLog("Timer thread started", 60s)) << run.log();
  const fs::path dir = run.root().dir();

  {
    SCOPED_TRACE("a wrong password: refused without an answer");
    const Finished f = runRemote(port, {"--password", "not-it", "--once"}, dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 3) << f.err;
    EXPECT_NE(f.err.find("password refused"), std::string::npos) << f.err;
    EXPECT_TRUE(run.waitForLog("differ from", 5s));
  }
  {
    SCOPED_TRACE("logged in: status and spectrum frames, command words to the amplifier");
    const size_t wire = bench.micro().wire().size();
    const fs::path picture = dir / "spectrum.png";
    const Finished f = runRemote(
        port,
        {"--password", kPassword, "--for", "5", "--stats", "--send", "VORNFT00", "--send",
         "VORNAN 2", "--send", "VORNAT 1", "--send", "VORNTU0", "--spectrum", picture.string()},
        dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << f.err << f.out;
    EXPECT_GE(summaryValue(f.out, "ST"), 25) << f.out;  // 5 s of a 25 frame-a-second loop
    EXPECT_EQ(summaryValue(f.out, "bad"), 0) << f.out;
    EXPECT_GE(summaryValue(f.out, "spectra"), 5) << "EXT IO spectra as SP pieces: " << f.out;
    EXPECT_GE(summaryValue(f.out, "PA"), 10) << f.out;
    EXPECT_TRUE(fs::exists(picture));
    EXPECT_NE(f.out.find("antenna: 2"), std::string::npos) << f.out;
    EXPECT_TRUE(waitForFrame(bench.micro(), "SA2;", wire, 5s));
    bool bypass = false;
    for (const std::string& frame : framesSince(bench.micro(), wire)) {
      if (frame.size() == 12 && frame.starts_with("MT1") &&
          (std::stoul(frame.substr(3, 8), nullptr, 16) & 0x10000) != 0) {
        bypass = true;
      }
    }
    EXPECT_TRUE(bypass) << "VORNTU0: the tune value with the bypass bit";
    bool attenuator = false;
    for (const std::string& frame : framesSince(bench.micro(), wire)) {
      attenuator = attenuator || frame.starts_with("AT");
    }
    EXPECT_TRUE(attenuator) << "VORNAT 1: the attenuator command";
    EXPECT_TRUE(run.waitForLog("TCP closed", 5s));
  }
  {
    SCOPED_TRACE("a frame longer than the receive buffer: refused unread, the client cut off");
    RawClient raw;
    ASSERT_TRUE(raw.loginTo(port));
    ASSERT_TRUE(run.waitForLog("Receiving data", 5s));
    const size_t from = run.logSize();
    ASSERT_TRUE(raw.send({0x77, 4, 'z', 'z', 'z', 'z'}));  // garbage of a known length
    ASSERT_TRUE(raw.send({0x82, 126, 0xFF, 0xF0, 'S', 'O'}));
    EXPECT_TRUE(raw.closedWithin(5s));
    EXPECT_TRUE(run.waitForLogFrom(from, "wrong message type: 77", 5s)) << run.logFrom(from);
    EXPECT_TRUE(run.waitForLogFrom(from, "frame refused", 5s)) << run.logFrom(from);
    EXPECT_TRUE(run.alive());
  }
  {
    SCOPED_TRACE("a client that goes silent: dropped after 12 s, the next one served");
    RawClient silent;
    const size_t from = run.logSize();
    ASSERT_TRUE(silent.loginTo(port));
    ASSERT_TRUE(run.waitForLogFrom(from, "Receiving data", 5s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.closedWithin(25s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 11s) << "not before its 12 s";
    EXPECT_TRUE(run.waitForLogFrom(from, "TCP read Error 1a 11", 5s)) << run.logFrom(from);
    const Finished f = runRemote(port, {"--password", kPassword, "--once"}, dir);
    ASSERT_TRUE(f.status) << f.err;
    EXPECT_EQ(f.status->shellStatus(), 0) << f.err;
    EXPECT_NE(f.out.find("antenna: 2"), std::string::npos) << f.out;
  }
  EXPECT_TRUE(run.alive());
}

}  // namespace
}  // namespace corvid::bench::test
