// Remote audio: the transceiver's receive audio captured and sent to the client
// (th_leggi), and the client's audio played to the transceiver from the playback ring
// (th_scrivi with its callback MyRecCallback).
//
// The callback is run by the playback thread itself, each time the device's poll
// descriptors say it can take data (or report an xrun), not from the sound library's
// signal-driven notification: a signal handler may not write to the device or log.
#pragma once

#include <cstdint>
#include <span>

namespace corvid {

struct Works;
struct RemoteState;

// Frames the callback writes at a time: 1 ms at 48 kHz.
inline constexpr int kPeriodFrames = 48;
inline constexpr size_t kPeriodBytes = kPeriodFrames * 4;  // stereo, 16-bit

// The playback device as the callback uses it; the thread gives it the real stream.
class PlaybackDevice {
 public:
  virtual ~PlaybackDevice() = default;
  // Frames the device can take now, or a negative code (-EPIPE: underrun).
  virtual long avail() = 0;
  // Frames written, or a negative code.
  virtual long writei(std::span<const uint8_t> frames) = 0;
  virtual int prepare() = 0;
};

// Periods in the ring for the present playback chunk: chunk frames x 200 / 48.
int playRingPeriods(const RemoteState& remote);

// Feeds the device from the ring while it can take a period; keeps the server's write
// position about bufferChunks chunks ahead, checked at each wrap of the read position.
void MyRecCallback(Works& works, PlaybackDevice& device);

void th_leggi(Works& works);
void th_scrivi(Works& works);

}  // namespace corvid
