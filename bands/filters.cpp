// Receive filters: eight frequency ranges, one per filter path of the amplifier.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "amp/link.h"
#include "bands/bands.h"
#include "core/works.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

namespace {
constexpr const char* kFilterPath = "/opt/set/filter.txt";
constexpr const char* kFilterHeader =
    ";Fstart(hz)\tFstop         enabled   : 1= abilitata, l'ordine delle righe corrisponde al "
    "filtro di attivazione   j23 ultimo by pass (0 ,54000000)  verso esterno\n";

// An unsigned number with automatic base, as the table holds frequencies; a value that
// does not fit a row is taken as 0 so it can never match.
int32_t readFrequency(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '-') return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(p, &end, 0);
  if (end == p) return 0;
  p = end;
  return errno != 0 || v > INT32_MAX ? 0 : static_cast<int32_t>(v);
}
}  // namespace

void LoadTabFiltri(Works& works) {
  std::scoped_lock lock(works.bands.filterMutex);
  for (FilterRow& r : works.bands.filters) r.enabled = 0;
  platform::LineReader reader;
  if (!reader.open(kFilterPath)) {
    trace("Filter File not FOUND!!\n");
    return;
  }
  std::string line;
  size_t row = 0;
  while (row < works.bands.filters.size() && reader.next(line, 511)) {
    platform::stripLineEnd(line);
    if (!line.empty() && line[0] == ';') continue;
    FilterRow& r = works.bands.filters[row];
    const char* p = line.c_str();
    r.Fstart = readFrequency(p);
    r.Fstop = readFrequency(p);
    char* end = nullptr;
    const long enabled = std::strtol(p, &end, 10);
    r.enabled = end == p ? 0 : static_cast<int32_t>(std::clamp(enabled, -1000L, 1000L));
    trace("Filter %i %ld,%ld,%x\n", static_cast<int>(row), static_cast<long>(r.Fstart),
          static_cast<long>(r.Fstop), static_cast<unsigned>(r.enabled));
    ++row;
  }
}

void SaveTabFiltri(Works& works) {
  trace("SaveTabFiltri \n");
  std::string content = kFilterHeader;
  {
    std::scoped_lock lock(works.bands.filterMutex);
    char line[96];
    for (const FilterRow& r : works.bands.filters) {
      std::snprintf(line, sizeof line, "%ld\t\t%ld\t\t%i \n", static_cast<long>(r.Fstart),
                    static_cast<long>(r.Fstop), r.enabled & 0xFF);
      content += line;
    }
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return;
  if (platform::replaceFileAtomically(kFilterPath, content) != 0) {
    logError("can't open /opt/set/autotune.txt for writing");
  }
}

void SetFilterFromfreq(Works& works) {
  const long freq = static_cast<long>(works.ui.trxFreq.load());
  int chosen = -1;
  {
    std::scoped_lock lock(works.bands.filterMutex);
    for (size_t i = 0; i < works.bands.filters.size(); ++i) {
      const FilterRow& r = works.bands.filters[i];
      if (r.Fstart <= freq && freq <= r.Fstop && r.enabled == 1) {
        chosen = static_cast<int>(i);
        break;
      }
    }
  }
  if (chosen >= 0) {
    const uint8_t mask = static_cast<uint8_t>(1u << chosen);
    if (mask != works.bands.filterMask.load()) {
      works.bands.filterMask = mask;
      IncPNTIn_CMDLinear(CmdSF, works);
      trace(">>>>>>>>>>>>>>> SET FILTER: %i!!\n", chosen + 1);
    }
  } else if (works.bands.filterMask.load() != 0) {
    works.bands.filterMask = 0;
    IncPNTIn_CMDLinear(CmdSF, works);
    trace(">>>>>>>>>>>>>>> SET NESSUN FILTER!!\n");
  }
}

}  // namespace corvid
