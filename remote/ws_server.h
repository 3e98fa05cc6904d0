// The remote server: one client at a time over TCP, an HTTP upgrade handshake, the
// password as the first text frame, then two-letter tagged binary messages both ways
// (CAT traffic, the transceiver's parameters and spectrum, the amplifier's status,
// command words, audio, a heartbeat and the audio configuration).
//
// The client's framing is this system's own and differs from RFC 6455 where existing
// clients rely on it: byte 1 is a length code without a mask flag (0..125 short, 126 a
// 16-bit length, 127..255 a 32-bit one), and only short text frames carry a mask.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvid {

struct Works;

// The server thread.
void Wsocket(Works& works);

// Senders: each a no-op until a client has given its password. They wait 10 us, then try
// the write lock up to 10 times 1 ms apart; a message that cannot have it is dropped.
void sendWebSockSerSpectrFrame(Works& works, std::span<const uint8_t> spectrum);  // "SP"
void sendWebSockSerParFrame(Works& works, std::span<const uint8_t> data);         // "PA"
void sendWebSockStatusFrame(Works& works, std::span<const uint8_t> data);         // "ST"
void sendWebSockCatFrame(Works& works, std::span<const uint8_t> data);            // "CA"
// One capture chunk of 16-bit stereo samples ("SO"), Opus-coded while opusBitrate is set.
void sendWebSockAudioFrame(Works& works, std::span<const int16_t> samples);
void sendWebSockHebFrame(Works& works, std::span<const uint8_t, 8> data);  // "HB"
void sendWebSockCfgFrame(Works& works, std::span<const uint8_t> data);     // "CF", 18 bytes

// The transceiver closed its audio gate: the playback starts over (pre-buffer counter at
// minus bufferChunks, slots and start flag at 0).
void resetRemotePlayback(Works& works);

// ---- the protocol without the socket ----

// Sec-WebSocket-Accept for a key: Base64 of SHA-1 over the key and the RFC 6455 GUID.
std::string webSocketAccept(std::string_view key);

// The handshake's request lines: seven header beginnings and the empty line.
struct HandshakeState {
  int step = 0;  // 8: complete
  std::string key;
  bool complete() const { return step >= 8; }
};
// One request line (with its line end); logs what it caught.
void takeHandshakeLine(HandshakeState& state, std::string_view line);
// The response lines, in the order they are sent.
std::vector<std::string> handshakeResponse(std::string_view key);

// A message to the client: 0x82, n + 2, the tag, the data; data of more than 123 bytes
// goes in the 16-bit form (0x82, 126, n + 2 big-endian), which clients read for "SP".
std::vector<uint8_t> shortFrame(std::string_view tag, std::span<const uint8_t> data);
// One 526-byte "SP" piece: total length and offset, then 512 bytes from the offset (zeros
// past the end of the spectrum).
std::vector<uint8_t> spectrumPiece(std::span<const uint8_t> spectrum, uint32_t offset);
// The "SO" frame around audio bytes.
std::vector<uint8_t> audioFrame(std::span<const uint8_t> audio);

// How a client frame's header reads, from its first 4 bytes (and the 2 after them for
// the 32-bit form).
inline constexpr size_t kReceiveBuffer = 1024;
enum class FrameForm { Short, Long16, Long32 };
struct FrameHeader {
  uint8_t type = 0;
  FrameForm form = FrameForm::Short;
  uint32_t length = 0;      // n: the payload bytes, tag included
  size_t headerBytes = 4;   // 4, or 6 for the 32-bit form
  size_t payloadStart = 2;  // where the payload starts in the frame
  size_t frameBytes = 0;    // the whole frame as it is read into the buffer
};
// The header of the frame whose first bytes are given (4, or 6 for the 32-bit form); the
// frame must fit the receive buffer, else nothing (the frame is refused unread).
std::optional<FrameHeader> frameHeader(std::span<const uint8_t> first);
// Compares two texts in time that does not depend on where they differ.
bool sameSecret(std::string_view a, std::string_view b);

}  // namespace corvid
