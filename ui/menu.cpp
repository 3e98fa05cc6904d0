// The menu: the table of items, their value texts and what each key does to them.
#include "ui/menu.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>

#include "amp/amp_state.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "core/settings.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/framebuffer.h"
#include "gfx/picture.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/log.h"
#include "remote/remote_checks.h"
#include "system/network.h"
#include "system/updates.h"
#include "ui/display.h"
#include "ui/keyboard.h"
#include "ui/screens.h"

namespace corvid {

const std::array<MenuEntry, kMenuItems> menuPar = {{
    {1, "MEMORY BANKS", "Max Banks Number", 0, 0},
    {2, "FILTERS", "Rx Filters Settings", 0, 0},
    {5, "MODALITY", "Use Mode", 0, 0},
    {6, "MODALITY", "Remote Password", 1, 0},
    {10, "TIME", "Long Press Time", 0, 0},
    {11, "TIME", "Screensaver Timeout", 0, 0},
    {15, "PEAK POWER METER", "Activation", 0, 0},
    {16, "PEAK POWER METER", "Release Time", 0, 0},
    {20, "TUNE", "Enable Tune", 0, 0},
    {21, "TUNE", "Force Attenuator", 0, 0},
    {22, "TUNE", "Target SWR (0=Off)", 0, 0},
    {23, "TUNE", "Auto Tune Timeout", 0, 0},
    {24, "TUNE", "ATU Installed", 0, 0},
    {25, "TUNE", "Pex PttOut (menu 56)", 0, 0},
    {30, "MAIN WINDOW", "Powers Unit", 0, 0},
    {31, "MAIN WINDOW", "Temperatures Unit", 0, 0},
    {32, "MAIN WINDOW", "View on TX", 0, 0},
    {40, "PLOT", "Spectrum Settings", 0, 0},
    {45, "PLOT", "Waterfall Enable", 0, 0},
    {46, "PLOT", "Waterfall Position", 0, 0},
    {47, "PLOT", "Waterfall Scroll", 0, 0},
    {48, "PLOT", "Waterfall Max dBm", 0, 0},
    {49, "PLOT", "Waterfall Min dBm", 0, 0},
    {50, "LAN", "IP", 0, 1},
    {51, "LAN", "Subnet", 0, 1},
    {52, "LAN", "Gateway", 0, 1},
    {53, "LAN", "DNS", 0, 1},
    {60, "TEMPERATURE", "P1 Alarm Set Point", 0, 0},
    {61, "TEMPERATURE", "P2 Alarm Set Point", 0, 0},
    {65, "FAN CONTROL", "Work Mode", 0, 0},
    {70, "FREQ", "Period", 0, 0},
    {90, "SERVICE", "Factory Default", 0, 0},
    {91, "SERVICE", "Remote Service", 0, 0},
    {92, "SERVICE", "Software Update (UI)", 0, 0},
    {93, "SERVICE", "Firmware Update", 0, 0},
    {94, "SERVICE", "Turn Off Hardware", 0, 0},
    {95, "SERVICE", "Advanced Default", 0, 0},
}};

namespace {

using platform::trace;
using S = PanelState;

// The items by their place in menuPar.
enum Item : int {
  MaxBanks = 0,
  Filters = 1,
  UseMode = 2,
  Password = 3,
  LongPress = 4,
  ScreenSaver = 5,
  PeakActivation = 6,
  PeakRelease = 7,
  EnableTune = 8,
  ForceAttenuator = 9,
  TargetSwr = 10,
  AutoTuneTimeout = 11,
  AtuInstalled = 12,
  PttOut = 13,
  PowersUnit = 14,
  TemperaturesUnit = 15,
  ViewOnTx = 16,
  Spectrum = 17,
  WaterfallEnable = 18,
  WaterfallPosition = 19,
  WaterfallScroll = 20,
  WaterfallMax = 21,
  WaterfallMin = 22,
  LanIp = 23,
  LanSubnet = 24,
  LanGateway = 25,
  LanDns = 26,
  AlarmP1 = 27,
  AlarmP2 = 28,
  FanWorkMode = 29,
  Period = 30,
  FactoryDefault = 31,
  RemoteService = 32,
  SoftwareUpdate = 33,
  FirmwareUpdate = 34,
  TurnOff = 35,
  AdvancedDefault = 36,
};
static_assert(kItemMaxBanks == MaxBanks && kItemFilters == Filters && kItemUseMode == UseMode &&
              kItemPassword == Password && kItemSpectrum == Spectrum && kItemFirstLan == LanIp &&
              kItemLastLan == LanDns && kItemRemoteService == RemoteService &&
              kItemSoftwareUpdate == SoftwareUpdate && kItemAdvancedDefault == AdvancedDefault);

// Screen saver minutes and their texts, by SaveScreenIdx.
constexpr const char* SaveScreenVal[6] = {"5min", "10min", "20min", "30min", "60min", "1min"};
constexpr const char* kViewTxText[6] = {"Off", "View 1", "View 2", "View 3", "View 4", "View 5"};

constexpr uint8_t kSpectrumPageRequest = 0x01;  // plotConfigType bit 0

std::string format(const char* pattern, auto... values) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, values...);
  return text;
}

