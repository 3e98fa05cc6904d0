// Tune memories: the frequency cells, the per-antenna tables of the current bank, the
// nearest-cell recall and the memory files.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "atu/atu.h"
#include "bands/bands.h"
#include "core/works.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

// ---- cells ----

namespace {
struct StepRow {
  long from;
  long width;
};
// Start frequency and cell width of each segment; the last row only ends the table.
constexpr StepRow tabAtuStep[23] = {
    {0, 2000},         {1800000, 2000},   {2000000, 4000},   {3500000, 4000},   {4000000, 5000},
    {5330000, 5000},   {5400000, 5000},   {7000000, 5000},   {7300000, 5000},   {10100000, 10000},
    {10150000, 10000}, {14000000, 10000}, {14350000, 10000}, {18000000, 10000}, {18170000, 10000},
    {21000000, 20000}, {21500000, 25000}, {24850000, 25000}, {25000000, 25000}, {28000000, 25000},
    {29700000, 50000}, {50000000, 50000}, {54000000, -1},
};
constexpr int kSegments = 22;

AtuSegment segmentAt(int i) {
  long first = 0;
  for (int k = 0; k < i; ++k) {
    first += (tabAtuStep[k + 1].from - tabAtuStep[k].from) / tabAtuStep[k].width;
  }
  const long cells = (tabAtuStep[i + 1].from - tabAtuStep[i].from) / tabAtuStep[i].width;
  return {tabAtuStep[i].from, tabAtuStep[i + 1].from, first, first + cells};
}
}  // namespace

int AtuIdxSearch(long freq, AtuSegment* segment) {
  int i = 0;
  while (i < kSegments - 1 && !(tabAtuStep[i].from <= freq && freq < tabAtuStep[i + 1].from)) {
    ++i;
  }
  const AtuSegment s = segmentAt(i);
  const long width = tabAtuStep[i].width;
  long idx = s.firstIdx + (freq + width / 2 - s.from) / width;
  if (freq > s.to) ++idx;
  if (segment != nullptr) *segment = s;
  return static_cast<int>(std::clamp(idx, -1L, 1L << 30));
}

long AtuFreqfromIdx(int idx) {
  for (int i = 0; i < kSegments; ++i) {
    const AtuSegment s = segmentAt(i);
    if (s.lastIdx >= idx) return s.from + (idx - s.firstIdx) * tabAtuStep[i].width;
  }
  // Above the table (over 54 MHz): the last segment's cells carry on.
  const AtuSegment s = segmentAt(kSegments - 1);
  return s.from + (idx - s.firstIdx) * tabAtuStep[kSegments - 1].width;
}

void SaveTuneValsuTabRam(Works& works, TuneRecord record, int idx, int antenna) {
  if (idx > kTuneCells - 1) return;
  works.atu.memory.set(antenna, idx, record);
}

TuneRecord LoadTuneValFromTabRam(const Works& works, int idx, int antenna) {
  TuneRecord r = works.atu.memory.get(antenna, idx);
  if (r.mode == 3) r.mode = 1;  // a stored bypass comes back as the CL network
  return r;
}

int SearchBestTune(const Works& works, int idx, long firstIdx, long lastIdx, int antenna) {
  int best = -1;
  long bestDistance = lastIdx - firstIdx;  // a candidate must be nearer than this
  for (long cell = firstIdx; cell < lastIdx; ++cell) {
    if (works.atu.memory.get(antenna, static_cast<int>(cell)).valid == 0) continue;
    const long distance = std::labs(cell - idx);
    if (distance < bestDistance) {  // strictly nearer: on a tie the lower cell stays
      bestDistance = distance;
      best = static_cast<int>(cell);
    }
  }
  return best;
}

int EsisteTuneValInTabRam(const Works& works, int idx, long firstIdx, long lastIdx, int antenna) {
  if (works.atu.memory.get(antenna, idx).valid != 0) return 0;
  return SearchBestTune(works, idx, firstIdx, lastIdx, antenna) < 0 ? 1 : 0;
}

