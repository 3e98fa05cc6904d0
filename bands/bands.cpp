// The band table of a bank and its file, bank and interface switching.
#include "bands/bands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "amp/link.h"
#include "core/settings.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "platform/command.h"
#include "platform/files.h"
#include "platform/log.h"

namespace corvid {

using platform::logError;
using platform::trace;

namespace {

struct FactoryBand {
  const char* name;
  uint32_t start;
  uint32_t end;
};

constexpr FactoryBand kFactoryBands[kBandRows] = {
    {"160m", 1800000, 2000000},  {"80m", 3500000, 4000000},   {"60m", 5330500, 5450000},
    {"40m", 7000000, 7300000},   {"30m", 10100000, 10150000}, {"20m", 14000000, 14350000},
    {"17m", 18068000, 18168000}, {"15m", 21000000, 21450000}, {"12m", 24890000, 24990000},
    {"10m", 28000000, 29700000}, {"6m", 50000000, 54000000},
};

int findBand(const BandTable::Snapshot& t, uint32_t freq) {
  for (int i = 0; i < t.count && i < kBandRows; ++i) {
    if (t.rows[static_cast<size_t>(i)].start <= freq &&
        freq <= t.rows[static_cast<size_t>(i)].end) {
      return i;
    }
  }
  return -1;
}

// An unsigned number with automatic base at p; advances p. Missing: 0.
uint32_t readUnsigned(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == '-' || *p == '\0') return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(p, &end, 0);
  if (end == p) return 0;
  p = end;
  return errno != 0 || v > UINT32_MAX ? 0 : static_cast<uint32_t>(v);
}

long readDecimal(const char*& p) {
  while (*p == ' ' || *p == '\t') ++p;
  char* end = nullptr;
  const long v = std::strtol(p, &end, 10);
  if (end == p) return 0;
  p = end;
  return v;
}

float readFloat(const char*& p) {
  char* end = nullptr;
  const float v = std::strtof(p, &end);
  if (end == p || !std::isfinite(v)) return 0;
  p = end;
  return v;
}

}  // namespace

std::string bandTablePath(int bank) {
  if (bank >= 1 && bank <= 19) return "/opt/set/antenna_b" + std::to_string(bank) + ".txt";
  return "/opt/set/antenna.txt";
}

std::string tuneMemoryPath(int bank, int antenna) {
  char path[64];
  if (bank >= 1 && bank <= 19) {
    std::snprintf(path, sizeof path, "/opt/set/atu_ant%d_b%d.txt", antenna + 1, bank);
  } else {
    std::snprintf(path, sizeof path, "/opt/set/atu_ant%d.txt", antenna + 1);
  }
  return path;
}

void InitTabAntenna(Works& works, int keepChoices) {
  BandTable::Snapshot t = works.bands.bands.get();
  for (int i = 0; i < kBandRows; ++i) {
    BandRow& r = t.rows[static_cast<size_t>(i)];
    std::snprintf(r.name, sizeof r.name, "%s", kFactoryBands[i].name);
    r.start = kFactoryBands[i].start;
    r.end = kFactoryBands[i].end;
    if (keepChoices == 0) {
      r.AmpEnable = 0;
      r.Ant = 1;
      r.Atu = 1;
      r.Att = 0;
      r.PwrIn = 0.0f;
    }
  }
  t.count = kBandRows;
  works.bands.bands.set(t);
}

