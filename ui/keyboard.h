// The service keyboard: a USB keyboard plugged into the unit, taken over by the keyb
// thread, whose function keys take a screenshot, save the settings, start the remote
// service shell, switch the CAT port's modem lines and end the program.
#pragma once

#include <cstdint>

namespace corvid {

namespace platform {
struct InputEvent;
}
struct Works;

// What a key does.
enum class ServiceKey : uint8_t {
  Screenshot,   // SysRq
  Exit,         // F12: the whole program ends
  SaveSetup,    // F11
  RemoteShell,  // F10
  DtrOff,       // F1
  DtrOn,        // F2
  RtsOff,       // F3
  RtsOn,        // F4
};

// The action of a key code of the input layer; false for the keys without one.
bool serviceKeyOf(uint16_t code, ServiceKey& key);

// The action an event asks for: a key pressed (not released or repeated) that has one.
bool serviceKeyOfEvent(const platform::InputEvent& event, ServiceKey& key);

// Does what a pressed key asks. Returns false when the thread is to end (F12).
bool serviceKeyPressed(Works& works, ServiceKey key);

// Thread body: waits for a keyboard (a new search every 20 s), grabs it and acts on its
// key presses until the program ends. A keyboard that is unplugged (or keeps failing)
// is closed and looked for again.
void keyb(Works& works);

// Starts the service shell and returns when it ends.
void RemoteConnection();

}  // namespace corvid
