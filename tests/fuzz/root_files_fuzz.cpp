// The small tables of the root folder, one per input: the first byte picks the file, the
// rest is its content, read by the controller's own loader.
//   0 filter.txt          receive filters, "Fstart Fstop enabled" (LoadTabFiltri)
//   1 ventola.txt         fan steps "temperature percent", tables 0 to 2 (ReadVentolaFile)
//   2 config_offset.txt   "KostPWRIN: n" and friends, numbers as %i reads them
//   3 config.txt          calibration rows of 13 to 24 numbers (ReadConfigFile)
//   4 plotter.txt         "refLevel refPosition dbPerDiv offset" per band (LoadPlotterFile)
//   5 interfaces          address, netmask, gateway, DNS (ReadLanParam)
//   6 name.txt            the unit's name, its last line (LoadNameCORVID)
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "amp/amp.h"
#include "bands/bands.h"
#include "core/settings.h"
#include "core/works.h"
#include "scope/plotter.h"
#include "system/network.h"
#include "tests/fuzz/root_file.h"

namespace {

using corvid::Works;

constexpr std::array<std::string_view, 3> kFanFiles = {
    "/opt/set/ventola.txt", "/opt/set/ventolaSSB.txt", "/opt/set/ventolaDIG.txt"};

void fanTable(Works& works, const uint8_t* data, size_t size) {
  // The next byte picks the table; the fan speed is looked up in it as the loop does.
  const int table = size > 0 ? data[0] % 3 : 0;
  corvid::fuzz::putRootFile(kFanFiles[static_cast<size_t>(table)], data + (size > 0), size - (size > 0));
  corvid::ReadVentolaFile(works, table);
  if (works.amp.fanTables[static_cast<size_t>(table)].empty()) __builtin_trap();
  works.set.FANmode = table;
  corvid::searchPercentVentola(works);
  for (int percent : {0, 50, 100}) corvid::SearchTemperatureFromVentola(percent, works, table);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Works& works = corvid::fuzz::works();
  const uint8_t which = data[0] % 7;
  ++data;
  --size;
  switch (which) {
    case 0:
      corvid::fuzz::putRootFile("/opt/set/filter.txt", data, size);
      corvid::LoadTabFiltri(works);
      corvid::SetFilterFromfreq(works);
      break;
    case 1:
      fanTable(works, data, size);
      break;
    case 2:
      corvid::fuzz::putRootFile(corvid::kConfigOffsetPath, data, size);
      corvid::LoadConfigOffsetFile(works);
      break;
    case 3:
      corvid::fuzz::putRootFile(corvid::kConfigPath, data, size);
      corvid::ReadConfigFile(works);
      // The constants of the rows just read, as the measurements look them up.
      for (int kind = 0; kind < 4; ++kind) {
        const float k = corvid::SearchK(works, kind);
        static_cast<void>(corvid::CalcolaWatt(works.amp.KostFORW, 2048, k));
      }
      break;
    case 4:
      corvid::fuzz::putRootFile(corvid::plotterPath(), data, size);
      corvid::LoadPlotterFile(works);
      for (int row = 0; row < corvid::kBandRows; ++row) {
        if (!std::isfinite(works.spectrum.plotter.row(row).plotOffset)) __builtin_trap();
      }
      break;
    case 5:
      corvid::fuzz::putRootFile(corvid::kInterfacesPath, data, size);
      corvid::ReadLanParam(works);
      break;
    default:
      corvid::fuzz::putRootFile(corvid::kNamePath, data, size);
      corvid::LoadNameCORVID(works);
      break;
  }
  return 0;
}