const char* onOff(bool on) {
  return on ? "ON" : "OFF";
}

bool isChange(int code) {
  return code >= kMenuMinus && code <= kMenuRight;
}

// The amplifier refuses service actions while it is locked.
bool locked(const Works& works) {
  return (works.amp.statusB.load() & 0x01) != 0 || (works.amp.statusC.load() & 0x08) != 0;
}

void setNotice(Works& works, uint32_t bit) {
  works.ui.noticeFlags.fetch_or(bit);
}
void clearNotice(Works& works, uint32_t bit) {
  works.ui.noticeFlags.fetch_and(~bit);
}

template <typename T>
void toggle(std::atomic<T>& value) {
  value = value.load() != 0 ? 0 : 1;
}
template <typename T>
void toggleBits(std::atomic<T>& value, T bits) {
  value.fetch_xor(bits);
}

// The plain switches: a change key toggles, ENTER writes the settings.
template <typename T>
void toggleOrWrite(Works& works, int code, std::atomic<T>& value, T bits = 0) {
  if (code == kMenuEnter) {
    writeSetup(works);
  } else if (bits != 0) {
    toggleBits(value, bits);
  } else {
    toggle(value);
  }
}

// A value in tenths (or hundredths) moved by one step, as whole steps so that repeated
// changes never drift, and kept within its range.
double stepScaled(double value, int scale, int delta, int low, int high) {
  const long steps = std::lround(value * scale) + delta;
  return static_cast<double>(std::clamp<long>(steps, low, high)) / scale;
}

// The address of a LAN item, its cursor and its text in the settings record.
struct LanItem {
  std::array<uint8_t, 4> LanAddresses::*bytes;
  std::string LanAddresses::*text;
  std::atomic<int> UiState::*cursor;
};
constexpr std::array<LanItem, 4> kLanItems = {{
    {&LanAddresses::IP_v, &LanAddresses::IP, &UiState::CntIP},
    {&LanAddresses::NetMask_v, &LanAddresses::NetMask, &UiState::CntNetMask},
    {&LanAddresses::Gateway_v, &LanAddresses::Gateway, &UiState::CntGateway},
    {&LanAddresses::DNS_v, &LanAddresses::DNS, &UiState::CntDNS},
}};

bool editing(const Works& works, int item) {
  return works.ui.panelState.load() == S::MenuEdit && works.ui.menuSection.load() == item;
}

// A full-screen page opened from the menu: its background becomes the frame's.
void openPage(Works& works, int bit) {
  works.ui.pageFlags.fetch_or(bit);
  works.core.splashName.set("statusB");
  getPng(works);
  fbSetBack(works.gfx.fb.get());
}
void closePage(Works& works, int bit) {
  works.ui.pageFlags.fetch_and(~bit);
  SetWorkImg(works);
}

void reboot() {
  platform::runCommand("/sbin/reboot");
}

// ---- the service actions ----

