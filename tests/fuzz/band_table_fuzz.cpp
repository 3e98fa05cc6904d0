// The band tables (antenna.txt, antenna_bN.txt): "!Gen"/"!Pex"/"!817" picks the frequency
// interface, ';' starts a comment, every other line is a band row "name start end amp
// antenna atu att pwrIn". A table with an empty row is replaced by the factory one.
#include <cstddef>
#include <cstdint>

#include "bands/bands.h"
#include "core/works.h"
#include "tests/fuzz/root_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::fuzz::putRootFile(corvid::bandTablePath(0), data, size);
  corvid::Works& works = corvid::fuzz::works();
  corvid::LoadTabConfig(works, 0);
  const corvid::BandTable::Snapshot table = works.bands.bands.get();
  if (table.count < 0 || table.count > corvid::kBandRows) __builtin_trap();
  // The lookups the panel makes with the rows just read.
  for (const corvid::BandRow& row : table.rows) {
    const int found = corvid::bandIndexFor(works, row.start);
    if (found < -1 || found >= corvid::kBandRows) __builtin_trap();
    char name[5];
    corvid::bandNameFor(works, row.end, name);
  }
  return 0;
}
