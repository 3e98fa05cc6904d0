#include "errors/errors.h"

#include <algorithm>

#include "amp/link.h"
#include "core/works.h"
#include "platform/log.h"

namespace corvid {

using platform::trace;

namespace {

struct ErrorRow {
  int number;
  const char* title;
  const char* detail;
  uint8_t flags;
};

constexpr ErrorRow kErrorTable[] = {
    {0, "1-High", "temperature", 2},    {1, "HI SWR", "error", 3},
    {2, "1-High", "temperature", 1},    {3, "PWR IN", "error", 3},
    {4, "Comm", "warn ", 4},            {5, "Remote warn", "Usb", 4},
    {6, "Audio", "not found", 4},       {7, "PEX mode", "not activated", 4},
    {8, "PEX EXTIO", "warning", 4},     {9, "Audio read", "warning", 0},
    {10, "Audio write", "warning", 0},  {11, "Web socket", "warning", 0},
    {12, "Auto Tune", "timeout", 4},    {13, "Auto Tune", "SWR warning", 4},
    {14, "Auto Tune", "PEX aborts", 4}, {15, "Error", "---", 3},
    {16, "Micro Reset", "warning", 4},  {17, "CMD not", "available", 4},
    {18, "Auto Tune", "Max SWR", 4},    {19, "Band warn", "StdBy", 6},
    {20, "Remote warn", "Cat", 4},      {21, "2-High", "temperature", 2},
    {22, "2-High", "temperature", 1},   {23, "2-Warning", "temperature", 2},
    {24, "2-Warning", "temperature", 2}, {25, "Error Open", "", 1},
    {26, "Error", "Soket Close", 1},    {27, "Auto Tune", "Low Pwr", 2},
};

constexpr size_t kTextMax = 29;

bool valid(int number) { return number >= 0 && number < kErrorCount; }

bool listedLocked(const ErrorRegistry& r, int number) {
  return std::find(r.list.begin(), r.list.end(), number) != r.list.end();
}

// Deletes every listed error whose flags match (all when mask is 0), printing each.
void deleteWhere(Works& works, uint8_t mask) {
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  for (size_t i = 0; i < r.list.size();) {
    const int n = r.list[i];
    if ((mask == 0 || (r.info[static_cast<size_t>(n)].flags & mask) != 0) && n != 25) {
      trace("Del temp err: %i (%i , %i)\n", n, static_cast<int>(i), static_cast<int>(r.list.size()));
      r.list.erase(r.list.begin() + static_cast<long>(i));
    } else {
      ++i;
    }
  }
}

void clearAction(Works& works, uint8_t bits) {
  works.errors.errorActions.fetch_and(static_cast<uint8_t>(~bits));
}

}  // namespace

void initErrorTable(Works& works) {
  ErrorRegistry& r = works.errors.registry;
  const std::string port = works.set.text.text(Slot::SerPort);
  std::scoped_lock lock(r.mutex);
  for (const ErrorRow& row : kErrorTable) {
    ErrorInfo& info = r.info[static_cast<size_t>(row.number)];
    info.flags = row.flags;
    info.title = row.title;
    info.detail = row.number == 25 ? port.substr(0, kTextMax) : row.detail;
  }
}

void setErrorDetail(Works& works, int number, std::string_view detail) {
  if (!valid(number)) return;
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  r.info[static_cast<size_t>(number)].detail = std::string(detail.substr(0, kTextMax));
}

ErrorInfo errorInfo(const Works& works, int number) {
  if (!valid(number)) return {};
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.info[static_cast<size_t>(number)];
}

std::vector<int> listedErrors(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.list;
}

void AddErrore(Works& works, int number) {
  if (!valid(number) || (works.errors.errorsMuted.load() & 1) != 0) return;
  ErrorRegistry& r = works.errors.registry;
  uint8_t flags;
  {
    std::scoped_lock lock(r.mutex);
    if (listedLocked(r, number)) return;
    r.list.push_back(number);
    trace("Add: N: %i err:%i\n", static_cast<int>(r.list.size()), number);
    flags = r.info[static_cast<size_t>(number)].flags;
  }
  std::atomic<uint8_t>& actions = works.errors.errorActions;
  if ((flags & kErrorProtection) != 0 && (actions.load() & kActionRecovery) == 0) {
    trace(" -->set protezione 0x%x\n", actions.fetch_or(kActionRecovery) | kActionRecovery);
  }
  if ((flags & kErrorTemporary) != 0 && (actions.load() & kActionTemporary) == 0) {
    trace(" -->tasto reset errore 0x%x\n", actions.fetch_or(kActionTemporary) | kActionTemporary);
  }
}

void DeleteErrore(Works& works, int number) {
  if (number == 25) return;  // the EXT IO port error stays for the whole run
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  const auto it = std::find(r.list.begin(), r.list.end(), number);
  if (it == r.list.end()) return;
  r.list.erase(it);
  trace("Del ERROR: N: %i err:%i\n", static_cast<int>(r.list.size()), number);
}

int ExistError(const Works& works, int number) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return listedLocked(r, number) ? 1 : 0;
}

int ExistAnError(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.list.empty() ? -1 : r.list.front();
}