void remoteMode(Works& works, int code) {
  Settings& set = works.set;
  if (code != kMenuEnter) {
    if (set.LocalRemote.load() == 1) {
      set.LocalRemote = 0;
    } else if (set.text.flag(Slot::EnableFFT) == '0') {
      const int settings = Find_Remote_Settings(works);
      const int audio = Get_AudioPEX(works);
      switchToRemote(works, settings, audio);
    } else {
      set.LocalRemote = 1;
    }
    return;
  }
  if (set.LocalRemote.load() == 1) {
    if (set.text.flag(Slot::WebSocket) == '0') {
      set.text.setFlag(Slot::WebSocket, '1');
      StartThreadSoket(works);
    }
    StartThreadCommRemote(works);
    works.ui.tempflag_processextREMLOCOFF = tinyByte(TinyCode::ForceRemote);
  } else {
    ExitThreadRemote(works);
    works.ui.tempflag_processextREMLOCOFF = tinyByte(TinyCode::ForceLocal);
  }
}

// Before the reboot the amplifier's micro is reset, and the panel has 5 s to show why.
void resetAndReboot(Works& works) {
  IncPNTIn_CMDLinear(CmdMR1, works);
  platform::sleepMs(5000);
  reboot();
}

void softwareUpdate(Works& works, int code) {
  UiState& ui = works.ui;
  const bool armed = (ui.serviceFlags.load() & kServiceSoftwareUpdate) != 0;
  if (code != kMenuEnter) {
    if (armed) {
      ui.serviceFlags.fetch_and(~kServiceSoftwareUpdate);
    } else {
      DeleteLastGoodLink();
      ui.serviceFlags.fetch_or(kServiceSoftwareUpdate);
    }
    return;
  }
  if (locked(works)) {
    setNotice(works, kNoticeLocked);
    return;
  }
  if (!armed) {
    clearNotice(works, kNoticeUpdate);
    return;
  }
  works.system.updateResult = 0;
  setNotice(works, kNoticeUpdate);
  DeleteLastGoodLink();
  platform::sleepMs(2000);
  int result = 0;
  if ((ui.serviceFlags.load() & kServiceRemoteShell) != 0) {
    trace("!!!!!!!!!!!!!!!!!!!Start SERVICE AGG UI...\n");
    result = ReadSystemGetpack2(works);
    trace("!!!!!!!!!!!!!!!!!!!AGG SW SERVICE end: exit %i\n", result);
  } else if (works.system.updateAvailable.load() == kUpdateSoftware) {
    trace("!!!!!!!!!!!!!!!!!!!Start AGG UI...\n");
    result = ReadSystemGetpack(works);
    trace("!!!!!!!!!!!!!!!!!!!AGG SW end: exit %i\n", result);
  } else {
    return;  // nothing on offer: nothing ran, so nothing is to be restarted
  }
  works.system.updateResult = result;
  if (result != 0) return;  // the notice shows the error, the unit keeps running
  trace("!!!!!!!!!!!!!!!!!!!AGG SW Wait 5s to exit... %i\n", result);
  resetAndReboot(works);
}

void firmwareUpdate(Works& works, int code) {
  UiState& ui = works.ui;
  if (code != kMenuEnter) {
    ui.serviceFlags.fetch_xor(kServiceFirmwareUpdate);
    return;
  }
  if (locked(works)) {
    setNotice(works, kNoticeLocked);
  } else if ((ui.serviceFlags.load() & kServiceFirmwareUpdate) != 0) {
    // The micro now waits for the external programmer.
    IncPNTIn_CMDLinear(CmdMR1, works);
    ui.serviceFlags.fetch_or(kServiceFirmwareStarted);
    ui.panelState = S::Main;
    trace("Start AGGFW\n");
  } else {
    ui.serviceFlags.fetch_and(~kServiceFirmwareStarted);
  }
}

void advancedDefault(Works& works) {
  InitCompleteVar(works);
  InitVar_Default(works);
  trace("Init Clompete file setup + Var!\n");
  IncPNTIn_CMDLinear(CmdMR1, works);
  works.ui.shutdownState = 3;  // the key thread tells the power controller to switch off
  platform::sleepMs(5000);
  reboot();
}

// ---- one item each ----

