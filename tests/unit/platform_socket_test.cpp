// The TCP listener and socket over the loopback interface: accepting, both directions,
// the timeouts, a peer that has gone, and a write larger than the socket buffers.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace corvid {
namespace {

using platform::ListenAddress;
using platform::ListenStep;
using platform::TcpListener;
using platform::TcpSocket;

constexpr int kPatience = 10000;  // ms: only a broken wait comes near it

std::span<const uint8_t> bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Reads exactly n bytes through the byte-stream interface; fewer if the stream ends.
std::string readExactly(platform::ByteStream& stream, size_t n) {
  std::string got;
  uint8_t buffer[256];
  while (got.size() < n) {
    const size_t want = std::min(sizeof buffer, n - got.size());
    const long r = stream.read(std::span(buffer, want), kPatience);
    if (r <= 0) break;
    got.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(r));
  }
  return got;
}

struct Pair {
  TcpListener listener;
  TcpSocket client;
  TcpSocket server;
};

// A loopback listener on a port of the system's choice, a client, and its accepted socket.
Pair connectedPair() {
  Pair pair;
  auto listener = TcpListener::listen(0, 1, ListenAddress::loopback);
  EXPECT_TRUE(listener.ok()) << listener.error();
  pair.listener = std::move(listener.value());
  auto client = TcpSocket::connect("127.0.0.1", pair.listener.port(), kPatience);
  EXPECT_TRUE(client.ok()) << client.error();
  pair.client = std::move(client.value());
  auto server = pair.listener.accept(kPatience);
  EXPECT_TRUE(server.ok()) << server.error();
  pair.server = std::move(server.value());
  return pair;
}

TEST(TcpSocket, PortZeroGivesARealPortAndBytesGoBothWays) {
  Pair pair = connectedPair();
  ASSERT_TRUE(pair.server.isOpen());
  EXPECT_NE(pair.listener.port(), 0);

  auto peer = pair.server.peerAddress();
  ASSERT_TRUE(peer.ok());
  EXPECT_EQ(peer.value(), "127.0.0.1");
  EXPECT_NE(pair.client.localPort(), 0);
  EXPECT_NE(pair.client.localPort(), pair.listener.port());

  EXPECT_EQ(pair.client.write(bytes("GET / HTTP/1.1\r\n")), 16);
  EXPECT_EQ(readExactly(pair.server, 16), "GET / HTTP/1.1\r\n");
  EXPECT_EQ(pair.server.write(bytes("HTTP/1.1 101")), 12);
  EXPECT_EQ(readExactly(pair.client, 12), "HTTP/1.1 101");

  // The blocking receive of the server side takes what has arrived.
  ASSERT_EQ(pair.client.write(bytes("\x82\x04HB")), 4);
  uint8_t header[4] = {};
  long got = 0;
  while (got < 4) {
    const long r = pair.server.receive(std::span(header + got, 4 - static_cast<size_t>(got)));
    ASSERT_GT(r, 0);
    got += r;
  }
  EXPECT_EQ(header[0], 0x82);
  EXPECT_EQ(header[3], 'B');
}

TEST(TcpSocket, AcceptTimesOutWhenNobodyComes) {
  auto listener = TcpListener::listen(0, 1, ListenAddress::loopback);
  ASSERT_TRUE(listener.ok());
  for (const int timeoutMs : {0, 50}) {
    auto client = listener->accept(timeoutMs);
    EXPECT_FALSE(client.ok());
    EXPECT_EQ(client.error(), ETIMEDOUT);
  }
  // A client that comes later is still taken.
  auto client = TcpSocket::connect("127.0.0.1", listener->port(), kPatience);
  ASSERT_TRUE(client.ok());
  EXPECT_TRUE(listener->accept(kPatience).ok());
}

TEST(TcpSocket, ReceiveTellsTimeoutFromCloseAndReadTellsNothingFromGone) {
  Pair pair = connectedPair();
  ASSERT_EQ(pair.server.setReceiveTimeout(100), 0);
  uint8_t buffer[16];
  EXPECT_EQ(pair.server.receive(buffer), -EAGAIN);  // the silent client's timeout
  EXPECT_EQ(pair.server.read(buffer, 0), 0);        // nothing waiting, nothing wrong
  EXPECT_EQ(pair.server.setReceiveTimeout(-1), EINVAL);

  pair.client = TcpSocket();  // the client goes away in order
  EXPECT_EQ(pair.server.receive(buffer), 0);
  EXPECT_EQ(pair.server.read(buffer, kPatience), -EPIPE);
}

