#include "spectrum/plotter.h"

#include "core/works.h"

namespace corvid {

// The file comes next.
std::string plotterPath() {
  return "/opt/set/plotter.txt";
}
void InitPlotterTab(Works& works, int refLevel, int refPosition, int dbPerDiv, double plotOffset) {
  PlotterTable::Rows rows;
  rows.fill({plotOffset, refLevel, refPosition, dbPerDiv});
  works.spectrum.plotter.set(rows);
}
void LoadPlotterFile(Works&) {}
bool SavePlotterFile(Works&) {
  return true;
}

}  // namespace corvid