void LoadTuneFromMEM(Works& works, int antenna) {
  AtuState& atu = works.atu;
  const long freq = static_cast<long>(works.ui.trxFreq.load());
  AtuSegment seg;
  int idx = AtuIdxSearch(freq, &seg);
  TuneRecord record = LoadTuneValFromTabRam(works, idx, antenna);
  if (record.valid == 0) {
    idx = SearchBestTune(works, idx, seg.firstIdx, seg.lastIdx, antenna);
    record = idx >= 0 ? LoadTuneValFromTabRam(works, idx, antenna) : TuneRecord{};
  }
  const uint32_t v = atu.tuneValue.load();
  atu.tuneC = DecodeCapacitaFromTuneval(v);
  atu.tuneL = DecodeInduttanzaFromTuneval(v);
  atu.tuneMode = static_cast<uint8_t>(DecodeModoFromTuneval(v));
  if (record.valid == 0 || (record.C == atu.tuneC.load() && record.L == atu.tuneL.load() &&
                            record.mode == atu.tuneMode.load())) {
    return;
  }
  SetC(works, record.C);
  SetI(works, record.L);
  SetMode(works, record.mode);
  ReadTnePar(works);
  trace(">>>>>>>>>>>>>>> MEMTUNE: load a Tune for %ld idx:%d -> C %d I %d!!\n", freq, idx, record.C,
        record.L);
  char info[64];
  std::snprintf(info, sizeof info, "Tune Data Loaded (L%i,C%i,%s)", record.L, record.C,
                modeLabel(record.mode));
  atu.tuneInfoText.set(info);
}

void InsertTuneToMem(Works& works, int bank, int antenna) {
  const long freq = static_cast<long>(works.ui.trxFreq.load());
  const int idx = AtuIdxSearch(freq);
  trace("--------------> Save Tune To File idx %ld (idx:%d)\n", freq, idx);
  const uint32_t v = works.atu.tuneValue.load();
  TuneRecord record;
  record.valid = 1;
  record.mode = static_cast<uint8_t>(DecodeModoFromTuneval(v));
  record.L = static_cast<uint16_t>(DecodeInduttanzaFromTuneval(v));
  record.C = static_cast<uint16_t>(DecodeCapacitaFromTuneval(v));
  trace("-------------- Save TuneVal C:%i, L:%i, M:%c\n", record.C, record.L, '0' + record.mode);
  SaveTuneValsuTabRam(works, record, idx, antenna);
  SaveTabAtu(works, bank, antenna);
}

// ---- files ----

namespace {
// An unsigned decimal at the front of text (after blanks); advances text. Missing: 0.
bool readNumber(const char*& text, long long max, long long& value) {
  while (*text == ' ' || *text == '\t') ++text;
  if (*text == '\0') {
    value = 0;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || errno != 0 || v < 0 || v > max) return false;
  text = end;
  value = v;
  return true;
}
}  // namespace

void LoadTabAtu(Works& works, int bank, int antenna) {
  if (antenna < 0 || antenna >= kAntennas) return;
  works.atu.memory.clear(antenna);
  platform::LineReader reader;
  if (!reader.open(tuneMemoryPath(bank, antenna))) return;
  std::string line;
  int lines = 0;
  while (lines < kTuneCells && reader.next(line, 511)) {
    platform::stripLineEnd(line);
    if (!line.empty() && line[0] == ';') continue;
    ++lines;
    const char* p = line.c_str();
    long long idx = 0;
    long long freq = 0;
    long long valid = 0;
    long long mode = 0;
    long long l = 0;
    long long c = 0;
    if (!readNumber(p, kTuneCells - 1, idx) || line.empty()) {
      trace("LoadTabAtu Errore idx\n");
      continue;
    }
    // The frequency column is ignored; a record must hold steps a tuner can set.
    if (!readNumber(p, 1LL << 40, freq) || !readNumber(p, 1, valid) || !readNumber(p, 3, mode) ||
        !readNumber(p, 511, l) || !readNumber(p, 511, c)) {
      trace("LoadTabAtu Errore record %lld\n", idx);
      continue;
    }
    TuneRecord r;
    r.valid = static_cast<uint8_t>(valid);
    r.mode = static_cast<uint8_t>(mode);
    r.L = static_cast<uint16_t>(l);
    r.C = static_cast<uint16_t>(c);
    works.atu.memory.set(antenna, static_cast<int>(idx), r);
  }
}

void SaveTabAtu(Works& works, int bank, int antenna) {
  trace("SaveTabAtu Bank%i , antenna %i\n", bank, antenna);
  if (antenna < 0 || antenna >= kAntennas) return;
  std::string content;
  char line[96];
  for (int idx = 0; idx < kTuneCells; ++idx) {
    const TuneRecord r = works.atu.memory.get(antenna, idx);
    if (r.valid == 0) continue;
    std::snprintf(line, sizeof line, "%i %ld %i %i %i %i\n", idx, AtuFreqfromIdx(idx), r.valid,
                  r.mode, r.L, r.C);
    content += line;
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return;
  if (platform::replaceFileAtomically(tuneMemoryPath(bank, antenna), content) != 0) {
    logError("can't open /opt/set/autotune.txt for writing");
  }
}

}  // namespace corvid