FreqInterface LoadTabConfig(Works& works, int bank) {
  BandTable::Snapshot t = works.bands.bands.get();
  for (BandRow& r : t.rows) r.AmpEnable = 0;
  works.bands.bands.set(t);
  FreqInterface iface = FreqInterface::ExtIo;
  platform::LineReader reader;
  if (!reader.open(bandTablePath(bank))) {
    InitTabAntenna(works, 0);
    return iface;
  }
  int count = 0;
  std::string line;
  while (count < kBandRows && reader.next(line, 511)) {
    platform::stripLineEnd(line);
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '!') {
      const std::string tag = line.substr(1, 3);
      if (tag == "Gen") iface = FreqInterface::Generic;
      if (tag == "Pex") iface = FreqInterface::ExtIo;
      if (tag == "817") iface = FreqInterface::Ft817;
      continue;
    }
    BandRow& r = t.rows[static_cast<size_t>(count++)];
    const size_t blank = line.find(' ');
    const std::string name = line.substr(0, std::min<size_t>(blank, 7));
    std::memset(r.name, 0, sizeof r.name);
    std::memcpy(r.name, name.data(), name.size());
    // The numbers start after the one character that follows the name.
    const size_t numbers = blank == std::string::npos ? line.size() : blank + 1;
    const char* p = line.c_str() + numbers;
    r.start = readUnsigned(p);
    r.end = readUnsigned(p);
    r.AmpEnable = static_cast<uint8_t>(readDecimal(p));
    r.Ant = static_cast<uint8_t>(readDecimal(p));
    r.Atu = static_cast<uint8_t>(readDecimal(p));
    r.Att = static_cast<uint8_t>(readDecimal(p));
    r.PwrIn = readFloat(p);
  }
  t.count = count;
  works.bands.bands.set(t);
  for (int i = 0; i < count; ++i) {
    const BandRow& r = t.rows[static_cast<size_t>(i)];
    if (r.start == 0 || r.end == 0) {
      InitTabAntenna(works, 1);
      trace("Error Reinit antenna\n");
      break;
    }
  }
  works.atu.lastBandApplied = -1;
  return iface;
}

