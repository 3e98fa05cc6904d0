// Fan speed from the heat-sink temperatures (and from the board's own CPU temperature
// while the table asks for none), the three-stage temperature protection, and the
// temperature log.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "amp/amp.h"
#include "amp/link.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/command.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

namespace {

constexpr const char* kFanPaths[3] = {"/opt/set/ventola.txt", "/opt/set/ventolaSSB.txt",
                                      "/opt/set/ventolaDIG.txt"};

// Table 0 when its file is missing or holds no rows.
const std::vector<FanStep> kDefaultFans = {{45.0f, 70}, {50.0f, 80}, {55.0f, 100}};

const std::vector<FanStep>& tableFor(const Works& works) {
  const int mode = works.set.FANmode.load();
  const size_t index = mode == 1 ? 1 : mode == 2 ? 2 : 0;
  return works.amp.fanTables[index];
}

// A temperature the reading can hold: finite and within float's range ("1e39" would become
// an infinity, and the CPU rule would keep the fan running on it).
bool isReading(double value) {
  return std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max();
}

bool parseFanLine(const std::string& line, FanStep& step) {
  char* end = nullptr;
  const double t = std::strtod(line.c_str(), &end);
  if (end == line.c_str() || !isReading(t)) return false;
  char* end2 = nullptr;
  const double p = std::strtod(end, &end2);
  if (end2 == end || !std::isfinite(p) || p < 0 || p > 1000) return false;
  step.temperature = static_cast<float>(t);
  step.percent = static_cast<int32_t>(p);
  return true;
}


}  // namespace

void takeCpuTempLine(Works& works, const std::string& line) {
  char* end = nullptr;
  const double cpu = std::strtod(line.c_str(), &end);
  if (end != line.c_str() && isReading(cpu)) works.amp.cpuTemp = static_cast<float>(cpu);
}

void takeGpuTempLine(Works& works, const std::string& line) {
  if (line.size() <= 5) return;
  const std::string digits = line.substr(5, 4);  // characters 6 to 9
  char* end = nullptr;
  const double gpu = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() && isReading(gpu)) works.amp.gpuTemp = static_cast<float>(gpu);
}

void ReadVentolaFile(Works& works, int table) {
  if (table < 0 || table > 2) return;
  std::vector<FanStep> rows;
  platform::LineReader reader;
  const bool opened = reader.open(kFanPaths[table]);
  if (opened) {
    std::string line;
    while (reader.next(line, 255)) {
      platform::stripLineEnd(line);
      if (line.empty() || line[0] == ';') continue;
      FanStep step;
      if (parseFanLine(line, step)) rows.push_back(step);
    }
    trace("N %i row - Ventola File %i \n", static_cast<int>(rows.size()), table);
    for (const FanStep& s : rows) {
      trace("->t:%.02f: %d \n", static_cast<double>(s.temperature), s.percent);
    }
  } else {
    trace("Ventola File %i not FOUND!!\n", table);
    logError("can't open /opt/set/ventola.txt");
  }
  if (rows.empty()) {
    // No file, or a file with no rows: the lookup needs at least one row. Table 0
    // falls back to the built-in steps (full speed at the top), the others to table 0.
    rows = table == 0 || works.amp.fanTables[0].empty() ? kDefaultFans : works.amp.fanTables[0];
    for (const FanStep& s : rows) {
      trace("->FAN :%.02f: %d \n", static_cast<double>(s.temperature), s.percent);
    }
  }
  works.amp.fanTables[static_cast<size_t>(table)] = std::move(rows);
}

float SearchTemperatureFromVentola(int percent, const Works& works, int table) {
  if (table < 0 || table > 2) return 0;
  for (const FanStep& s : works.amp.fanTables[static_cast<size_t>(table)]) {
    if (s.percent == percent) return s.temperature;
  }
  return 0;
}

void searchPercentVentola(Works& works) {
  AmpState& amp = works.amp;
  if (works.core.initDone.load() == 0 || amp.fanCmdPending.load() != 0) return;
  const float t = std::max(amp.temp1.load(), amp.temp2.load());
  const std::vector<FanStep>& rows = tableFor(works);
  const int mode = works.set.FANmode.load();
  const int tableIndex = mode == 1 ? 1 : mode == 2 ? 2 : 0;
  // A table is never empty once loaded; an unloaded one runs the fan at full speed.
  int percent = rows.empty() ? 100 : rows.front().percent;
  bool inRange = false;
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    if (rows[i].temperature <= t && t < rows[i + 1].temperature) {
      percent = rows[i].percent;
      inRange = true;
    }
  }
  if (!inRange && !rows.empty() && t >= rows.back().temperature) percent = rows.back().percent;
  amp.fanPercent = percent;

  const int last = amp.lastFanSent.load();
  if (percent != last || amp.fanModeChanged.load() != 0) {
    const float previous = SearchTemperatureFromVentola(last, works, tableIndex);
    const float hysteresis = static_cast<float>(works.set.Isteresi2.load());
    if (percent > last || t < previous - hysteresis || amp.fanModeChanged.load() != 0) {
      IncPNTIn_CMDLinear(CmdFN, works);
      amp.fanCmdPending = 1;
      amp.lastFanSent = percent;
      if (percent == 0) amp.cpuFanSent = 0;
      trace("--->1 VENTOLA: %d (%02.02f°C)\n", percent, static_cast<double>(t));
      amp.fanModeChanged = 0;
    }
  }
  if (amp.lastFanSent.load() != 0) return;

  // The table asks for no fan: the board's own temperature may still want it.
  const float cpu = std::max(amp.cpuTemp.load(), amp.gpuTemp.load());
  const float cpuLimit = static_cast<float>(works.set.CPUTempVentola.load());
  const int cpuPercent = cpu >= cpuLimit ? works.set.CPUPercVentola.load() : 0;
  amp.cpuFanPercent = cpuPercent;
  const int cpuSent = amp.cpuFanSent.load();
  if (cpuPercent == cpuSent) return;
  if (cpuSent >= cpuPercent && cpu >= cpuLimit - static_cast<float>(works.set.Isteresi2.load())) {
    return;
  }
  IncPNTIn_CMDLinear(CmdFNcpu, works);
  amp.cpuFanSent = cpuPercent;
  trace("--->2 VENTOLA CPU: %d (%02.02f°C)\n", cpuPercent, static_cast<double>(cpu));
}