int lanItem(Works& works, int item, int code) {
  if (code == kMenuEnter) {
    SaveLanParam(works);
    return 0;
  }
  const LanItem& li = kLanItems[static_cast<size_t>(item - LanIp)];
  std::atomic<int>& cursor = works.ui.*li.cursor;
  LanAddresses lan = works.system.lan.get();
  std::array<uint8_t, 4>& bytes = lan.*li.bytes;
  cursor = ModifyIP(code, std::clamp(cursor.load(), 0, 3), bytes);
  // The text goes with the numbers, so that every reader sees one address.
  lan.*li.text = SplitAddrInv(bytes);
  works.system.lan.set(lan);
  return 1;
}

// Items whose change is a step of a number, and that write the settings on the codes that
// do not change them (3 and 4 included, unless said otherwise).
int modify(Works& works, int item, int code) {
  Settings& set = works.set;
  UiState& ui = works.ui;
  const bool plus = code == kMenuPlus;
  const bool minus = code == kMenuMinus;
  const bool change = isChange(code);
  switch (item) {
    case MaxBanks:
      if (plus) {
        if (set.MAXbank.load() < 20) set.MAXbank = set.MAXbank.load() + 1;
      } else if (minus) {
        if (set.MAXbank.load() > 2) set.MAXbank = set.MAXbank.load() - 1;
      } else {
        writeSetup(works);
      }
      return 0;
    case Filters:
      if (change) {
        toggle(ui.filterPageRequest);
      } else if (ui.filterPageRequest.load() != 0) {
        openPage(works, kPageFilters);
      } else {
        closePage(works, kPageFilters);
      }
      return 0;
    case UseMode:
      remoteMode(works, code);
      return 0;
    case Password:
      return 0;
    case LongPress:
      if (plus || minus) {
        set.TIME_LONG_PRESS = stepScaled(set.TIME_LONG_PRESS.load(), 10, plus ? 1 : -1, 3, 50);
      } else {
        writeSetup(works);
      }
      return 0;
    case ScreenSaver:
      if (plus) {
        const int next = set.SaveScreenIdx.load() + 1;
        set.SaveScreenIdx = next > 5 ? 0 : next;
      } else if (minus) {
        const int previous = set.SaveScreenIdx.load() - 1;
        set.SaveScreenIdx = previous < 0 ? 5 : previous;
      } else if (code == kMenuEnter) {
        writeSetup(works);
      }
      return 0;
    case PeakActivation:
      toggleOrWrite(works, code, set.EnablePwrPeak);
      return 0;
    case PeakRelease:
      if (plus || minus) {
        set.TimerPeakSec = std::clamp(set.TimerPeakSec.load() + (plus ? 10 : -10), 0, 5000);
      } else {
        writeSetup(works);
      }
      return change ? 1 : 0;
    case EnableTune:
      toggleOrWrite(works, code, set.AutoTuneMode, 0x01);
      return 0;
    case ForceAttenuator:
      if (change) {
        const int next = set.AttenuatorTune.load() + 1;
        set.AttenuatorTune = next > 3 || next < 0 ? 0 : next;
      } else {
        writeSetup(works);
      }
      return 0;
    case TargetSwr: {
      if (plus || minus) {
        long hundredths = std::lround(set.swrTarget.load() * 100.0f) + (plus ? 1 : -1);
        if (hundredths < 100) hundredths = plus ? 100 : 0;  // below 1 means off
        set.swrTarget = static_cast<float>(std::clamp<long>(hundredths, 0, 1000)) / 100.0f;
      } else if (code == kMenuEnter) {
        writeSetup(works);
      }
      return change ? 1 : 0;
    }
    case AutoTuneTimeout:
      // The timeouts run from the longest (index 0) to the shortest (4).
      if (plus) {
        set.AutoTuneMaxCicli = std::clamp(set.AutoTuneMaxCicli.load() - 1, 0, 4);
      } else if (minus) {
        set.AutoTuneMaxCicli = std::clamp(set.AutoTuneMaxCicli.load() + 1, 0, 4);
      } else if (code == kMenuEnter) {
        writeSetup(works);
      }
      return 0;
    case AtuInstalled:
      if (change) {
        set.TUNEenabled = (set.TUNEenabled.load() ^ 0x80) & 0xFF;
        trace("----------> SAVE ATU: 0x%0X\n", static_cast<unsigned>(set.TUNEenabled.load()));
      } else {
        writeSetup(works);
      }
      return 0;
    case PttOut:
      toggleOrWrite(works, code, set.TUNEpttout, 0x01);
      return 0;
    case PowersUnit:
      toggleOrWrite(works, code, set.PowerUnits);
      return 0;
    case TemperaturesUnit:
      toggleOrWrite(works, code, set.TempMode);
      return 0;
    case ViewOnTx:
      if (plus) {
        set.ViewTX = std::min(set.ViewTX.load() + 1, 5);
      } else if (minus) {
        set.ViewTX = std::max(set.ViewTX.load() - 1, 0);
      } else {
        writeSetup(works);
      }
      return 0;
    case Spectrum:
      if (change) {
        toggleBits(ui.plotConfigType, kSpectrumPageRequest);
      } else if ((ui.plotConfigType.load() & kSpectrumPageRequest) != 0) {
        ui.plotRow = 0;
        ui.plotColumn = 0;
        openPage(works, kPageSpectrum);
      } else {
        closePage(works, kPageSpectrum);
      }
      return 0;
    case WaterfallEnable:
    case WaterfallPosition: {
      const bool enable = item == WaterfallEnable;
      const int pending = enable ? kWaterfallEnablePending : kWaterfallOnTopPending;
      const int applied = enable ? kWaterfallEnable : kWaterfallOnTop;
      if (change) {
        set.waterfallFlags.fetch_xor(pending);
      } else {
        const int flags = set.waterfallFlags.load();
        set.waterfallFlags =
            ((flags & pending) != 0 ? flags | applied : flags & ~applied) | kWaterfallRebuild;
        writeSetup(works);
      }
      return 0;
    }
    case WaterfallScroll:
      if (change) {
        toggle(set.WTscroll);
      } else {
        set.waterfallFlags.fetch_or(kWaterfallRebuild);
        writeSetup(works);
      }
      return 0;
    case WaterfallMax:
    case WaterfallMin: {
      std::atomic<double>& value = item == WaterfallMax ? set.WTmaxVal : set.WTminVal;
      if (plus) {
        if (value.load() < 200) value = value.load() + 1;
      } else if (minus) {
        if (value.load() > -200) value = value.load() - 1;
      } else {
        writeSetup(works);
      }
      return change ? 1 : 0;
    }
    case LanIp:
    case LanSubnet:
    case LanGateway:
    case LanDns:
      return lanItem(works, item, code);
    case AlarmP1:
    case AlarmP2: {
      std::atomic<float>& value = item == AlarmP1 ? set.MaxTemperature : set.MaxTemperature2;
      if (plus || minus) {
        // VerifyTemperature keeps the limit in its range; this bound only stops overflow.
        value = static_cast<float>(stepScaled(value.load(), 10, plus ? 1 : -1, -100000, 100000));
        VerifyTemperature(works);
      } else if (code == kMenuEnter) {
        writeSetup(works);
      }
      return change ? 1 : 0;
    }
    case FanWorkMode: {
      const int mode = set.FANmode.load();
      if (plus) {
        set.FANmode = mode == 0 ? 1 : 0;
      } else if (minus) {
        set.FANmode = mode > 1 ? 1 : mode == 1 ? 0 : 1;
      } else {
        works.amp.fanModeChanged = 1;
        writeSetup(works);
      }
      trace("works->FANmode %i\n", set.FANmode.load());
      return 0;
    }
    case Period:
      if (plus) {
        if (set.FreqPeriodTime.load() <= 9999) set.FreqPeriodTime = set.FreqPeriodTime.load() + 10;
      } else if (minus) {
        if (set.FreqPeriodTime.load() >= 11) set.FreqPeriodTime = set.FreqPeriodTime.load() - 10;
      } else if (code == kMenuEnter) {
        IncPNTIn_CMDLinear(CmdFS, works);
        writeSetup(works);
      }
      return plus || minus ? 1 : 0;
    case FactoryDefault:
      if (change) {
        toggle(ui.factoryDefaultArmed);
      } else if (ui.factoryDefaultArmed.load() != 0) {
        InitVar_Default(works);
      }
      return 0;
    case RemoteService:
      if (change) {
        ui.serviceFlags.fetch_xor(kServiceRemoteShell);
      } else if ((ui.serviceFlags.load() & kServiceRemoteShell) != 0) {
        trace("Start REMOTE SRV\n");
        RemoteConnection();
      }
      return 0;
    case SoftwareUpdate:
      softwareUpdate(works, code);
      return 0;
    case FirmwareUpdate:
      firmwareUpdate(works, code);
      return 0;
    case TurnOff:
      if (change) {
        toggle(ui.turnOffArmed);
      } else if (ui.turnOffArmed.load() != 0) {
        // Straight into the exchange byte: the key thread sends it on its next pass.
        ui.tinyTransfer = tinyByte(TinyCode::PowerOff);
      }
      return 0;
    case AdvancedDefault:
      if (change) {
        toggle(ui.advancedDefaultArmed);
      } else if (ui.advancedDefaultArmed.load() != 0) {
        advancedDefault(works);
      }
      return 0;
    default:
      return 0;
  }
}

}  // namespace