void SaveTabConfig(Works& works, int bank) {
  const BandTable::Snapshot t = works.bands.bands.get();
  const FreqInterface iface = works.bands.freqInterface.load();
  std::string content = iface == FreqInterface::ExtIo   ? "!Pex\n"
                        : iface == FreqInterface::Ft817 ? "!817\n"
                                                        : "!Gen\n";
  char line[128];
  for (int i = 0; i < t.count && i < kBandRows; ++i) {
    const BandRow& r = t.rows[static_cast<size_t>(i)];
    std::snprintf(line, sizeof line, "%s %ld %ld %i %i %i %i %2.1f\n", r.name,
                  static_cast<long>(r.start), static_cast<long>(r.end), r.AmpEnable, r.Ant, r.Atu,
                  r.Att, static_cast<double>(r.PwrIn));
    content += line;
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return;
  if (platform::replaceFileAtomically(bandTablePath(bank), content) != 0) {
    logError("can't open /opt/set/autotune.txt for writing");
  }
}

void LoadAllBankTable(Works& works, int bank) {
  works.bands.freqInterface = LoadTabConfig(works, bank);
  if (works.bands.hooks.LoadTabAtu != nullptr) {
    for (int antenna = 0; antenna < kAntennas; ++antenna) {
      works.bands.hooks.LoadTabAtu(works, bank, antenna);
    }
  }
  SetModeWorkIDX(works);
}

int bandIndexFor(const Works& works, uint32_t freq) {
  return findBand(works.bands.bands.get(), freq);
}

int SearchBandaIdx(const Works& works) {
  return bandIndexFor(works, works.ui.trxFreq.load());
}

double LoadOffsetBanda(const Works& works) {
  const int i = SearchBandaIdx(works);
  return i < 0 ? 0.0 : works.spectrum.plotter.row(i).plotOffset;
}

void SaveToBank(Works& works, int bank, int antenna) {
  BandTable::Snapshot t = works.bands.bands.get();
  const int i = findBand(t, works.ui.trxFreq.load());
  if (i >= 0) {
    BandRow& r = t.rows[static_cast<size_t>(i)];
    r.Ant = static_cast<uint8_t>(antenna + 1);
    r.Atu = works.atu.tunerBypassed.load();
    r.Att = static_cast<uint8_t>(works.atu.attStep.load());
    r.AmpEnable = works.atu.attSelect.load() <= 3 ? 1 : 0;
    works.bands.bands.set(t);
  }
  SaveTabConfig(works, bank);
}

void SaveToBankDebug(Works& works, int bank, int att) {
  BandTable::Snapshot t = works.bands.bands.get();
  for (BandRow& r : t.rows) {
    r.Ant = 1;
    r.Atu = 1;
    if (att > 3) {
      r.Att = 0;
      r.AmpEnable = 0;
    } else {
      r.Att = static_cast<uint8_t>(att);
      r.AmpEnable = 1;
    }
  }
  works.bands.bands.set(t);
  SaveTabConfig(works, bank);
  if (works.atu.attStep.load() != 0) {
    works.atu.attStep = 0;
    IncPNTIn_CMDLinear(CmdATstep, works);
  }
  if (works.set.NumAntenna.load() != 0) {
    works.set.NumAntenna = 0;
    IncPNTIn_CMDLinear(CmdSA, works);
  }
  IncPNTIn_CMDLinear(CmdMTbypass, works);
  trace("---------------OK SAVE BANK DEBUG!!!\n");
}

void ChangeBanco(Works& works) {
  int bank = works.set.NumBanco.load() + 1;
  if (bank >= works.set.MAXbank.load()) bank = 0;
  works.set.NumBanco = bank;
  writeSetup(works);
  LoadAllBankTable(works, bank);
  works.atu.lastBandApplied = -1;
}

void ChangeInterfaceBanco(Works& works) {
  const int next = (interfaceNumber(works.bands.freqInterface.load()) + 1) % kFreqInterfaces;
  works.bands.freqInterface = static_cast<FreqInterface>(next);
  SetModeWorkIDX(works);
  SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
}

void SetModeWorkIDX(Works& works) {
  SetupText& text = works.set.text;
  switch (works.bands.freqInterface.load()) {
    case FreqInterface::ExtIo:
      if (text.flag(Slot::extIoEnable) == '0') restartTableThread(works, ThreadId::Serial);
      if (text.flag(Slot::catSerialEnable) == '1') text.setFlag(Slot::catSerialEnable, '0');
      break;
    case FreqInterface::Ft817:
      if (text.flag(Slot::catSerialEnable) == '0') restartTableThread(works, ThreadId::CatSerial);
      if (text.flag(Slot::extIoEnable) == '1') {
        text.setFlag(Slot::extIoEnable, '0');
        DeleteErrore(works, Err::ExtIoLost);
      }
      break;
    case FreqInterface::Generic:
      if (text.flag(Slot::extIoEnable) == '1') {
        text.setFlag(Slot::extIoEnable, '0');
        DeleteErrore(works, Err::ExtIoLost);
      }
      if (text.flag(Slot::catSerialEnable) == '1') text.setFlag(Slot::catSerialEnable, '0');
      break;
  }
  IncPNTIn_CMDLinear(CmdGSwrite, works);
}

void DeleteFileConf(Works& works, int bank, int kind) {
  (void)works;
  std::string path;
  if (kind >= 0 && kind <= 2) {
    path = bank == 0 ? tuneMemoryPath(0, kind) : tuneMemoryPath(bank, kind);
  } else if (kind == 3) {
    path = bandTablePath(bank);
  } else {
    return;
  }
  platform::SetWriteWindow window;
  if (!window.writable()) return;
  if (!platform::runCommand("rm -f " + path).ok()) logError("can't delete file bank %d", bank);
}

bool bandNameFor(const Works& works, uint32_t freq, char name[5]) {
  const BandTable::Snapshot t = works.bands.bands.get();
  const int i = findBand(t, freq);
  if (i < 0) return false;
  // The status text holds four characters of the name.
  std::memset(name, 0, 5);
  std::memcpy(name, t.rows[static_cast<size_t>(i)].name, 4);
  return true;
}

}  // namespace corvid
