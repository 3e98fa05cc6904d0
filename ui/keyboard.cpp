#include "ui/keyboard.h"

#include <linux/input-event-codes.h>

#include <cstring>
#include <mutex>
#include <string>

#include "core/settings.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/input.h"
#include "platform/log.h"
#include "platform/serial.h"
#include "system/updates.h"

namespace corvid {

using platform::logError;
using platform::logInfo;
using platform::trace;

namespace {

struct KeyRow {
  uint16_t code;
  ServiceKey key;
};
constexpr KeyRow kServiceKeys[] = {
    {KEY_SYSRQ, ServiceKey::Screenshot}, {KEY_F12, ServiceKey::Exit},
    {KEY_F11, ServiceKey::SaveSetup},    {KEY_F10, ServiceKey::RemoteShell},
    {KEY_F1, ServiceKey::DtrOff},        {KEY_F2, ServiceKey::DtrOn},
    {KEY_F3, ServiceKey::RtsOff},        {KEY_F4, ServiceKey::RtsOn},
};

constexpr uint16_t kKeyEvent = EV_KEY;
constexpr int32_t kPressed = 1;  // 0 released, 2 repeated
constexpr int kSearchPauseMs = 20000;
constexpr int kReadWaitMs = 200;  // a read wakes this often to see the program end
constexpr int kFailuresBeforeSearch = 3;

bool running(const Works& works) {
  return works.core.running.load() != 0;
}

// Sleeps in short steps, so that the end of the program is seen at once.
void pause(const Works& works, int ms) {
  for (int slept = 0; slept < ms && running(works); slept += 100) platform::sleepMs(100);
}

void switchModemLine(Works& works, const char* name, platform::SerialPort::ModemLine line,
                     bool on) {
  trace("Activated %s\n", name);
  logInfo("Activated %s", name);
  std::scoped_lock lock(works.trx.catPortMutex);
  if (works.trx.catPort == nullptr) {
    trace("%s: no CAT port open\n", name);
    return;
  }
  if (const int err = works.trx.catPort->setModemLine(line, on); err != 0) {
    logError("CAT port modem lines: error %d -%s", err, std::strerror(err));
  }
}

// Looks for a keyboard until one opens; false when the program ends first.
bool openKeyboard(Works& works, platform::InputDevice& device, std::string& path) {
  while (running(works)) {
    if (const std::optional<std::string> found = platform::findKeyboard()) {
      path = *found;
      auto opened = platform::InputDevice::openDevice(path);
      if (opened.ok()) {
        device = std::move(opened.value());
        logInfo("Keyboard opened");
        trace("Keyboard opened\n");
        if (const int err = device.grab(); err != 0) {
          logError("Cannot grab %s, error %d -%s", path.c_str(), err, std::strerror(err));
        }
        platform::runCommand("stty -echo");
        return true;
      }
      const int err = opened.error();
      logError("Cannot open %s, error %d -%s", path.c_str(), err, std::strerror(err));
      trace("Cannot open %s, error %d -%s\n", path.c_str(), err, std::strerror(err));
    }
    pause(works, kSearchPauseMs);
  }
  return false;
}

enum class Ending { ProgramEnds, Exit, KeyboardGone };

Ending readKeys(Works& works, platform::InputDevice& device, const std::string& path) {
  int failures = 0;
  while (running(works)) {
    const platform::InputDevice::ReadResult r = device.read(kReadWaitMs);
    switch (r.what) {
      case platform::InputDevice::Read::None:
        break;
      case platform::InputDevice::Read::Ended:
        return Ending::KeyboardGone;
      case platform::InputDevice::Read::Failed:
        logError("error reading %s, error %d -%s", path.c_str(), r.error, std::strerror(r.error));
        trace("error reading %s, error %d -%s\n", path.c_str(), r.error, std::strerror(r.error));
        // A device that keeps failing has gone: look for a keyboard again rather than
        // log the same error for ever.
        if (++failures >= kFailuresBeforeSearch) return Ending::KeyboardGone;
        platform::sleepMs(100);
        break;
      case platform::InputDevice::Read::Event: {
        failures = 0;
        ServiceKey key;
        if (!serviceKeyOfEvent(r.event, key)) break;
        if (key == ServiceKey::Exit) device.close();  // before the shell restores the tty
        if (!serviceKeyPressed(works, key)) return Ending::Exit;
        break;
      }
    }
  }
  return Ending::ProgramEnds;
}

}  // namespace

bool serviceKeyOf(uint16_t code, ServiceKey& key) {
  for (const KeyRow& row : kServiceKeys) {
    if (row.code == code) {
      key = row.key;
      return true;
    }
  }
  return false;
}

bool serviceKeyOfEvent(const platform::InputEvent& event, ServiceKey& key) {
  return event.type == kKeyEvent && event.value == kPressed && serviceKeyOf(event.code, key);
}

bool serviceKeyPressed(Works& works, ServiceKey key) {
  using Line = platform::SerialPort::ModemLine;
  switch (key) {
    case ServiceKey::Screenshot:
      trace("launching screenshot\n");
      logInfo("launching screenshot");
      platform::runCommand("/usr/bin/fbgrab /tmp/screen.png >/dev/null 2>&1 </dev/null");
      logInfo("launched screenshot");
      trace("launched screenshot\n");
      return true;
    case ServiceKey::Exit:
      logInfo("Exited by KEY_F12");
      works.core.running = 0;  // the whole program shuts down
      platform::runCommand("/bin/stty sane");
      platform::runCommand("/usr/bin/tput clear");
      return false;
    case ServiceKey::SaveSetup:
      logInfo("Save setup");
      writeSetup(works);
      return true;
    case ServiceKey::RemoteShell:
      RemoteConnection();
      works.ui.serviceFlags.fetch_or(kServiceRemoteShell);
      return true;
    case ServiceKey::DtrOff:
      switchModemLine(works, "KEY_F1", Line::DTR, false);
      return true;
    case ServiceKey::DtrOn:
      switchModemLine(works, "KEY_F2", Line::DTR, true);
      return true;
    case ServiceKey::RtsOff:
      switchModemLine(works, "KEY_F3", Line::RTS, false);
      return true;
    case ServiceKey::RtsOn:
      switchModemLine(works, "KEY_F4", Line::RTS, true);
      return true;
  }
  return true;
}

void keyb(Works& works) {
  trace("keyb open..\n");
  trace("****************************************\n");
  logInfo("Keyboard function entered");
  while (running(works)) {
    platform::InputDevice device;
    std::string path;
    if (!openKeyboard(works, device, path)) return;
    logInfo("Continuous keyboard loop started, please end using Control C\n");
    trace("Continuous keyboard loop started, please end using Control C\n");
    switch (readKeys(works, device, path)) {
      case Ending::Exit:
        return;
      case Ending::KeyboardGone:
        logError("keyboard %s gone, looking for it again", path.c_str());
        device.close();
        platform::runCommand("stty sane");
        pause(works, kSearchPauseMs);
        break;
      case Ending::ProgramEnds:
        break;
    }
  }
  platform::runCommand("stty sane");
}

void RemoteConnection() {
  trace("launching ssh\n");
  logInfo("launching ssh");
  DeleteLastGoodLink();
  platform::sleepMs(1000);
  platform::runCommand("/opt/sshshell");
  logInfo("launched ssh");
}

}  // namespace corvid
