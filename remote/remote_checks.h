// The checks before remote operation: the maker's transceiver on USB, its CAT port, the
// USB audio device.
#pragma once

#include <cstdint>

namespace corvid {

namespace platform {
class SerialPort;
}

struct Works;

// The maker's transceiver and the USB sound card beside it.
inline constexpr uint16_t kPexVendor = 0x1721;
inline constexpr uint16_t kPexProduct = 0x061A;
inline constexpr uint16_t kAudioVendor = 0x0d8c;
inline constexpr uint16_t kAudioProduct = 0x01af;

// 0 all present; 1 no transceiver on USB (or the USB library failed); 2 its CAT port not
// found; 3 no USB audio device 0d8c:01af.
int Find_Remote_Settings(Works& works);
// Searches the CAT port among /dev/ttyUSB* (the last in sorted order first): the port
// that answers "DT;" with "DT001". 0 found, else -1. With found, the open port is handed
// over to the caller; without, it is closed again (a check only).
int VerifyCAT(Works& works, platform::SerialPort* found = nullptr);
// The number of USB devices 0d8c:01af.
int VerifyAudioPEX(Works& works);
// The number of USB devices of vendor 0d8c.
int Get_AudioPEX(Works& works);

}  // namespace corvid