int lastMenuItem(const Works& works) {
  const int count = works.ui.menuSectionCount.load();
  return works.ui.startupKeysMenu.load() != 0 ? count - 1 : count - 2;
}

void InitMenuNova(Works& works) {
  initKeyLabels(works);
  initErrorTable(works);
  works.ui.menuSectionCount = kMenuItems;
  SetModeWorkLabel(works);
  SetAttenuatorLabel(works);
}

std::string LoadParameterMenu(Works& works, int item, int) {
  const Settings& set = works.set;
  const UiState& ui = works.ui;
  if (item < LanIp || item > LanDns) works.ui.lanEditAddress = -1;
  switch (item) {
    case MaxBanks:
      return format("%d", set.MAXbank.load());
    case Filters:
      if (!editing(works, item)) return " ";
      return ui.filterPageRequest.load() != 0 ? "Modify" : "Exit";
    case UseMode:
      return set.LocalRemote.load() == 1 ? "Remote" : "Local";
    case Password:
      return set.Passphrase.get();
    case LongPress:
      return format("%01.01fsec", set.TIME_LONG_PRESS.load());
    case ScreenSaver:
      return SaveScreenVal[std::clamp(set.SaveScreenIdx.load(), 0, 5)];
    case PeakActivation:
      return onOff(set.EnablePwrPeak.load() != 0);
    case PeakRelease:
      return format("%ims", set.TimerPeakSec.load());
    case EnableTune:
      return onOff((set.AutoTuneMode.load() & 0x01) != 0);
    case ForceAttenuator:
      return format("%sdB", AttVectStr[std::clamp(set.AttenuatorTune.load(), 0, 4)]);
    case TargetSwr:
      return format("%02.02f", static_cast<double>(set.swrTarget.load()));
    case AutoTuneTimeout:
      return SWRTimeout[std::clamp(set.AutoTuneMaxCicli.load(), 0, 4)];
    case AtuInstalled:
      return (set.TUNEenabled.load() & 0x80) != 0 ? "No" : "Yes";
    case PttOut:
      return (set.TUNEpttout.load() & 0x01) != 0 ? "Force To No" : "Not Force";
    case PowersUnit:
      return set.PowerUnits.load() != 0 ? "dBm" : "Watt";
    case TemperaturesUnit:
      return set.TempMode.load() != 0 ? "Fahrenheit" : "Celsius";
    case ViewOnTx:
      return kViewTxText[std::clamp(set.ViewTX.load(), 0, 5)];
    case Spectrum:
      if (!editing(works, item)) return " ";
      return (ui.plotConfigType.load() & kSpectrumPageRequest) != 0 ? "Modify" : "Exit";
    case WaterfallEnable:
      return onOff((set.waterfallFlags.load() & kWaterfallEnablePending) != 0);
    case WaterfallPosition:
      return (set.waterfallFlags.load() & kWaterfallOnTopPending) != 0 ? "Top" : "Bottom";
    case WaterfallScroll:
      return set.WTscroll.load() != 0 ? "Down" : "Up";
    case WaterfallMax:
      return format("%3.01fdBm", set.WTmaxVal.load());
    case WaterfallMin:
      return format("%3.01fdBm", set.WTminVal.load());
    case LanIp:
    case LanSubnet:
    case LanGateway:
    case LanDns: {
      const LanItem& li = kLanItems[static_cast<size_t>(item - LanIp)];
      const LanAddresses lan = works.system.lan.get();
      works.ui.lanEditAddress = item - LanIp;
      works.ui.lanEditIndex = std::clamp((works.ui.*li.cursor).load(), 0, 3);
      return SplitAddrInv(lan.*li.bytes);
    }
    case AlarmP1:
      return format("%02.02f°C", static_cast<double>(set.MaxTemperature.load()));
    case AlarmP2:
      return format("%02.02f°C", static_cast<double>(set.MaxTemperature2.load()));
    case FanWorkMode: {
      const int mode = set.FANmode.load();
      return mode == 2 ? "DIG" : mode == 1 ? "SSB" : "Hi Perf";
    }
    case Period:
      return format("%dms", set.FreqPeriodTime.load());
    case FactoryDefault:
      return ui.factoryDefaultArmed.load() != 0 ? "Set Default" : "No Default";
    case RemoteService:
      return onOff((ui.serviceFlags.load() & kServiceRemoteShell) != 0);
    case SoftwareUpdate:
      return onOff((ui.serviceFlags.load() & kServiceSoftwareUpdate) != 0);
    case FirmwareUpdate:
      return onOff((ui.serviceFlags.load() & kServiceFirmwareUpdate) != 0);
    case TurnOff:
      return onOff(ui.turnOffArmed.load() != 0);
    case AdvancedDefault:
      return ui.advancedDefaultArmed.load() != 0 ? "Set Default" : "No Default";
    default:
      return " ";
  }
}

