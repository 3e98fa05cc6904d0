// Fields of the shared record owned by the remote server and remote audio.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

struct OpusEncoder;
struct OpusDecoder;

namespace corvid {

namespace platform {
class TcpSocket;
}

inline constexpr int kPlayRingSlots = 200;
// The largest playback chunk a slot holds: 2500 us at most of 48 kHz stereo 16-bit is 120
// frames, but a client's "CF" may ask for up to the receive buffer's worth of audio.
inline constexpr size_t kPlaySlotBytes = 4096;

struct RemoteState {
  std::atomic<int> audioSampleRate{0};
  std::atomic<int> audioChannels{0};
  std::atomic<int> opusBitrate{0};
  // Created by main before the remote threads start, destroyed after they are joined.
  OpusEncoder* opusEncoder = nullptr;
  OpusDecoder* opusDecoder = nullptr;
  // The encoder codes in the capture thread while a client's "CF" sets its bitrate in the
  // server's: one at a time. (The decoder is the server's alone.)
  std::mutex opusEncoderMutex;
  // Frames per audio chunk, one copy for capture and one for playback.
  std::atomic<int> captureChunkSamples{0};
  std::atomic<int> playChunkSamples{0};
  std::atomic<int> bufferChunks{0};  // playback pre-buffer, chunks
  std::atomic<int> audioRestart{0};  // the playback thread starts over with new buffers

  // The connected client: wsClientFD its descriptor (0: none), wsClientReady 1 once its
  // password was taken. The senders read both without a lock and write the socket only
  // under wsMutex; the server sets wsClient under wsMutex too.
  std::atomic<int> wsClientFD{0};
  std::atomic<int> wsClientReady{0};
  std::mutex wsMutex;
  platform::TcpSocket* wsClient = nullptr;   // under wsMutex
  std::atomic<uint32_t> wsFramesSent{0};     // frames written whole, for the bench's figures
  std::atomic<uint32_t> wsFramesDropped{0};  // wsMutex busy, or the write failed

  // The playback ring: chunk after chunk, slot s at byte s x chunk bytes, so the
  // playback side reads it as one run of 1 ms periods. The server writes slot
  // playWriteSlot, the playback callback reads period playReadSlot; playPrebuffer counts
  // up from -bufferChunks before playStart. The bytes are copied in and out under
  // playRingMutex (a chunk or a period at a time); the positions are atomics.
  using PlayRing = std::array<uint8_t, kPlayRingSlots * kPlaySlotBytes>;
  std::unique_ptr<PlayRing> playRing = std::make_unique<PlayRing>();  // 800 kB: on the heap
  std::mutex playRingMutex;
  std::atomic<int> playWriteSlot{0};
  std::atomic<int> playReadSlot{0};
  std::atomic<int> playStart{0};
  std::atomic<int> playPrebuffer{0};
  std::atomic<int> playbackReady{0};  // the playback device is open
};

// Bytes of one playback chunk in the ring: stereo 16-bit frames, at least one and at most
// one slot's worth whatever a client's "CF" asked for.
inline size_t playChunkBytes(const RemoteState& remote) {
  const int frames = remote.playChunkSamples.load();
  return static_cast<size_t>(std::clamp(frames, 1, static_cast<int>(kPlaySlotBytes / 4))) * 4;
}

}  // namespace corvid
