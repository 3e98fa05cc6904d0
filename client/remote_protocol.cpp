// The remote client's handshake and framing (see remote_protocol.h).
#include "client/remote_protocol.h"

#include <glib.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace corvid::client {

namespace {

void randomBytes(std::span<uint8_t> out) {
  if (RAND_bytes(out.data(), static_cast<int>(out.size())) == 1) return;
  // The library's generator failed to seed: the key and the mask only need to differ
  // between connections, not to be secret.
  std::random_device device;
  for (auto& byte : out) byte = static_cast<uint8_t>(device());
}

std::span<const uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 24));
  out.push_back(static_cast<uint8_t>(value >> 16));
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

uint32_t bigEndian32(std::span<const uint8_t> bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return g_ascii_tolower(x) == g_ascii_tolower(y); });
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

std::string base64(std::span<const uint8_t> bytes) {
  gchar* encoded = g_base64_encode(bytes.data(), bytes.size());
  std::string text = encoded != nullptr ? encoded : "";
  g_free(encoded);
  return text;
}

std::string acceptValue(std::string_view key) {
  std::string joined(key);
  joined += kWebSocketGuid;
  std::array<uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (EVP_Digest(joined.data(), joined.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1) {
    return {};
  }
  // The digest is binary and may hold zero bytes: its length comes from the library.
  return base64(std::span(digest.data(), length));
}

std::string newKey() {
  std::array<uint8_t, 16> nonce{};
  randomBytes(nonce);
  return base64(nonce);
}

std::string upgradeRequest(std::string_view host, uint16_t port, std::string_view key) {
  std::string request;
  request += "GET / HTTP/1.1\r\n";
  request += "Host: " + std::string(host) + ":" + std::to_string(port) + "\r\n";
  request += "Sec-WebSocket-Version: 13\r\n";
  request += "Sec-WebSocket-Protocol: chat\r\n";
  request += "Sec-WebSocket-Key: " + std::string(key) + "\r\n";
  request += "Connection: keep-alive, Upgrade\r\n";
  request += "Upgrade: websocket\r\n";
  request += "\r\n";
  return request;
}

ResponseCheck checkUpgradeResponse(std::string_view received, std::string_view key) {
  ResponseCheck check;
  bool sawAccept = false;
  size_t position = 0;
  bool first = true;
  for (;;) {
    const size_t end = received.find('\n', position);
    if (end == std::string_view::npos) break;
    std::string_view line = received.substr(position, end - position);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    position = end + 1;
    if (first) {
      check.statusLine = std::string(line);
      first = false;
      continue;
    }
    if (line.empty()) {
      check.headerBytes = position;
      const std::string_view status = check.statusLine;
      constexpr std::string_view kSwitching = "HTTP/1.1 101";
      const bool switching =
          status.starts_with(kSwitching) &&
          (status.size() == kSwitching.size() || status[kSwitching.size()] == ' ');
      if (!switching) {
        check.verdict = ResponseVerdict::notSwitching;
      } else if (!sawAccept) {
        check.verdict = ResponseVerdict::missingAccept;
      } else {
        check.verdict = check.acceptSeen == acceptValue(key) ? ResponseVerdict::accepted
                                                             : ResponseVerdict::wrongAccept;
      }
      return check;
    }
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        equalsIgnoringCase(line.substr(0, colon), "Sec-WebSocket-Accept")) {
      sawAccept = true;
      check.acceptSeen = std::string(trimmed(line.substr(colon + 1)));
    }
  }
  check.verdict =
      received.size() > kResponseLimit ? ResponseVerdict::tooLong : ResponseVerdict::incomplete;
  return check;
}

std::string_view describe(ResponseVerdict verdict) {
  switch (verdict) {
    case ResponseVerdict::accepted:
      return "accepted";
    case ResponseVerdict::incomplete:
      return "the answer ended before its empty line";
    case ResponseVerdict::notSwitching:
      return "the server did not switch protocols";
    case ResponseVerdict::missingAccept:
      return "the answer has no Sec-WebSocket-Accept";
    case ResponseVerdict::wrongAccept:
      return "Sec-WebSocket-Accept does not match our key";
    case ResponseVerdict::tooLong:
      return "the answer's header is too long";
  }
  return "?";
}

std::optional<std::vector<uint8_t>> passwordFrame(std::string_view password,
                                                  std::array<uint8_t, 4> mask) {
  if (password.size() > kShortLengthLimit) return std::nullopt;
  std::vector<uint8_t> frame;
  frame.reserve(6 + password.size());
  frame.push_back(kTextFrame);
  // The length alone: the server takes a set bit 7 for its 32-bit length form.
  frame.push_back(static_cast<uint8_t>(password.size()));
  frame.insert(frame.end(), mask.begin(), mask.end());
  for (size_t i = 0; i < password.size(); ++i) {
    frame.push_back(static_cast<uint8_t>(static_cast<uint8_t>(password[i]) ^ mask[i % 4]));
  }
  return frame;
}

