// The Opus encoder and decoder of the remote audio: made once by the start-up before the
// remote threads run, freed after the last of them is joined.
#pragma once

namespace corvid {

struct Works;

// 48 kHz stereo. A failed encoder is logged and turns compression off (opusBitrate 0); a
// failed decoder is logged and clears AudioCompress.
void createOpus(Works& works);
void destroyOpus(Works& works);

}  // namespace corvid
