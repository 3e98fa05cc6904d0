// The checks before remote operation: the maker's transceiver on USB, its CAT port, the
// USB audio device.
#pragma once

namespace corvid {

struct Works;

// 0 all present; 1 no transceiver on USB (or the USB library failed); 2 its CAT port not
// found; 3 no USB audio device 0d8c:01af.
int Find_Remote_Settings(Works& works);
// Searches the CAT port (the last ttyUSB first); 0 found (CatPort set), else -1.
int VerifyCAT(Works& works);
// The number of USB devices 0d8c:01af.
int VerifyAudioPEX(Works& works);
// The number of USB devices of vendor 0d8c.
int Get_AudioPEX(Works& works);

}  // namespace corvid
