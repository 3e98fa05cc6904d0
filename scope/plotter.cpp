// "/opt/set/plotter.txt": one line per band row, "refLevel refPosition dbPerDiv offset".
#include "scope/plotter.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/works.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

namespace {

constexpr size_t kLineMax = 127;  // characters of a line that are read

// The next whole number of the line, base 10; false when there is none.
bool nextInt(const char*& at, int& value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(at, &end, 10);
  if (end == at) return false;
  value = errno == ERANGE || v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  at = end;
  return true;
}

bool nextReal(const char*& at, double& value) {
  char* end = nullptr;
  const double v = std::strtod(at, &end);
  if (end == at || !std::isfinite(v)) return false;  // "inf" and "nan" are no offset
  value = v;
  at = end;
  return true;
}

// A data line into a row; a line without its four numbers leaves the row as it was.
void parseRow(const std::string& line, PlotterRow& row) {
  const char* at = line.c_str();
  PlotterRow r = row;
  if (nextInt(at, r.refLevel) && nextInt(at, r.refPosition) && nextInt(at, r.dbPerDiv) &&
      nextReal(at, r.plotOffset)) {
    row = r;
  }
}

}  // namespace

std::string plotterPath() {
  return "/opt/set/plotter.txt";
}

void InitPlotterTab(Works& works, int refLevel, int refPosition, int dbPerDiv, double plotOffset) {
  PlotterTable::Rows rows;
  rows.fill({plotOffset, refLevel, refPosition, dbPerDiv});
  works.spectrum.plotter.set(rows);
}

void LoadPlotterFile(Works& works) {
  platform::LineReader reader;
  if (!reader.open(plotterPath())) {
    const Settings& s = works.set;
    InitPlotterTab(works, s.RefLevelPlot.load(), s.RefPosPlot.load(), s.PointDivPlot.load(),
                   s.OffsetPlot.load());
    SavePlotterFile(works);
    return;
  }
  PlotterTable::Rows rows = works.spectrum.plotter.get();
  std::string line;
  size_t row = 0;
  while (row < rows.size() && reader.next(line, kLineMax)) {
    platform::stripLineEnd(line);
    if (!line.empty() && line[0] == ';') continue;
    parseRow(line, rows[row]);
    ++row;
  }
  works.spectrum.plotter.set(rows);
}

bool SavePlotterFile(Works& works) {
  const PlotterTable::Rows rows = works.spectrum.plotter.get();
  std::string content;
  char line[128];
  for (const PlotterRow& r : rows) {
    std::snprintf(line, sizeof line, "%i %i %i %2.1f\n", r.refLevel, r.refPosition, r.dbPerDiv,
                  r.plotOffset);
    content += line;
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return false;
  if (platform::replaceFileAtomically(plotterPath(), content) != 0) {
    platform::logError("can't open /opt/set/plotter.txt for writing");
    return false;
  }
  return true;
}

}  // namespace corvid
