// The menu: 37 settings and service actions, their value texts and their editing.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace corvid {

struct Works;

inline constexpr int kMenuItems = 37;

// Key codes of the editing keys.
inline constexpr int kMenuEnter = 0;  // key 6
inline constexpr int kMenuMinus = 1;  // key 4
inline constexpr int kMenuPlus = 2;   // key 5
inline constexpr int kMenuLeft = 3;   // key 2
inline constexpr int kMenuRight = 4;  // key 3

// One menu entry (each has exactly one sub-item).
struct MenuEntry {
  int number;         // shown as "%d -"
  const char* group;  // group title
  const char* label;  // the item's label
  uint8_t readOnly;   // 1: ENTER opens no editing and its label is hidden
  uint8_t cursor;     // 1: edited position by position; keys 2 and 3 move a cursor
};
extern const std::array<MenuEntry, kMenuItems> menuPar;

// Menu items by index, where other code names them.
inline constexpr int kItemMaxBanks = 0;
inline constexpr int kItemFilters = 1;
inline constexpr int kItemUseMode = 2;
inline constexpr int kItemPassword = 3;
inline constexpr int kItemSpectrum = 17;
inline constexpr int kItemFirstLan = 23;  // IP, Subnet, Gateway, DNS
inline constexpr int kItemLastLan = 26;
inline constexpr int kItemRemoteService = 32;
inline constexpr int kItemSoftwareUpdate = 33;
inline constexpr int kItemAdvancedDefault = 36;

// The last item the cursor reaches: 36 with the start-up key combination, else 35.
int lastMenuItem(const Works& works);

// Fills the key labels, the first run-time labels, menuSectionCount and the error
// records. Once at start-up.
void InitMenuNova(Works& works);
// The value text of an item; for the LAN items it also sets lanEditAddress/lanEditIndex.
std::string LoadParameterMenu(Works& works, int item, int subItem);
// Applies a key code to the item menuSection; nonzero asks for key repetition.
int ModifyParameter(Works& works, int code);
// The local-to-remote switch once its checks have run (Find_Remote_Settings' result and
// Get_AudioPEX's count): remote operation with all present and the EXT IO link enabled,
// else the errors of what is missing and remoteError. 1 when remote.
int switchToRemote(Works& works, int settingsResult, int audioDevices);
// Code 1/2 decrement/increment the byte under the cursor (wrapping as a byte), 3/4 move
// the cursor left/right (wrapping 0..3). Returns the new cursor.
int ModifyIP(int code, int cursor, std::array<uint8_t, 4>& address);
std::string SplitAddrInv(const std::array<uint8_t, 4>& address);

}  // namespace corvid
