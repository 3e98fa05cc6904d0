#include "ui/keys.h"

#include <algorithm>
#include <cstdint>

#include "amp/amp.h"
#include "amp/link.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/framebuffer.h"
#include "gfx/picture.h"
#include "platform/log.h"
#include "scope/plotter.h"
#include "ui/display.h"
#include "ui/menu.h"

namespace corvid {

using platform::trace;

namespace {

using S = PanelState;

// One key event as the state handlers see it.
struct Event {
  int key;
  bool longPress;
};

// Helpers shared by the states.

void setState(Works& works, PanelState state) {
  works.ui.panelState = state;
}

void setNotice(Works& works, uint32_t bit) {
  works.ui.noticeFlags.fetch_or(bit);
}

void clearNotice(Works& works, uint32_t bits) {
  works.ui.noticeFlags.fetch_and(~bits);
}

void setPage(Works& works, int bit) {
  works.ui.pageFlags.fetch_or(bit);
}

void closePage(Works& works, int bit) {
  works.ui.pageFlags.fetch_and(~bit);
  SetWorkImg(works);
}

// A full-screen page: its background becomes the frame's background.
void showPageBackground(Works& works, const char* name) {
  works.core.splashName.set(name);
  getPng(works);
  fbSetBack(works.gfx.fb.get());
}

void queue(Works& works, int command) {
  IncPNTIn_CMDLinear(command, works);
}

bool tuneEnabled(const Works& works) {
  return (works.set.AutoTuneMode.load() & 0x01) != 0;
}

bool tuning(const Works& works) {
  return works.atu.tuneState.load() != TuneState::Idle;
}

// value + 1, back to 0 at limit.
int nextWrapping(int value, int limit) {
  return value + 1 >= limit ? 0 : value + 1;
}

// value - 1, from 0 to last; value + 1, from last to 0.
int stepDown(int value, int last) {
  return value <= 0 ? last : value - 1;
}
int stepUp(int value, int last) {
  return value >= last ? 0 : value + 1;
}

// The tune value changes only inside its lock; the change is then sent.
template <typename Change>
void changeTuneValue(Works& works, Change change) {
  WaitSemaforoTuneval(works);
  change();
  queue(works, CmdMTwrite);
  StopSemaforoTuneval(works);
}

// ---- state 0: main screen ----

int mainScreen(Works& works, Event e) {
  UiState& ui = works.ui;
  if (e.key >= 1 && e.key <= 5 && EscFromStatus(works) == 1) return 0;
  switch (e.key) {
    case 1:
      if ((ui.pageFlags.load() & kPageMemoryTable) != 0) {
        closePage(works, kPageMemoryTable);
      } else if (!e.longPress) {
        if (amplifierLocked(works)) {
          setNotice(works, kNoticeLocked);
        } else {
          trace("BANCO %x\n", static_cast<unsigned>(works.amp.statusB.load()));
          ChangeBanco(works);
          clearNotice(works, kNoticeLocked);
        }
      } else {
        setPage(works, kPageMemoryTable);
        showPageBackground(works, "statusB");
        setState(works, S::MemoryTable);
      }
      return 0;
    case 2:
      if (!e.longPress) {
        works.atu.attSelect = works.atu.attSelect.load() + 1;
        SetAtt(works);
      }
      return 0;
    case 3:
      if (amplifierLocked(works) && works.set.EnableDebug.load() == 0) {
        setNotice(works, kNoticeLocked);
      } else {
        const int next = works.set.NumAntenna.load() + 1;
        works.set.NumAntenna = next > 2 ? 0 : next;
        SetAnt(works);
      }
      return 0;
    case 4:
      setState(works, S::Tune);
      return 0;
    case 5:
      setState(works, S::MenuBrowse);
      return 0;
    case 6:
      if (e.longPress) {
        setPage(works, kPageStatus);
        showPageBackground(works, "status");
        setState(works, S::StatusPage);
        KeyLabels& labels = ui.Novamenu;
        if (works.set.EnableDebug.load() != 0) {
          labels.set(S::StatusPage, 3, 1, "SET stBy");
          labels.set(S::StatusPage, 4, 1, "SET 5att");
          labels.set(S::StatusPage, 5, 1, "SET 0att");
          labels.set(S::StatusPage, 6, 1, "Exit dbg");
        } else {
          for (int key = 2; key <= 6; ++key) labels.set(S::StatusPage, key, 1, " ");
        }
      } else if (GPIO_Errori(works) == 1) {
        works.atu.fineTuneRequest = 0;
      } else {
        const int next = works.set.ViewType.load() + 1;
        works.set.ViewType = next > kViewSpectrumZoom ? kViewReflected : next;
        ui.pageFlags = 0;
        ui.needleReset = 1;
        SetWorkImg(works);
        writeSetup(works);
        trace("type to %d\n", works.set.ViewType.load());
      }
      return 0;
    default:
      return 0;
  }
}

// ---- states 1 and 2: the menu ----

int menuBrowse(Works& works, Event e) {
  UiState& ui = works.ui;
  const int last = lastMenuItem(works);
  switch (e.key) {
    case 1:
      if ((ui.serviceFlags.load() & kServiceSoftwareUpdate) == 0) {
        clearNotice(works, kNoticeUpdate);
        setState(works, S::Main);
      }
      return 0;
    case 3: {
      ui.menuItem = 0;
      const int section = ui.menuSection.load() - 1;
      ui.menuSection = section < 0 ? last : section;
      return 0;
    }
    case 4: {
      ui.menuItem = 0;
      const int section = ui.menuSection.load() + 1;
      ui.menuSection = section > last ? 0 : section;
      return 0;
    }
    case 6: {
      const int section = ui.menuSection.load();
      if (section >= 0 && section < kMenuItems && menuPar[static_cast<size_t>(section)].readOnly == 0) {
        setState(works, S::MenuEdit);
      }
      return 0;
    }
    default:
      return 0;
  }
}

// ENTER of these items waits (the update script, the service shell, the pause before a
// reboot): it runs in the background, and keys are ignored until it ends.
bool waitsOnEnter(int item) {
  return item == kItemRemoteService || item == kItemSoftwareUpdate || item == kItemAdvancedDefault;
}

void afterEnter(Works& works);

int menuEdit(Works& works, Event e) {
  static constexpr int kCodes[7] = {0, 0, kMenuLeft, kMenuRight, kMenuMinus, kMenuPlus, 0};
  if (e.key >= 2 && e.key <= 5) return ModifyParameter(works, kCodes[e.key]);
  if (e.key != 6) return 0;
  UiState& ui = works.ui;
  if (waitsOnEnter(ui.menuSection.load())) {
    finishServiceTask(works, true);  // ended: keys are ignored while one runs
    ui.serviceTaskRunning = 1;
    const auto started = ui.serviceTask.start("menuAction", [&works] {
      ModifyParameter(works, kMenuEnter);
      afterEnter(works);
      works.ui.serviceTaskRunning = 0;
    });
    if (started.started) return 0;
    ui.serviceTaskRunning = 0;
    platform::logError("can't start the menu action");
  }
  ModifyParameter(works, kMenuEnter);
  afterEnter(works);
  return 0;
}

// Where ENTER leaves the menu. An action that took the panel elsewhere (the firmware
// update returns to the main screen, which alone shows its notice) is left there.
void afterEnter(Works& works) {
  if (works.ui.panelState.load() != S::MenuEdit) return;
  const int pages = works.ui.pageFlags.load();
  if ((pages & kPageMemoryTable) != 0) {
    setState(works, S::MemoryTable);
  } else if ((pages & kPageFilters) != 0) {
    setState(works, S::FilterList);
  } else if ((pages & kPageSpectrum) != 0) {
    setState(works, S::SpectrumList);
  } else if ((works.ui.serviceFlags.load() & kServiceSoftwareUpdate) == 0) {
    setState(works, S::MenuBrowse);
  }
}

// ---- state 3: tune screen ----

// The amplifier's whole set-up, sent again.
void resendSetup(Works& works) {
  trace("-------------RESET MACCHINA \n");
  queue(works, CmdMP0);
  queue(works, CmdCP);
  if (works.bands.freqInterface.load() != FreqInterface::Generic) queue(works, CmdFA);
  queue(works, CmdTS);
  queue(works, CmdAB0);
  queue(works, CmdAN);
  queue(works, CmdSA);
  queue(works, CmdATstep);
}

void startTune(Works& works, int fine) {
  AtuState& atu = works.atu;
  trace(fine != 0 ? "xxxxx FINE AUTO TUNE_ByPass %x\n" : "xxxxx COMPLETE AUTO TUNE_ByPass %x\n",
        static_cast<unsigned>(atu.tunerBypassed.load()));
  if (atu.tunerBypassed.load() != 0) {
    setNotice(works, kNoticeBypassActive);
  } else {
    clearNotice(works, kNoticeBypassNotSaved);
    atu.fineTuneRequest = fine;
    GoTune(works);
  }
}

int tuneScreen(Works& works, Event e) {
  AtuState& atu = works.atu;
  switch (e.key) {
    case 1:
      atu.fineTuneRequest = 0;
      clearNotice(works, kNoticeBypassNotSaved | kNoticeTuneNotEnabled | kNoticeBypassActive);
      if (!tuning(works)) setState(works, S::Main);
      return 0;
    case 2:
      startTune(works, 1);
      return 0;
    case 3:
      startTune(works, 0);
      return 0;
    case 4:
      if (!tuneEnabled(works)) {
        setNotice(works, kNoticeTuneNotEnabled);
        return 0;
      }
      atu.fineTuneRequest = 0;
      clearNotice(works, kNoticeBypassNotSaved);
      trace("xxxxx TUNE_ByPass %x\n", static_cast<unsigned>(atu.tunerBypassed.load()));
      if (atu.tunerBypassed.load() != 0) {
        atu.tunerBypassed = 0;
        GestioneLoadTuneVal(works, 1);
      } else {
        atu.tunerBypassed = 1;
        queue(works, CmdMTbypass);
        atu.tuneInfoText.set("Antenna Tuner Bypassed");
      }
      SaveToBank(works, works.set.NumBanco.load(), works.set.NumAntenna.load());
      return 0;
    case 6:
      if (GPIO_Errori(works) == 1) {
        atu.fineTuneRequest = 0;
        return 0;
      }
      atu.fineTuneRequest = 0;
      clearNotice(works, kNoticeBypassNotSaved);
      if (e.longPress) {
        resendSetup(works);
      } else if (!tuneEnabled(works)) {
        setNotice(works, kNoticeTuneNotEnabled);
      } else if (works.ui.manualTuneFlag.load() != 0) {
        works.ui.manualTuneFlag = 0;
      } else {
        works.ui.manualTuneFlag = 1;
        queue(works, CmdMTread);
        setState(works, S::ManualTune);
        ImpostaLblManuale(works);
      }
      return 0;
    default:
      return 0;
  }
}

// ---- state 4: manual tuning ----

// L or C one step down (while above 0) or up (while at most 510): the range is 0..511.
void stepTune(Works& works, std::atomic<int>& step, int delta, void (*apply)(Works&, int)) {
  const int now = step.load();
  if (delta < 0 ? now <= 0 : now > 510) return;
  changeTuneValue(works, [&] {
    step = now + delta;
    apply(works, now + delta);
  });
}

int manualTune(Works& works, Event e) {
  AtuState& atu = works.atu;
  UiState& ui = works.ui;
  const int repeat = e.longPress ? 1 : 0;
  switch (e.key) {
    case 1:
      if (!e.longPress) {
        ui.txTestFlags = static_cast<uint8_t>((ui.txTestFlags.load() | 0x01) & ~0x02);
        ui.saveBank = works.set.NumBanco.load();
        ui.saveAntenna = works.set.NumAntenna.load();
        setState(works, S::SaveTune);
      } else if (!tuning(works)) {
        changeTuneValue(works, [&] {
          const int mode = atu.tuneMode.load();
          SetMode(works, mode == 0 || mode > 2 ? 1 : mode + 1);
        });
      }
      return 0;
    case 2:
      stepTune(works, atu.tuneL, -1, &SetI);
      return repeat;
    case 3:
      stepTune(works, atu.tuneL, 1, &SetI);
      return repeat;
    case 4:
      stepTune(works, atu.tuneC, -1, &SetC);
      return repeat;
    case 5:
      stepTune(works, atu.tuneC, 1, &SetC);
      return repeat;
    case 6: {
      const uint8_t flags = ui.txTestFlags.load();
      if ((flags & 0x02) != 0) {
        ui.txTestFlags = static_cast<uint8_t>((flags & 0xCC) | 0x01);
        ui.Novamenu.set(S::ManualTune, 6, 1, "StartTX");
      } else {
        uint8_t next = flags;
        if ((works.amp.statusA.load() & 0x01) != 0) {
          atu.antennaInUse = 0;
          queue(works, CmdAN);
          next |= 0x10;
        }
        ui.txTestFlags = static_cast<uint8_t>(next | 0x03);
        ui.Novamenu.set(S::ManualTune, 6, 1, "StopTX");
      }
      return 0;
    }
    default:
      return 0;
  }
}

// ---- states 6 and 7: memory table ----

int memoryTable(Works& works, Event e) {
  UiState& ui = works.ui;
  const int rows = works.bands.bands.get().count;
  switch (e.key) {
    case 1:
      if (e.longPress) {
        ui.shutdownState = 1;
      } else {
        closePage(works, kPageMemoryTable);
        setState(works, S::Main);
      }
      return 0;
    case 2:
      ChangeInterfaceBanco(works);
      return 0;
    case 3:
      ui.tableRow = stepDown(ui.tableRow.load(), std::max(0, rows - 1));
      return 0;
    case 4:
      ui.tableRow = nextWrapping(ui.tableRow.load(), std::max(1, rows));
      return 0;
    case 5:
      setState(works, S::BankChoice);
      return 0;
    case 6:
      ui.tableColumn = 0;
      setState(works, S::MemoryTableEdit);
      return 0;
    default:
      return 0;
  }
}

int memoryTableEdit(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      LoadTabConfig(works, works.set.NumBanco.load());
      ui.tableColumn = -1;
      setState(works, S::MemoryTable);
      return 0;
    case 2:
      ui.tableColumn = stepDown(ui.tableColumn.load(), 4);
      return 0;
    case 3:
      ui.tableColumn = stepUp(ui.tableColumn.load(), 4);
      return 0;
    case 4:
      ModifytabAntenna(works, 1);
      return 0;
    case 5:
      ModifytabAntenna(works, 0);
      return 0;
    case 6:
      SaveTabConfig(works, works.set.NumBanco.load());
      return 0;
    default:
      return 0;
  }
}

// ---- states 8 to 11: save, copy and reset ----

int saveTune(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      setState(works, S::Main);
      return 0;
    case 2:
      ui.saveBank = nextWrapping(ui.saveBank.load(), works.set.MAXbank.load());
      return 0;
    case 3:
      ui.saveAntenna = stepUp(ui.saveAntenna.load(), 2);
      return 0;
    case 6:
      if (DecodeModoFromTuneval(works.atu.tuneValue.load()) == 3) {
        setNotice(works, kNoticeBypassNotSaved);
      } else {
        LoadTabAtu(works, ui.saveBank.load(), ui.saveAntenna.load());
        InsertTuneToMem(works, ui.saveBank.load(), ui.saveAntenna.load());
        LoadAllBankTable(works, works.set.NumBanco.load());
      }
      setState(works, S::Tune);
      return 0;
    default:
      return 0;
  }
}

