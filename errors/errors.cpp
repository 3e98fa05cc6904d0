#include "errors/errors.h"

#include <algorithm>

#include "core/threads.h"
#include "core/works.h"
#include "platform/log.h"

namespace corvid {

using platform::trace;

namespace {

struct ErrorRow {
  Err error;
  const char* title;
  const char* detail;
  uint8_t flags;
};

// In number order, one row per error.
constexpr ErrorRow kErrorTable[kErrorCount] = {
    {Err::Temp1Recovered, "1-High", "temperature", 2},
    {Err::HighSwr, "HI SWR", "error", 3},
    {Err::Temp1Alarm, "1-High", "temperature", 1},
    {Err::InputPower, "PWR IN", "error", 3},
    {Err::Comm, "Comm", "warn ", 4},
    {Err::RemoteUsb, "Remote warn", "Usb", 4},
    {Err::AudioMissing, "Audio", "not found", 4},
    {Err::PexModeOff, "PEX mode", "not activated", 4},
    {Err::ExtIoLost, "PEX EXTIO", "warning", 4},
    {Err::AudioRead, "Audio read", "warning", 0},
    {Err::AudioWrite, "Audio write", "warning", 0},
    {Err::WebSocket, "Web socket", "warning", 0},
    {Err::TuneTimeout, "Auto Tune", "timeout", 4},
    {Err::TuneSwrWarning, "Auto Tune", "SWR warning", 4},
    {Err::TunePexAbort, "Auto Tune", "PEX aborts", 4},
    {Err::AmpAlarm, "Error", "---", 3},
    {Err::MicroReset, "Micro Reset", "warning", 4},
    {Err::CmdNotAvailable, "CMD not", "available", 4},
    {Err::TuneMaxSwr, "Auto Tune", "Max SWR", 4},
    {Err::BandStandby, "Band warn", "StdBy", 6},
    {Err::RemoteCat, "Remote warn", "Cat", 4},
    {Err::Temp2Recovered, "2-High", "temperature", 2},
    {Err::Temp2Alarm, "2-High", "temperature", 1},
    {Err::Temp1Warning, "2-Warning", "temperature", 2},
    {Err::Temp2Warning, "2-Warning", "temperature", 2},
    {Err::ExtIoPortOpen, "Error Open", "", 1},
    {Err::SocketClosed, "Error", "Soket Close", 1},
    {Err::TuneLowPower, "Auto Tune", "Low Pwr", 2},
};
static_assert([] {
  for (int i = 0; i < kErrorCount; ++i) {
    if (errorNumber(kErrorTable[i].error) != i) return false;
  }
  return true;
}());

constexpr size_t kTextMax = 29;

bool valid(Err error) {
  return errorNumber(error) >= 0 && errorNumber(error) < kErrorCount;
}

size_t slot(Err error) {
  return static_cast<size_t>(errorNumber(error));
}

bool listedLocked(const ErrorRegistry& r, Err error) {
  return std::find(r.list.begin(), r.list.end(), error) != r.list.end();
}

// Deletes every listed error whose flags match (all when mask is 0), printing each.
void deleteWhere(Works& works, uint8_t mask) {
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  for (size_t i = 0; i < r.list.size();) {
    const Err e = r.list[i];
    if ((mask == 0 || (r.info[slot(e)].flags & mask) != 0) && e != Err::ExtIoPortOpen) {
      trace("Del temp err: %i (%i , %i)\n", errorNumber(e), static_cast<int>(i),
            static_cast<int>(r.list.size()));
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
    ErrorInfo& info = r.info[slot(row.error)];
    info.flags = row.flags;
    info.title = row.title;
    info.detail = row.error == Err::ExtIoPortOpen ? port.substr(0, kTextMax) : row.detail;
  }
}

void setErrorDetail(Works& works, Err error, std::string_view detail) {
  if (!valid(error)) return;
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  r.info[slot(error)].detail = std::string(detail.substr(0, kTextMax));
}

ErrorInfo errorInfo(const Works& works, Err error) {
  if (!valid(error)) return {};
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.info[slot(error)];
}

std::vector<Err> listedErrors(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return r.list;
}

void AddErrore(Works& works, Err error) {
  if (!valid(error) || (works.errors.errorsMuted.load() & 1) != 0) return;
  ErrorRegistry& r = works.errors.registry;
  uint8_t flags;
  {
    std::scoped_lock lock(r.mutex);
    if (listedLocked(r, error)) return;
    r.list.push_back(error);
    trace("Add: N: %i err:%i\n", static_cast<int>(r.list.size()), errorNumber(error));
    flags = r.info[slot(error)].flags;
  }
  std::atomic<uint8_t>& actions = works.errors.errorActions;
  if ((flags & kErrorProtection) != 0 && (actions.load() & kActionRecovery) == 0) {
    trace(" -->set protezione 0x%x\n", actions.fetch_or(kActionRecovery) | kActionRecovery);
  }
  if ((flags & kErrorTemporary) != 0 && (actions.load() & kActionTemporary) == 0) {
    trace(" -->tasto reset errore 0x%x\n", actions.fetch_or(kActionTemporary) | kActionTemporary);
  }
}

void DeleteErrore(Works& works, Err error) {
  if (error == Err::ExtIoPortOpen) return;  // the EXT IO port error stays for the whole run
  ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  const auto it = std::find(r.list.begin(), r.list.end(), error);
  if (it == r.list.end()) return;
  r.list.erase(it);
  trace("Del ERROR: N: %i err:%i\n", static_cast<int>(r.list.size()), errorNumber(error));
}

int ExistError(const Works& works, Err error) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  return listedLocked(r, error) ? 1 : 0;
}

std::optional<Err> ExistAnError(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  if (r.list.empty()) return std::nullopt;
  return r.list.front();
}

std::optional<Err> newestError(const Works& works) {
  const ErrorRegistry& r = works.errors.registry;
  std::scoped_lock lock(r.mutex);
  if (r.list.empty()) return std::nullopt;
  return r.list.back();
}

bool isOverTemperature(Err error) {
  return error == Err::Temp1Alarm || error == Err::Temp2Alarm || error == Err::Temp1Warning ||
         error == Err::Temp2Warning;
}

void VerifyWarningTemporanei(Works& works) {
  deleteWhere(works, kErrorTemporary);
}

void VerifyWarningTemporaneiDopoResetBias(Works& works) {
  deleteWhere(works, 0);
}

int VerifyError(const Works& works) {
  for (Err e : listedErrors(works)) {
    if (!isOverTemperature(e)) return 1;
  }
  return 0;
}

int GPIO_Errori(Works& works) {
  if (works.errors.errorActions.load() != 0) {
    trace("----------> 1- ERRORI!!\n");
    GestErrore(works);
    return 1;
  }
  const std::optional<Err> oldest = ExistAnError(works);
  if (!oldest) return 0;
  GestErroreRemote(works);
  if (isOverTemperature(*oldest)) {
    trace("----------> 2- ERRORI!!\n");
    return 0;
  }
  trace("----------> 3- ERRORI!!\n");
  VerificaEsistonoErrori(works);
  return 1;
}

void GestErrore(Works& works) {
  trace(">>> ERRORI: GestErrore\n");
  if (ExistError(works, Err::MicroReset)) {
    if (works.errors.hooks.InitMicroCmd != nullptr) works.errors.hooks.InitMicroCmd(works);
    DeleteErrore(works, Err::MicroReset);
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
  } else if (ExistAnError(works)) {
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
  // The recovery commands go straight into the link's queue: the link itself sits above
  // the registry and raises its errors here.
  CommandQueue& queue = works.amp.cmdQueue;
  const uint8_t alarms = works.amp.alarmBits.load();
  if (alarms != 0 || (works.amp.statusB.load() & 0x02) != 0) {
    queue.push(CmdCP);
    trace(">>> ERRORI: RESET Protezione AMPL!\n");
  }
  if ((alarms & 0x80) != 0 && works.errors.hooks.InitMicroCmd != nullptr) {
    works.errors.hooks.InitMicroCmd(works);
  }
  queue.push(CmdMP0);
  queue.push(works.amp.ampBypass.load() != 0 ? CmdAB1 : CmdAB0);
  queue.push(CmdATstep);
}

void VerificaEsistonoErrori(Works& works) {
  const std::optional<Err> oldest = ExistAnError(works);
  if (!oldest) return;
  trace("FOUND ERR: %d \n", errorNumber(*oldest));
  ResetBiasCmd(works);
  deleteWhere(works, 0);
}

void ClearDisplayError(Works& works) {
  works.errors.errorActions.fetch_or(kActionDisplayCleared);
  for (Err e : {Err::TuneTimeout, Err::TuneSwrWarning, Err::TunePexAbort}) DeleteErrore(works, e);
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
  if (ExistAnError(works)) VerificaEsistonoErrori(works);
  works.atu.lastBandApplied = -1;
}

}  // namespace corvid