int ModifyParameter(Works& works, int code) {
  const int item = works.ui.menuSection.load();
  if (item < 0 || item >= kMenuItems || code < kMenuEnter || code > kMenuRight) return 0;
  return modify(works, item, code);
}

int switchToRemote(Works& works, int settingsResult, int audioDevices) {
  const char extIo = works.set.text.flag(Slot::extIoEnable);
  trace("j=%d i=%d enaser=%c\n", settingsResult, audioDevices, extIo);
  if (settingsResult == 0 && extIo == '1' && audioDevices != 0) {
    works.set.LocalRemote = 1;
    works.ui.remoteError = 0;
    trace("Remote GO!\n");
    return 1;
  }
  works.ui.remoteError = 1;
  switch (settingsResult) {
    case 1:
      AddErrore(works, Err::RemoteUsb);
      break;
    case 2:
      AddErrore(works, Err::RemoteCat);
      break;
    case 3:
      AddErrore(works, Err::AudioRead);
      break;
    default:
      break;
  }
  if (audioDevices == 0) AddErrore(works, Err::AudioMissing);
  if (extIo != '1') AddErrore(works, Err::PexModeOff);
  trace("Remote ERROR!\n");
  return 0;
}

int ModifyIP(int code, int cursor, std::array<uint8_t, 4>& address) {
  const size_t at = static_cast<size_t>(std::clamp(cursor, 0, 3));
  switch (code) {
    case kMenuMinus:
      address[at] = static_cast<uint8_t>(address[at] - 1);
      return cursor;
    case kMenuPlus:
      address[at] = static_cast<uint8_t>(address[at] + 1);
      return cursor;
    case kMenuLeft:
      return cursor <= 0 ? 3 : cursor - 1;
    case kMenuRight:
      return cursor >= 3 ? 0 : cursor + 1;
    default:
      return cursor;
  }
}

std::string SplitAddrInv(const std::array<uint8_t, 4>& a) {
  return format("%i.%i.%i.%i", a[0], a[1], a[2], a[3]);
}

}  // namespace corvid