int bankChoice(Works& works, Event e) {
  switch (e.key) {
    case 1:
      setState(works, S::MemoryTable);
      return 0;
    case 2:
      works.ui.copySource = works.set.NumBanco.load();
      setState(works, S::BankCopy);
      return 0;
    case 3:
      works.ui.resetTarget = works.set.NumBanco.load();
      setState(works, S::BankReset);
      return 0;
    default:
      return 0;
  }
}

int bankCopy(Works& works, Event e) {
  UiState& ui = works.ui;
  const int banks = works.set.MAXbank.load();
  switch (e.key) {
    case 1:
      setState(works, S::MemoryTable);
      return 0;
    case 2:
      ui.copySource = nextWrapping(ui.copySource.load(), banks);
      return 0;
    case 3:
      ui.copyTarget = nextWrapping(ui.copyTarget.load(), banks);
      return 0;
    case 6: {
      const int from = ui.copySource.load();
      const int to = ui.copyTarget.load();
      // The tuner's table holds one antenna at a time: each is read and written in turn.
      for (int antenna = 0; antenna < 3; ++antenna) {
        LoadTabAtu(works, from, antenna);
        SaveTabAtu(works, to, antenna);
      }
      // The copy carries the source's interface; afterwards the current bank is read
      // back, so that its own tables, not the source's, are the ones later saves write.
      works.bands.freqInterface = LoadTabConfig(works, from);
      SaveTabConfig(works, to);
      LoadAllBankTable(works, works.set.NumBanco.load());
      setState(works, S::MemoryTable);
      return 0;
    }
    default:
      return 0;
  }
}