TEST(TcpSocket, ShutdownWakesAReceiveBlockedInAnotherThread) {
  Pair pair = connectedPair();
  // A shutdown that did not wake the receive would show as the timeout, not as a hang.
  ASSERT_EQ(pair.server.setReceiveTimeout(kPatience), 0);
  long result = 1;
  std::thread reader([&] {
    uint8_t buffer[16];
    result = pair.server.receive(buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(pair.server.shutdown(), 0);
  reader.join();
  EXPECT_EQ(result, 0);
}

// Run where SIGPIPE has its default action: without MSG_NOSIGNAL the child dies of it.
TEST(TcpSocket, WritingToAPeerThatHasGoneReturnsAnErrorAndTheProcessLives) {
  EXPECT_EXIT(
      {
        ::signal(SIGPIPE, SIG_DFL);
        Pair pair = connectedPair();
        pair.server = TcpSocket();  // the server side closes
        const std::vector<uint8_t> block(4096, 0x55);
        long r = 0;
        for (int i = 0; i < 1000 && r >= 0; ++i) {
          r = pair.client.write(block);
          if (r >= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        std::exit(r == -EPIPE || r == -ECONNRESET ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
}

// Several megabytes against a reader that starts late and takes small pieces, while
// signals keep interrupting the writer: a blocking send then returns part counts and
// EINTR, and the write must go on until every byte is out.
TEST(TcpSocket, ALargeBufferIsWrittenWholeThroughSignalsWhileThePeerReadsSlowly) {
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  sigemptyset(&quiet.sa_mask);
  quiet.sa_flags = 0;  // no SA_RESTART: interrupted calls come back
  struct sigaction saved {};
  ASSERT_EQ(::sigaction(SIGUSR1, &quiet, &saved), 0);

  Pair pair = connectedPair();
  std::vector<uint8_t> data(8 * 1024 * 1024);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 131) >> 7);
  std::atomic<bool> writing{true};
  long written = 0;
  std::thread writer([&] {
    written = pair.client.write(data);
    writing = false;
  });

  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::vector<uint8_t> received;
  received.reserve(data.size());
  uint8_t buffer[16 * 1024];
  while (received.size() < data.size()) {
    if (writing) ::pthread_kill(writer.native_handle(), SIGUSR1);
    const long r = pair.server.read(buffer, kPatience);
    if (r <= 0) break;
    received.insert(received.end(), buffer, buffer + r);
    if (received.size() % (256 * 1024) < static_cast<size_t>(r)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  writer.join();
  ::sigaction(SIGUSR1, &saved, nullptr);
  EXPECT_EQ(written, static_cast<long>(data.size()));
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST(TcpSocket, FailuresComeBackAsValues) {
  // A port nobody listens on: take one from the system, then close it.
  uint16_t freePort = 0;
  {
    auto listener = TcpListener::listen(0, 1, ListenAddress::loopback);
    ASSERT_TRUE(listener.ok());
    freePort = listener->port();
  }
  struct Case {
    const char* address;
    uint16_t port;
    int error;
  };
  const Case cases[] = {
      {"127.0.0.1", freePort, ECONNREFUSED},
      {"localhost", freePort, EINVAL},  // names are not resolved
      {"300.1.1.1", freePort, EINVAL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    auto client = TcpSocket::connect(c.address, c.port, kPatience);
    EXPECT_FALSE(client.ok());
    EXPECT_EQ(client.error(), c.error);
  }

  // A port in use is refused at the bind, and the step says so.
  auto first = TcpListener::listen(0, 1, ListenAddress::loopback);
  ASSERT_TRUE(first.ok());
  ListenStep step = ListenStep::none;
  auto second = TcpListener::listen(first->port(), 1, ListenAddress::loopback, &step);
  EXPECT_EQ(second.error(), EADDRINUSE);
  EXPECT_EQ(step, ListenStep::bind);
}

}  // namespace
}  // namespace corvid
