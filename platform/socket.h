// TCP over IPv4: the listener of the remote server, which serves one client at a time,
// and the connected socket it talks through (also the client side, for the bench's remote
// station and the tests). Failures come back as errno values. A write to a peer that has
// gone returns -EPIPE or -ECONNRESET; it never raises SIGPIPE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/fd.h"
#include "platform/serial.h"

namespace corvid::platform {

class TcpSocket final : public ByteStream {
 public:
  // Connects to a dotted IPv4 address (names are not resolved: EINVAL) within timeoutMs
  // (negative: the system's own limit). ETIMEDOUT when the time ran out, ECONNREFUSED when
  // nobody listens there.
  static Result<TcpSocket> connect(std::string_view address, uint16_t port, int timeoutMs);

  TcpSocket() = default;
  bool isOpen() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // ByteStream: waits up to timeoutMs for data, as every stream does (0: none came);
  // -EPIPE once the peer has closed. SO_RCVTIMEO plays no part here.
  long read(std::span<uint8_t> buffer, int timeoutMs) override;
  // Sends every byte, blocking while the peer's window is full; the count or -errno.
  long write(std::span<const uint8_t> data) override;
  // Sends every byte within timeoutMs: the count, fewer bytes when the time ran out after
  // some were sent (the stream is then cut in the middle of what was written), -ETIMEDOUT
  // when none could be, or -errno. A peer that has gone gives -EPIPE, never SIGPIPE.
  long writeWithin(std::span<const uint8_t> data, int timeoutMs);

  // The receive timeout (SO_RCVTIMEO) of receive(); 0 waits without a limit. 0 or errno.
  int setReceiveTimeout(int timeoutMs);
  // One blocking recv for the server's frame reader:
  //   > 0      bytes received (possibly fewer than asked for),
  //   0        the peer closed the connection in order (or the buffer is empty),
  //   -EAGAIN  the receive timeout ran out with nothing received,
  //   -EINTR   a signal came first (passed on: the server counts its own retries),
  //   -errno   any other failure (-ECONNRESET, ...).
  long receive(std::span<uint8_t> buffer);

  // Ends both directions; a receive blocked in another thread then returns 0. 0 or errno.
  int shutdown();
  // The peer's address in dotted form ("192.168.1.20"), or the errno of getpeername.
  Result<std::string> peerAddress() const;
  // The local port (a connected client's is picked by the system).
  uint16_t localPort() const;

 private:
  friend class TcpListener;
  explicit TcpSocket(Fd fd) : fd_(std::move(fd)) {}
  Fd fd_;
};

enum class ListenAddress { any, loopback };
// Which call of TcpListener::open failed, for the server's log line.
enum class ListenStep { none, socket, option, bind, listen };

class TcpListener {
 public:
  // A listening socket with SO_REUSEADDR, bound to every address (or to 127.0.0.1 only:
  // tests and the bench) on port; port 0 lets the system pick one, which port() tells.
  // On failure the errno comes back and *failedStep (when given) names the call.
  static Result<TcpListener> listen(uint16_t port, int backlog,
                                    ListenAddress address = ListenAddress::any,
                                    ListenStep* failedStep = nullptr);

  TcpListener() = default;
  bool isOpen() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }
  uint16_t port() const { return port_; }

  // Waits up to timeoutMs (negative: no limit) for a client and returns its socket, or
  // ETIMEDOUT when nobody came in time (signals and clients that left before being taken
  // do not end the wait early), or the errno of poll or accept.
  Result<TcpSocket> accept(int timeoutMs);

 private:
  TcpListener(Fd fd, uint16_t port) : fd_(std::move(fd)), port_(port) {}
  Fd fd_;
  uint16_t port_ = 0;
};

}  // namespace corvid::platform