int bankReset(Works& works, Event e) {
  UiState& ui = works.ui;
  const int banks = works.set.MAXbank.load();
  switch (e.key) {
    case 1:
      setState(works, S::MemoryTable);
      return 0;
    case 2: {
      const int next = ui.resetTarget.load() + 1;
      ui.resetTarget = next > banks ? 0 : next;
      return 0;
    }
    case 6: {
      const int target = ui.resetTarget.load();
      const int first = target >= banks ? 0 : target;
      const int last = target >= banks ? banks - 1 : target;
      for (int bank = first; bank <= last; ++bank) {
        for (int kind = 0; kind <= 3; ++kind) DeleteFileConf(works, bank, kind);
      }
      LoadAllBankTable(works, works.set.NumBanco.load());
      works.atu.lastBandApplied = -1;
      setState(works, S::MemoryTable);
      return 0;
    }
    default:
      return 0;
  }
}

// ---- states 12 and 13: receive filters ----

int filterList(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      if ((ui.pageFlags.load() & kPageFilters) != 0) {
        closePage(works, kPageFilters);
        setState(works, S::MenuBrowse);
      }
      return 0;
    case 3:
    case 4:
      ui.filterRow = e.key == 3 ? stepDown(ui.filterRow.load(), kFilterRows - 1)
                                : stepUp(ui.filterRow.load(), kFilterRows - 1);
      ui.filterColumn = 0;
      ui.filterStepIndex = 0;
      return 0;
    case 6: {
      const int row = std::clamp(ui.filterRow.load(), 0, kFilterRows - 1);
      FilterRow f;
      {
        std::scoped_lock lock(works.bands.filterMutex);
        f = works.bands.filters[static_cast<size_t>(row)];
      }
      ui.filterEditStart = f.Fstart;
      ui.filterEditStop = f.Fstop;
      ui.filterEditEnabled = f.enabled;
      ui.filterEditStatus = 0;
      setState(works, S::FilterEdit);
      return 0;
    }
    default:
      return 0;
  }
}

