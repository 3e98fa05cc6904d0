#include "system/updates.h"

#include <cerrno>
#include <cstdio>
#include <span>

#include "amp/amp.h"
#include "core/works.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

namespace {


template <typename... Args>
void appendLine(std::string& out, const char* format, Args... args) {
  char line[256];
  std::snprintf(line, sizeof line, format, args...);
  out += line;
}

double d(float value) {
  return static_cast<double>(value);
}

int runUpdateScript(Works& works, std::string_view script) {
  works.system.updateErrorText.set("0");
  auto pipe = platform::CommandPipe::start(script);
  if (!pipe) {
    // Reported as a failed update; the amplifier goes on.
    logError("can't run %s", std::string(script).c_str());
    return -1;
  }
  UpdateOutput output;
  for (std::string line; pipe->readLine(line, kUpdateLineMax);) {
    if (!output.take(line)) break;
  }
  pipe->close();
  if (output.sawError()) works.system.updateErrorText.set(output.errorText());
  return output.result();
}

}  // namespace

std::string pageText(std::span<const uint8_t> page) {
  std::string text;
  for (uint8_t byte : page) {
    if (byte == 0) break;
    text += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
  }
  return text;
}

std::string infoFileText(const Works& works) {
  const AmpState& amp = works.amp;
  const Settings& set = works.set;
  EepromPages pages;
  {
    std::scoped_lock lock(amp.eepromMutex);
    pages = amp.eeprom;
  }
  const uint8_t region = amp.ampModelAux.load();
  const uint8_t power = amp.ampModel.load();
  const bool fahrenheit = set.TempMode.load() == 1;
  auto temperature = [&](float celsius) {
    return d(fahrenheit ? ConversionCelsius_to_Fahrenheit(celsius) : celsius);
  };
  const float raw = amp.ampCurrentRaw.load();

  std::string out;
  appendLine(out, "TIME: %s\n", works.ui.dateTimeText.get().c_str());
  appendLine(out, "SW ver. %s\nFW ver. %s\nHW ver. %s\n", works.core.version.c_str(),
             amp.ampFwVersion.get().c_str(), pageText(pages.page2).c_str());
  appendLine(out, "Serial Number: %s \nCompany: %s\nTYPE: %s\nMAXPOWER: %s\n",
             pageText(pages.page0).c_str(), pageText(pages.page1).c_str(),
             region == '0'   ? "EU"
             : region == '1' ? "USA"
                             : "",
             power == '0'   ? "60W"
             : power == '1' ? "120W"
                            : "");
  appendLine(out, "FWD:%02.01f \nRFL:%02.01f \nPW:%02.01f \nSWR:%02.01f\n", d(amp.pwrFwd),
             d(amp.pwrRefl), d(amp.pwrIn), d(amp.swr));
  const char* current = fahrenheit ? "Current:%05.01fA (%05.01f), Tbrd:%04.02f°F, Thsk:%04.02f°F\n"
                                   : "Current:%05.01fA (%05.01f), Tbrd:%04.02f°C, Thsk:%04.02f°C\n";
  appendLine(out, current, d(raw * 14.05f / 4096.0f), d(raw), temperature(amp.temp1),
             temperature(amp.temp2));
  appendLine(out, fahrenheit ? "CPU:%4.01f°F, GPU:%4.01f°F\n" : "CPU:%2.01f°C, GPU:%2.01f°C\n",
             temperature(amp.cpuTemp), temperature(amp.gpuTemp));
  appendLine(out,
             fahrenheit ? "Set Point Alarm %4.01f°F, FAN: %i%% \n"
                        : "Set Point Alarm %04.02f°C, FAN: %i%% \n",
             temperature(set.MaxTemperature), amp.fanPercent.load());
  appendLine(out, "State 0x%02x 0x%02x,ES:%d,ER:%d \n", amp.statusA.load(), amp.statusB.load(),
             amp.retryTotal.load(), amp.linkRestarts.load());
  appendLine(out, "ver. %x, V12: %02.01fV, V15: %02.01fV, Vamp: %02.01fV\n",
             works.core.tinyVersion.load(), d(CalvTensVadcAmp(works, works.ui.tinyV12.load())),
             d(CalvTensVadcAmp(works, works.ui.tinyV15.load())),
             d(CalvTensVadcAmp(works, works.ui.tinyVamp.load())));
  return out;
}

void WrInfoFile(Works& works) {
  platform::SetWriteWindow window;
  if (!window.writable()) {
    trace("can't mount rw /opt/set/ error %d\n", errno);
    return;
  }
  // Replaced, not removed and written again: a power cut leaves the old file or the new.
  if (platform::replaceFileAtomically(kInfoPath, infoFileText(works)) != 0) {
    logError("can't open /opt/set/autotune.txt for writing");
  }
}

bool UpdateOutput::take(std::string_view line) {
  if (line.starts_with("ALLOK")) {
    result_ = 0;
    return false;
  }
  if (line.starts_with("VORNE")) {
    errorText_ = previous_;
    sawError_ = true;
    result_ = 0;
    // The number from the 11th character on, as atoi reads it.
    size_t at = 10;
    while (at < line.size() && line[at] == ' ') ++at;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && result_ < 100000; ++at) {
      result_ = result_ * 10 + (line[at] - '0');
    }
  }
  previous_ = std::string(line);
  return true;
}

int ReadSystemGetpack(Works& works) {
  return runUpdateScript(works, kUpdateScript);
}
int ReadSystemGetpack2(Works& works) {
  return runUpdateScript(works, kServiceUpdateScript);
}

void DeleteLastGoodLink() {
  int status = 0;
  if (platform::fileExists("/opt/good")) {
    trace("**** DELETE /OPT/GOOD EXIST !!\n");
    // Only the documented marker is removed, while the root is writable too.
    if (const auto rw = platform::runCommand("/bin/mount -o remount defaults,rw /"); !rw.ok()) {
      logError("can't mount rw /opt/set/ error %d", rw.errorCode());
      return;
    }
    const auto rm = platform::runCommand("rm -f /opt/set/good >/dev/null 2>&1");
    platform::runCommand("/bin/mount -o remount defaults,ro /");
    if (!rm.ok()) {
      logError("can't delete /opt/set/good error %d", rm.errorCode());
      return;
    }
  }
  {
    platform::SetWriteWindow window;
    if (!window.writable()) {
      trace("can't mount rw /opt/set/ error %d\n", errno);
      return;
    }
    const auto rm = platform::runCommand("rm -f /opt/set/good >/dev/null 2>&1");
    status = rm.errorCode();
    if (!rm.ok()) trace("can't delete /opt/good error %d\n", status);
  }
  trace("END AGG FW %i..\n", status);
}

void AggFWThread(Works& works) {
  for (int second = 0; second < 30; ++second) {
    if (works.core.running.load() == 0) return;
    platform::sleepMs(1000);
  }
  if (works.core.running.load() == 0) return;
  DeleteLastGoodLink();
}

}  // namespace corvid
