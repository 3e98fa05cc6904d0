// The remote client's side of the amplifier's WebSocket-style link: the HTTP upgrade
// request and the check of its answer, the frames the client sends (the password as a
// masked text frame, tagged binary frames) and a reader that splits the server's byte
// stream into tagged frames. Written apart from the server's code on purpose.
//
// The framing is the amplifier's own, close to RFC 6455 but not the same: byte 1 of a
// client frame never carries the mask bit (the server would read it as the 32-bit length
// form), binary frames from the client are not masked, and the short length byte of a
// binary frame counts the two tag letters together with the data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::client {

inline constexpr uint8_t kTextFrame = 0x81;
inline constexpr uint8_t kBinaryFrame = 0x82;
// Byte 1 up to this is the length itself; 126 announces a 16-bit length.
inline constexpr size_t kShortLengthLimit = 125;
inline constexpr uint8_t kLength16 = 126;
inline constexpr std::string_view kWebSocketGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
inline constexpr uint16_t kDefaultPort = 6666;

// Standard Base64 with padding.
std::string base64(std::span<const uint8_t> bytes);
// Base64 of the SHA-1 digest of the key followed by the GUID.
std::string acceptValue(std::string_view key);
// A fresh Sec-WebSocket-Key: 16 random bytes in Base64.
std::string newKey();

// The upgrade request, header lines in the order the server matches them.
std::string upgradeRequest(std::string_view host, uint16_t port, std::string_view key);

enum class ResponseVerdict {
  accepted,
  incomplete,     // no empty line yet
  notSwitching,   // the status line is not "HTTP/1.1 101 ..."
  missingAccept,  // no Sec-WebSocket-Accept header
  wrongAccept,    // an accept value that does not belong to our key
  tooLong,        // no end of the header within the limit
};
inline constexpr size_t kResponseLimit = 4096;

struct ResponseCheck {
  ResponseVerdict verdict = ResponseVerdict::incomplete;
  size_t headerBytes = 0;  // bytes of the header, its empty line included
  std::string statusLine;
  std::string acceptSeen;
};
// Checks what has arrived so far of the server's answer. Bytes after the empty line are
// not part of it (frames may follow at once).
ResponseCheck checkUpgradeResponse(std::string_view received, std::string_view key);
std::string_view describe(ResponseVerdict verdict);

// The password: 0x81, its length (at most 125, no mask bit), the mask, the masked text.
std::optional<std::vector<uint8_t>> passwordFrame(std::string_view password,
                                                  std::array<uint8_t, 4> mask);
std::array<uint8_t, 4> randomMask();
// 0x82, tag and data length, the two tag letters, the data, unmasked. Empty when the tag
// is not two characters or tag and data exceed 125 bytes.
std::optional<std::vector<uint8_t>> binaryFrame(std::string_view tag,
                                                std::span<const uint8_t> data);
std::optional<std::vector<uint8_t>> textMessage(std::string_view tag, std::string_view text);
// "HB" with the client's clock: seconds and microseconds, each 32-bit big-endian.
std::vector<uint8_t> heartbeatFrame(uint32_t seconds, uint32_t micros);

// One frame from the server: its tag and the data after the tag.
struct ServerFrame {
  std::string tag;
  std::vector<uint8_t> data;
  bool longForm = false;  // the 16-bit length form
  size_t wireBytes = 0;   // the whole frame as it came
};

enum class ReadResult {
  frame,     // one frame taken out
  needMore,  // the next frame has not fully arrived
  skipped,   // a frame of known length that cannot carry a tag was dropped
  broken,    // no length can be told: the stream cannot be followed any further
};

class FrameReader {
 public:
  void feed(std::span<const uint8_t> bytes);
  ReadResult next(ServerFrame& frame);
  size_t buffered() const { return buffer_.size() - start_; }
  // Why the stream was found broken (after ReadResult::broken).
  const std::string& problem() const { return problem_; }

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  std::string problem_;
};

// "HB" from the server: its clock and the 8 bytes we sent.
struct HeartbeatReply {
  uint32_t serverSeconds = 0;
  uint32_t serverMicros = 0;
  uint32_t echoedSeconds = 0;
  uint32_t echoedMicros = 0;
};
std::optional<HeartbeatReply> decodeHeartbeat(std::span<const uint8_t> data);

// One "SP" piece: the spectrum's total length, this piece's offset and its bytes.
struct SpectrumPiece {
  uint32_t total = 0;
  uint32_t offset = 0;
  std::span<const uint8_t> bytes;
};
inline constexpr size_t kSpectrumPieceBytes = 512;
inline constexpr uint32_t kMaxSpectrumLength = 16384;
std::optional<SpectrumPiece> decodeSpectrumPiece(std::span<const uint8_t> data);

// Joins the pieces of one spectrum, which come in order from offset 0. A piece out of
// order drops the spectrum being joined; the next piece at offset 0 starts a new one.
class SpectrumAssembler {
 public:
  enum class Step { partial, complete, rejected };
  Step add(const SpectrumPiece& piece);
  // The last complete spectrum, one byte per column (level in dB + 192).
  const std::vector<uint8_t>& last() const { return last_; }
  uint64_t completed() const { return completed_; }

 private:
  std::vector<uint8_t> joining_;
  uint32_t total_ = 0;
  bool active_ = false;
  std::vector<uint8_t> last_;
  uint64_t completed_ = 0;
};

}  // namespace corvid::client