// value + delta, not below 0 and not beyond what the field holds.
int32_t addStep(int32_t value, int64_t delta) {
  const int64_t v = static_cast<int64_t>(value) + delta;
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX));
}

int filterEdit(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      ui.filterStepIndex = 0;
      ui.filterEditStatus = 0;
      setState(works, S::FilterList);
      return 0;
    case 2:
      ui.filterColumn = stepUp(ui.filterColumn.load(), 2);
      return 0;
    case 3:
      ui.filterStepIndex = stepUp(ui.filterStepIndex.load(), 3);
      return 0;
    case 4:
    case 5: {
      ui.filterEditStatus = 0;
      const int index = std::clamp(ui.filterStepIndex.load(), 0, 3);
      const int64_t step = (e.key == 4 ? -1 : 1) * static_cast<int64_t>(StepFilterVal[index]);
      switch (ui.filterColumn.load()) {
        case 0:
          ui.filterEditStart = addStep(ui.filterEditStart.load(), step);
          break;
        case 1:
          ui.filterEditStop = addStep(ui.filterEditStop.load(), step);
          break;
        case 2:
          ui.filterEditEnabled = ui.filterEditEnabled.load() == 0 ? 1 : 0;
          break;
        default:
          break;
      }
      if (ui.filterEditStop.load() < ui.filterEditStart.load()) ui.filterEditStatus = 2;
      return 0;
    }
    case 6: {
      if (ui.filterEditStatus.load() > 1) {
        ui.filterEditStatus = 3;
        return 0;
      }
      const int row = std::clamp(ui.filterRow.load(), 0, kFilterRows - 1);
      {
        std::scoped_lock lock(works.bands.filterMutex);
        FilterRow& f = works.bands.filters[static_cast<size_t>(row)];
        f.Fstart = ui.filterEditStart.load();
        f.Fstop = ui.filterEditStop.load();
        f.enabled = ui.filterEditEnabled.load();
      }
      SetFilterFromfreq(works);
      SaveTabFiltri(works);
      ui.filterEditStatus = 1;
      return 0;
    }
    default:
      return 0;
  }
}

