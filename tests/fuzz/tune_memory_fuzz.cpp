// The tune memories (atu_antN.txt, atu_antN_bM.txt): "idx freq valid mode L C" lines, ';'
// comments; a record out of what the tuner can set is skipped.
#include <cstddef>
#include <cstdint>

#include "atu/atu.h"
#include "bands/bands.h"
#include "core/works.h"
#include "tests/fuzz/root_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvid::fuzz::putRootFile(corvid::tuneMemoryPath(0, 0), data, size);
  corvid::Works& works = corvid::fuzz::works();
  corvid::LoadTabAtu(works, 0, 0);
  int firstValid = -1;
  for (int idx = 0; idx < corvid::kTuneCells; ++idx) {
    const corvid::TuneRecord r = corvid::LoadTuneValFromTabRam(works, idx, 0);
    if (r.valid > 1 || r.mode > 3 || r.L > 511 || r.C > 511) __builtin_trap();
    if (r.valid != 0 && firstValid < 0) firstValid = idx;
  }
  // The search a band change makes around a stored memory.
  if (firstValid >= 0) {
    corvid::AtuSegment segment{};
    const int idx = corvid::AtuIdxSearch(corvid::AtuFreqfromIdx(firstValid), &segment);
    if (idx >= 0) {
      corvid::SearchBestTune(works, idx, segment.firstIdx, segment.lastIdx, 0);
      corvid::EsisteTuneValInTabRam(works, idx, segment.firstIdx, segment.lastIdx, 0);
    }
  }
  return 0;
}
