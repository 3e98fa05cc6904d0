// Fields of the shared record owned by the remote server and remote audio.
#pragma once

#include <atomic>

struct OpusEncoder;
struct OpusDecoder;

namespace corvid {

struct RemoteState {
  std::atomic<int> audioSampleRate{0};
  std::atomic<int> audioChannels{0};
  std::atomic<int> opusBitrate{0};
  // Created by main before the remote threads start, destroyed after they are joined.
  OpusEncoder* opusEncoder = nullptr;
  OpusDecoder* opusDecoder = nullptr;
  // Frames per audio chunk, one copy for capture and one for playback.
  std::atomic<int> captureChunkSamples{0};
  std::atomic<int> playChunkSamples{0};
  std::atomic<int> bufferChunks{0};  // playback pre-buffer, chunks
};

}  // namespace corvid
