// The unit's network settings in /opt/set/interfaces (the ifupdown format): read into
// the LAN menu's fields at start-up, written back with the edited addresses, and the
// interfaces restarted. And the LAN state: "my_vorn" prints the newest software and
// amplifier firmware on offer and the connection state, and from them the update check
// decides whether an update is available.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "system/system_state.h"

namespace corvid {

struct Works;

inline constexpr std::string_view kInterfacesPath = "/opt/set/interfaces";
inline constexpr size_t kInterfacesLineMax = 127;  // characters of a line that are read
inline constexpr size_t kLanTextMax = 31;          // characters of an address text
inline constexpr size_t kMyVornLineMax = 31;

// Splits a dotted address at '.' and stores the decimal value of each part in
// successive bytes (at most four). A part above 255 is stored as 255; a part without
// digits as 0.
void SplitAddr(std::string_view text, std::array<uint8_t, 4>& bytes);
// "a.b.c.d".
std::string addressText(const std::array<uint8_t, 4>& bytes);

// Reads /opt/set/interfaces into works.system.lan: 0, or -1 when it cannot be opened
// (the fields are then empty).
int ReadLanParam(Works& works);

// Rewrites the address, netmask, gateway and name-server lines that start in column 0
// with the edited numbers (every other line passes unchanged), atomically inside the
// read-write window of /opt/set, restarts the interfaces and the LAN information.
// Returns the restart's exit status, or -1 when nothing was written.
int SaveLanParam(Works& works);
// The new content of the interfaces file, without touching anything.
std::string rewriteInterfaces(std::string_view content, const LanAddresses& lan);

// The update check's view of "my_vorn"'s first line and the installed versions.
struct VersionOffer {
  int softwareMajor = 0;
  int softwareMinor = 0;
  int firmwareMajor = 0;
  int firmwareMinor = 0;
};
VersionOffer parseOffer(std::string_view offer);
// kUpdateNone, kUpdateSoftware or kUpdateSoftwareAndFw for the installed software
// ("01.046") and amplifier firmware ("001.012") against an offer.
uint8_t compareOffer(const VersionOffer& offer, std::string_view software,
                     std::string_view firmware);
// True when the state text means no connection: it starts with 'N' or its second
// character is 'o' ("No Conn").
bool lanDisconnected(std::string_view state);

// Runs "my_vorn" and sets lanStatusText, updateAvailable and the offered firmware.
void ReadLANconnection(Works& works);

// The LAN information thread: lanInfoRunning while it runs, lanInfoTime when it ended.
void LANInfoThread(Works& works);

}  // namespace corvid