void AttivaDisattivaProtezione(Works& works, bool on) {
  if (on) {
    IncPNTIn_CMDLinear(CmdMP1, works);
    IncPNTIn_CMDLinear(CmdATmax, works);
    trace("PROTEZIONE ON -------------\n");
  } else {
    IncPNTIn_CMDLinear(CmdMP0, works);
    trace("PROTEZIONE OFF -------------\n");
  }
}

void GestTemperatureFunction(Works& works, Err alarmError, Err afterError, Err warningError,
                             float temperature, float limit) {
  if ((works.errors.errorsMuted.load() & 1) != 0) return;
  const float hysteresis = static_cast<float>(works.set.Isteresi1.load());
  const double t = static_cast<double>(temperature);
  if (temperature > limit) {
    if (ExistError(works, alarmError)) return;
    DeleteErrore(works, warningError);
    DeleteErrore(works, afterError);
    AddErrore(works, alarmError);
    AttivaDisattivaProtezione(works, true);
    if (works.set.EnableLOGTemp.load() == 1) {
      LogTempFunction(works, 1);
      works.amp.logActive = 0;
    }
    IncPNTIn_CMDLinear(CmdAB0, works);
    trace("!!!!  TEMP ALLARM: %02.02f (%i)\n", t, errorNumber(alarmError));
  } else if (temperature < limit - hysteresis) {
    if (ExistError(works, alarmError)) {
      DeleteErrore(works, alarmError);
      IncPNTIn_CMDLinear(CmdAB1, works);
      AddErrore(works, afterError);
      trace("!!!! END TEMPERATURE ERROR (%i)\n", errorNumber(alarmError));
    }
    if (ExistError(works, warningError)) {
      DeleteErrore(works, warningError);
      trace("!!!! WARNING: Warning Temperatura Rientrato!! (%i)\n", errorNumber(alarmError));
    }
  } else if (!ExistError(works, alarmError) && !ExistError(works, warningError)) {
    AddErrore(works, warningError);
    trace("!!!! WARNING: Quasi in Temperatura!! (%i)\n", errorNumber(alarmError));
  }
}

float ConversionCelsius_to_Fahrenheit(float celsius) {
  return celsius * 9 / 5 + 32;
}

void LogTempFunction(Works& works, int mode) {
  platform::SetWriteWindow window;
  if (!window.writable()) {
    trace("can't mount rw /opt/set/ error %d\n", errno);
    return;
  }
  if (mode == -1) {
    platform::runCommand("rm /opt/set/LOGtemp.txt");
    return;
  }
  const AmpState& amp = works.amp;
  char line[256];
  const bool transmitting = (amp.statusB.load() & 0x01) != 0;
  std::snprintf(line, sizeof line, "%s , %d,%04.01f,%04.01f,%02.01fW,%03.02f,%04.01fV,%04.01fA%s\n",
                works.ui.dateTimeText.get().c_str(), transmitting ? 1 : 0,
                static_cast<double>(amp.temp1.load()), static_cast<double>(amp.temp2.load()),
                static_cast<double>(amp.pwrFwd.load()), static_cast<double>(amp.swr.load()),
                static_cast<double>(CalvTensVadcAmp(works, works.ui.tinyVamp.load())),
                static_cast<double>(amp.ampCurrentRaw.load() / 4096.0f * 14.05f),
                mode == 1 ? " -> protezione attiva" : "");
  // The log grows line by line: an append, but through the same rewrite as every other
  // file, so a power cut never leaves half a line.
  std::string content;
  platform::LineReader reader;
  if (reader.open(kTempLogPath)) {
    std::string old;
    while (reader.next(old, 4096)) content += old;
  } else {
    content = ";TX,Temp1,Temp2,FDD,SWR\n";
  }
  content += line;
  if (const int err = platform::replaceFileAtomically(kTempLogPath, content); err != 0) {
    logError("can't write /opt/set/LOGtemp.txt error %d", err);
  }
}

}  // namespace corvid