int newestError(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.list.empty() ? -1 : r.list.back();
}

void VerifyWarningTemporanei(Works& works) { deleteWhere(works, kErrorTemporary); }

void VerifyWarningTemporaneiDopoResetBias(Works& works) { deleteWhere(works, 0); }

int VerifyError(const Works& works) {
  for (int n : listedErrors(works)) {
    if (n != 2 && n != 22 && n != 23 && n != 24) return 1;
  }
  return 0;
}

int GPIO_Errori(Works& works) {
  if (works.errors.errorActions.load() != 0) {
    trace("----------> 1- ERRORI!!\n");
    GestErrore(works);
    return 1;
  }
  const int oldest = ExistAnError(works);
  if (oldest < 0) return 0;
  GestErroreRemote(works);
  if (oldest == 2 || oldest == 22 || oldest == 23 || oldest == 24) {
    trace("----------> 2- ERRORI!!\n");
    return 0;
  }
  trace("----------> 3- ERRORI!!\n");
  VerificaEsistonoErrori(works);
  return 1;
}

void GestErrore(Works& works) {
  trace(">>> ERRORI: GestErrore\n");
  if (ExistError(works, 16)) {
    InitMicroCmd(works);
    DeleteErrore(works, 16);
    trace("DELETE Err RESET MICRO\n");
  }
  const uint8_t actions = works.errors.errorActions.load();
  if ((actions & kActionRecovery) != 0) {
    trace(">>> ERRORI: ResetBiasCmd\n");
    ResetBiasCmd(works);
    works.amp.cmdQueueDrain = 1;
    works.amp.errorBurst = 1;
  } else if ((actions & kActionTemporary) != 0) {
    VerifyWarningTemporanei(works);
    clearAction(works, kActionTemporary);
  } else if (ExistAnError(works) >= 0) {
    trace(">>> ERRORI2: VerificaEsistonoErrori\n");
    VerificaEsistonoErrori(works);
  }
  GestErroreRemote(works);
  works.atu.lastBandApplied = -1;
  trace(">>> END GEST ERRORE!! %i\n", -1);
}

void GestErroreRemote(Works& works) {
  SetupText& text = works.set.text;
  trace(">>> RESTART REMOTE: %i %i audio %x %x\n", works.set.LocalRemote.load(),
        works.core.remoteRestartRequest.load(), text.flag(Slot::EnableWrite),
        text.flag(Slot::EnableRead));
  if (works.set.LocalRemote.load() != 1 || works.core.remoteRestartRequest.load() != 1) return;
  trace(">>> RESTART REMOTE!\n");
  works.core.remoteRestartRequest = 0;
  if (text.flag(Slot::EnableWrite) == '0') {
    text.setFlag(Slot::EnableWrite, '1');
    trace("start audio write\n");
    StartThreadAudioWrite(works);
  }
  if (text.flag(Slot::EnableRead) == '0') {
    text.setFlag(Slot::EnableRead, '1');
    trace("start audio read\n");
    StartThreadAudioRead(works);
  }
  if (text.flag(Slot::EnableCAT) == '0') {
    text.setFlag(Slot::EnableCAT, '1');
    StartThreadCAT(works);
  }
  if (text.flag(Slot::EnableFFT) == '0') {
    text.setFlag(Slot::EnableFFT, '1');
    StartPexReadFFT(works);
  }
}

void ResetBiasCmd(Works& works) {
  const uint8_t alarms = works.amp.alarmBits.load();
  if (alarms != 0 || (works.amp.statusB.load() & 0x02) != 0) {
    IncPNTIn_CMDLinear(CmdCP, works);
    trace(">>> ERRORI: RESET Protezione AMPL!\n");
  }
  if ((alarms & 0x80) != 0) InitMicroCmd(works);
  IncPNTIn_CMDLinear(CmdMP0, works);
  IncPNTIn_CMDLinear(works.amp.ampBypass.load() != 0 ? CmdAB1 : CmdAB0, works);
  IncPNTIn_CMDLinear(CmdATstep, works);
}

void VerificaEsistonoErrori(Works& works) {
  const int oldest = ExistAnError(works);
  if (oldest < 0) return;
  trace("FOUND ERR: %d \n", oldest);
  ResetBiasCmd(works);
  deleteWhere(works, 0);
}

void ClearDisplayError(Works& works) {
  works.errors.errorActions.fetch_or(kActionDisplayCleared);
  for (int n : {12, 13, 14}) DeleteErrore(works, n);
  trace(" -->reset protezione %c\n", static_cast<char>(works.amp.statusB.load()));
}

void GestErroreSerial(Works& works) {
  ClearDisplayError(works);
  const uint8_t actions = works.errors.errorActions.load();
  if ((actions & kActionRecovery) != 0) VerifyWarningTemporaneiDopoResetBias(works);
  if ((actions & kActionTemporary) != 0) {
    VerifyWarningTemporanei(works);
    clearAction(works, kActionTemporary);
  }
  if (ExistAnError(works) >= 0) VerificaEsistonoErrori(works);
  works.atu.lastBandApplied = -1;
}

}  // namespace corvid
