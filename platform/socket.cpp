#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <string>

namespace corvid::platform {

namespace {

using Clock = std::chrono::steady_clock;

// What is left of a wait that may be cut by signals; negative stays "no limit".
class Deadline {
 public:
  explicit Deadline(int timeoutMs)
      : unlimited_(timeoutMs < 0), end_(Clock::now() + std::chrono::milliseconds(timeoutMs)) {}
  int remainingMs() const {
    if (unlimited_) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }

 private:
  bool unlimited_;
  Clock::time_point end_;
};

// Polls one descriptor until it shows events or the deadline passes, through signals.
// 1 ready, 0 timed out, -errno.
int pollUntil(int fd, short events, const Deadline& deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, deadline.remainingMs());
    if (r > 0) return 1;
    if (r == 0) return 0;
    if (errno != EINTR) return -errno;
  }
}

int setBlocking(int fd, bool blocking) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return errno;
  const int wanted = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, wanted) == 0 ? 0 : errno;
}

uint16_t boundPort(int fd) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);
}

// accept(2) passes on network errors already pending on the new connection; like a client
// that left before being taken, they only mean "wait for the next one".
bool acceptShouldRetry(int error) {
  switch (error) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED:
    case EPROTO:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
      return true;
    default:
      return false;
  }
}

}  // namespace

Result<TcpSocket> TcpSocket::connect(std::string_view address, uint16_t port, int timeoutMs) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  const std::string text(address);
  if (::inet_pton(AF_INET, text.c_str(), &peer.sin_addr) != 1) {
    return Result<TcpSocket>::failure(EINVAL);
  }
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return Result<TcpSocket>::failure(errno);
  // Non-blocking, so that the wait for the handshake has our limit, not the system's.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    // EINTR: the handshake goes on by itself; wait for it like any other.
    if (errno != EINPROGRESS && errno != EINTR) return Result<TcpSocket>::failure(errno);
    const int ready = pollUntil(fd.get(), POLLOUT, Deadline(timeoutMs));
    if (ready < 0) return Result<TcpSocket>::failure(-ready);
    if (ready == 0) return Result<TcpSocket>::failure(ETIMEDOUT);
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      return Result<TcpSocket>::failure(errno);
    }
    if (error != 0) return Result<TcpSocket>::failure(error);
  }
  if (const int error = setBlocking(fd.get(), true); error != 0) {
    return Result<TcpSocket>::failure(error);
  }
  return TcpSocket(std::move(fd));
}

long TcpSocket::read(std::span<uint8_t> buffer, int timeoutMs) {
  return readWithTimeout(fd_.get(), buffer, timeoutMs);
}

long TcpSocket::write(std::span<const uint8_t> data) {
  if (!fd_.valid()) return -EBADF;
  size_t done = 0;
  while (done < data.size()) {
    // MSG_NOSIGNAL: a peer that has gone gives EPIPE here instead of killing the process.
    const ssize_t n = ::send(fd_.get(), data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<long>(done);
}

long TcpSocket::writeWithin(std::span<const uint8_t> data, int timeoutMs) {
  if (!fd_.valid()) return -EBADF;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n =
        ::send(fd_.get(), data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done == 0 ? -ETIMEDOUT : static_cast<long>(done);
    pollfd p{fd_.get(), POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return -errno;
  }
  return static_cast<long>(done);
}

int TcpSocket::setReceiveTimeout(int timeoutMs) {
  if (!fd_.valid()) return EBADF;
  if (timeoutMs < 0) return EINVAL;
  timeval tv{};
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = static_cast<suseconds_t>(timeoutMs % 1000) * 1000;
  return ::setsockopt(fd_.get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0 ? 0 : errno;
}

long TcpSocket::receive(std::span<uint8_t> buffer) {
  if (!fd_.valid()) return -EBADF;
  if (buffer.empty()) return 0;
  const ssize_t n = ::recv(fd_.get(), buffer.data(), buffer.size(), 0);
  if (n >= 0) return static_cast<long>(n);
  // The receive timeout shows as EAGAIN or EWOULDBLOCK; callers test one value.
  if (errno == EWOULDBLOCK) return -EAGAIN;
  return -errno;
}

int TcpSocket::shutdown() {
  if (!fd_.valid()) return EBADF;
  return ::shutdown(fd_.get(), SHUT_RDWR) == 0 ? 0 : errno;
}

Result<std::string> TcpSocket::peerAddress() const {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  if (::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
    return Result<std::string>::failure(errno);
  }
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) {
    return Result<std::string>::failure(errno);
  }
  return std::string(text);
}

uint16_t TcpSocket::localPort() const {
  return boundPort(fd_.get());
}

Result<TcpListener> TcpListener::listen(uint16_t port, int backlog, ListenAddress address,
                                        ListenStep* failedStep) {
  const auto fail = [failedStep](ListenStep step, int error) {
    if (failedStep != nullptr) *failedStep = step;
    return Result<TcpListener>::failure(error);
  };
  if (failedStep != nullptr) *failedStep = ListenStep::none;
  // Non-blocking, so that accept after a poll never hangs on a client that has left.
  Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd.valid()) return fail(ListenStep::socket, errno);
  const int on = 1;
  if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
    return fail(ListenStep::option, errno);
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address == ListenAddress::loopback ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    return fail(ListenStep::bind, errno);
  }
  if (::listen(fd.get(), backlog) != 0) return fail(ListenStep::listen, errno);
  const uint16_t actual = boundPort(fd.get());
  return TcpListener(std::move(fd), actual);
}

Result<TcpSocket> TcpListener::accept(int timeoutMs) {
  if (!fd_.valid()) return Result<TcpSocket>::failure(EBADF);
  const Deadline deadline(timeoutMs);
  for (;;) {
    const int ready = pollUntil(fd_.get(), POLLIN, deadline);
    if (ready < 0) return Result<TcpSocket>::failure(-ready);
    if (ready == 0) return Result<TcpSocket>::failure(ETIMEDOUT);
    // The accepted socket blocks (accept4 does not pass O_NONBLOCK on).
    Fd client(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (client.valid()) return TcpSocket(std::move(client));
    if (!acceptShouldRetry(errno)) return Result<TcpSocket>::failure(errno);
    if (deadline.remainingMs() == 0) return Result<TcpSocket>::failure(ETIMEDOUT);
  }
}

}  // namespace corvid::platform