// ---- state 14: status page ----

int statusPage(Works& works, Event e) {
  UiState& ui = works.ui;
  if (e.key == 1) {
    if (e.longPress) {
      ui.shutdownState = 1;
    } else {
      EscFromStatus(works);
      setState(works, S::Main);
    }
    return 0;
  }
  if (works.set.EnableDebug.load() == 0) return 0;
  const int bank = works.set.NumBanco.load();
  switch (e.key) {
    case 3:
      SaveToBankDebug(works, bank, 4);
      return 0;
    case 4:
      SaveToBankDebug(works, bank, 3);
      return 0;
    case 5:
      SaveToBankDebug(works, bank, 0);
      return 0;
    case 6:
      works.set.EnableDebug = 0;
      writeSetup(works);
      return 0;
    default:
      return 0;
  }
}

// ---- states 15 and 16: spectrum settings ----

constexpr uint8_t kPlotSingle = 0x80;

int spectrumList(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      if ((ui.pageFlags.load() & kPageSpectrum) != 0) {
        closePage(works, kPageSpectrum);
        setState(works, S::MenuBrowse);
      }
      return 0;
    case 2:
      InitPlotterTab(works, 0, 10, 10, 0.0);
      SavePlotterFile(works);
      return 0;
    case 3:
    case 4:
      ui.plotRow = e.key == 3 ? stepDown(ui.plotRow.load(), kPlotterRows - 1)
                              : stepUp(ui.plotRow.load(), kPlotterRows - 1);
      ui.plotColumn = 0;
      return 0;
    case 5:
      ui.plotConfigType = static_cast<uint8_t>(ui.plotConfigType.load() ^ kPlotSingle);
      return 0;
    case 6: {
      const PlotterRow row = works.spectrum.plotter.row(ui.plotRow.load());
      ui.plotEditOffset = row.plotOffset;
      ui.plotEditLevel = row.refLevel;
      ui.plotEditPos = row.refPosition;
      ui.plotEditDiv = row.dbPerDiv;
      setState(works, S::SpectrumEdit);
      return 0;
    }
    default:
      return 0;
  }
}