std::array<uint8_t, 4> randomMask() {
  std::array<uint8_t, 4> mask{};
  randomBytes(mask);
  return mask;
}

std::optional<std::vector<uint8_t>> binaryFrame(std::string_view tag,
                                                std::span<const uint8_t> data) {
  if (tag.size() != 2 || data.size() + 2 > kShortLengthLimit) return std::nullopt;
  std::vector<uint8_t> frame;
  frame.reserve(4 + data.size());
  frame.push_back(kBinaryFrame);
  frame.push_back(static_cast<uint8_t>(data.size() + 2));
  frame.insert(frame.end(), tag.begin(), tag.end());
  frame.insert(frame.end(), data.begin(), data.end());
  return frame;
}

std::optional<std::vector<uint8_t>> textMessage(std::string_view tag, std::string_view text) {
  return binaryFrame(tag, asBytes(text));
}

std::vector<uint8_t> heartbeatFrame(uint32_t seconds, uint32_t micros) {
  std::vector<uint8_t> data;
  putBigEndian32(data, seconds);
  putBigEndian32(data, micros);
  return *binaryFrame("HB", data);
}

void FrameReader::feed(std::span<const uint8_t> bytes) {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  } else if (start_ > 65536) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

ReadResult FrameReader::next(ServerFrame& frame) {
  const std::span<const uint8_t> pending(buffer_.data() + start_, buffer_.size() - start_);
  if (pending.size() < 2) return ReadResult::needMore;
  if (pending[0] != kBinaryFrame) {
    // Every frame of the server is binary; any other first byte means we lost step, and
    // no length can be trusted from here on.
    char text[64];
    std::snprintf(text, sizeof text, "unknown frame type 0x%02X", pending[0]);
    problem_ = text;
    return ReadResult::broken;
  }
  size_t header = 2;
  size_t length = pending[1];
  if (pending[1] == kLength16) {
    if (pending.size() < 4) return ReadResult::needMore;
    header = 4;
    length = static_cast<size_t>(pending[2]) << 8 | pending[3];
  } else if (pending[1] > kShortLengthLimit) {
    char text[64];
    std::snprintf(text, sizeof text, "length code %u that the server never sends", pending[1]);
    problem_ = text;
    return ReadResult::broken;
  }
  if (pending.size() < header + length) return ReadResult::needMore;
  const size_t whole = header + length;
  start_ += whole;
  if (length < 2) return ReadResult::skipped;  // no room for the tag
  const auto body = pending.subspan(header, length);
  frame.tag.assign(body.begin(), body.begin() + 2);
  frame.data.assign(body.begin() + 2, body.end());
  frame.longForm = header == 4;
  frame.wireBytes = whole;
  return ReadResult::frame;
}

std::optional<HeartbeatReply> decodeHeartbeat(std::span<const uint8_t> data) {
  if (data.size() != 16) return std::nullopt;
  HeartbeatReply reply;
  reply.serverSeconds = bigEndian32(data.subspan(0, 4));
  reply.serverMicros = bigEndian32(data.subspan(4, 4));
  reply.echoedSeconds = bigEndian32(data.subspan(8, 4));
  reply.echoedMicros = bigEndian32(data.subspan(12, 4));
  return reply;
}

std::optional<SpectrumPiece> decodeSpectrumPiece(std::span<const uint8_t> data) {
  if (data.size() < 8) return std::nullopt;
  SpectrumPiece piece;
  piece.total = bigEndian32(data.subspan(0, 4));
  piece.offset = bigEndian32(data.subspan(4, 4));
  piece.bytes = data.subspan(8);
  if (piece.total == 0 || piece.total > kMaxSpectrumLength || piece.offset >= piece.total ||
      piece.bytes.empty()) {
    return std::nullopt;
  }
  return piece;
}

SpectrumAssembler::Step SpectrumAssembler::add(const SpectrumPiece& piece) {
  if (piece.offset == 0) {
    joining_.clear();
    total_ = piece.total;
    active_ = true;
  } else if (!active_ || piece.total != total_ || piece.offset != joining_.size()) {
    active_ = false;
    return Step::rejected;
  }
  // Bytes of the last piece past the total carry no meaning.
  const size_t take = std::min<size_t>(piece.bytes.size(), total_ - joining_.size());
  joining_.insert(joining_.end(), piece.bytes.begin(),
                  piece.bytes.begin() + static_cast<std::ptrdiff_t>(take));
  if (joining_.size() < total_) return Step::partial;
  last_ = joining_;
  active_ = false;
  ++completed_;
  return Step::complete;
}

}  // namespace corvid::client
