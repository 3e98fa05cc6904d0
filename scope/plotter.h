// The per-band display settings of the spectrum view and their file.
#pragma once

#include <string>

namespace corvid {

struct Works;

std::string plotterPath();
// The same four values into all twelve rows.
void InitPlotterTab(Works& works, int refLevel, int refPosition, int dbPerDiv, double plotOffset);
// Missing file: the settings' defaults into every row, and the file written.
void LoadPlotterFile(Works& works);
// Atomically, inside the settings partition's read-write window; false on failure.
bool SavePlotterFile(Works& works);

}  // namespace corvid