int spectrumEdit(Works& works, Event e) {
  UiState& ui = works.ui;
  switch (e.key) {
    case 1:
      setState(works, S::SpectrumList);
      return 0;
    case 2:
      ui.plotColumn = stepUp(ui.plotColumn.load(), 3);
      return 0;
    case 4:
    case 5: {
      const int d = e.key == 4 ? -1 : 1;
      switch (ui.plotColumn.load()) {
        case 0: {
          const double v = ui.plotEditOffset.load() + d;
          ui.plotEditOffset = e.key == 4 && v < 0 ? 0.0 : v;
          break;
        }
        case 1:
          ui.plotEditLevel = std::clamp(ui.plotEditLevel.load() + d, -200, 200);
          break;
        case 2:
          ui.plotEditPos = std::clamp(ui.plotEditPos.load() + d, 0, 10);
          break;
        case 3:
          ui.plotEditDiv = std::clamp(ui.plotEditDiv.load() + d, 1, 20);
          break;
        default:
          break;
      }
      return 0;
    }
    case 6: {
      const PlotterRow row{ui.plotEditOffset.load(), ui.plotEditLevel.load(), ui.plotEditPos.load(),
                           ui.plotEditDiv.load()};
      if ((ui.plotConfigType.load() & kPlotSingle) != 0) {
        works.spectrum.plotter.setRow(ui.plotRow.load(), row);
      } else {
        InitPlotterTab(works, row.refLevel, row.refPosition, row.dbPerDiv, row.plotOffset);
      }
      SavePlotterFile(works);
      return 0;
    }
    default:
      return 0;
  }
}

int decodeInState(Works& works, Event e) {
  switch (works.ui.panelState.load()) {
    case S::Main:
      return mainScreen(works, e);
    case S::MenuBrowse:
      return menuBrowse(works, e);
    case S::MenuEdit:
      return menuEdit(works, e);
    case S::Tune:
      return tuneScreen(works, e);
    case S::ManualTune:
      return manualTune(works, e);
    case S::MemoryTable:
      return memoryTable(works, e);
    case S::MemoryTableEdit:
      return memoryTableEdit(works, e);
    case S::SaveTune:
      return saveTune(works, e);
    case S::BankChoice:
      return bankChoice(works, e);
    case S::BankCopy:
      return bankCopy(works, e);
    case S::BankReset:
      return bankReset(works, e);
    case S::FilterList:
      return filterList(works, e);
    case S::FilterEdit:
      return filterEdit(works, e);
    case S::StatusPage:
      return statusPage(works, e);
    case S::SpectrumList:
      return spectrumList(works, e);
    case S::SpectrumEdit:
      return spectrumEdit(works, e);
  }
  return 0;
}

}  // namespace

bool amplifierLocked(const Works& works) {
  return (works.amp.statusB.load() & 0x07) != 0 || (works.amp.statusC.load() & 0x08) != 0;
}

bool finishServiceTask(Works& works, bool wait) {
  platform::Thread& task = works.ui.serviceTask;
  if (!task.joinable()) return true;
  if (wait) {
    task.join();
    return true;
  }
  return task.tryJoin();
}

int EscFromStatus(Works& works) {
  if ((works.ui.pageFlags.load() & kPageStatus) == 0) return 0;
  works.ui.pageFlags.fetch_and(~kPageStatus);
  SetWorkImg(works);
  return 1;
}

void ModifytabAntenna(Works& works, int down) {
  BandTable::Snapshot t = works.bands.bands.get();
  const int row = works.ui.tableRow.load();
  if (row < 0 || row >= t.count || row >= kBandRows) return;
  BandRow& r = t.rows[static_cast<size_t>(row)];
  switch (works.ui.tableColumn.load()) {
    case 0:
      r.PwrIn = std::clamp(r.PwrIn + (down != 0 ? -0.1f : 0.1f), 0.0f, 5.0f);
      break;
    case 1: {
      const uint8_t v = static_cast<uint8_t>(r.Att + (down != 0 ? -1 : 1));
      r.Att = v > 3 ? 0 : v;
      break;
    }
    case 2:
      r.AmpEnable = r.AmpEnable == 0 ? 1 : 0;
      break;
    case 3: {
      int v = r.Ant + (down != 0 ? -1 : 1);
      if (v == 0) v = 3;
      if (v > 3) v = 1;
      r.Ant = static_cast<uint8_t>(v);
      break;
    }
    case 4:
      r.Atu = r.Atu == 0 ? 1 : 0;
      break;
    default:
      return;
  }
  works.bands.bands.set(t);
}

int DecodeTasto(Works& works, int key, int heldMask) {
  if (key < 1 || key > 6) return 0;
  UiState& ui = works.ui;
  if (ui.shutdownState.load() != 0) return 0;
  if (ui.serviceTaskRunning.load() != 0) return 0;  // a menu action still runs
  if (DisattivoScreenSave(works) == 1) return 0;
  clearNotice(works, kNoticeLocked);
  const int result = decodeInState(works, Event{key, heldMask != 0});
  clearNotice(works, kNoticeLongPress);
  return result;
}

}  // namespace corvid
