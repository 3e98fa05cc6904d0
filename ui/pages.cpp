// The parameter area of every state: the power-off text, the menu lines, the update and
// firmware notices, the memory table, filter and spectrum settings pages, and the main
// screen's notice line and info boxes; and the status page.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "amp/amp.h"
#include "atu/atu.h"
#include "atu/follow.h"
#include "bands/bands.h"
#include "core/threads.h"
#include "core/works.h"
#include "errors/errors.h"
#include "ui/menu.h"
#include "system/updates.h"
#include "ui/screen_draw.h"
#include "ui/screens.h"

namespace corvid {

using namespace screen;

namespace {

using S = PanelState;

template <typename... Args>
std::string format(const char* pattern, Args... args) {
  char out[256];
  std::snprintf(out, sizeof out, pattern, args...);
  return out;
}

double d(float value) {
  return static_cast<double>(value);
}

bool fahrenheit(const Works& works) {
  return works.set.TempMode.load() == 1;
}

double temperature(const Works& works, float celsius) {
  return d(fahrenheit(works) ? ConversionCelsius_to_Fahrenheit(celsius) : celsius);
}

double ampCurrent(const Works& works) {
  return d(works.amp.ampCurrentRaw.load()) / 4096.0 * 14.05;
}

std::string attenuatorText(int select, const char* withDb, const char* standby) {
  if (select >= 0 && select <= 3) return format(withDb, AttVectStr[select]);
  return format(standby, AttVectStr[4]);
}


// A version text split at its first '.': the numbers before and after it.
std::array<int, 2> versionParts(const std::string& version) {
  const size_t dot = version.find('.');
  const std::string major = version.substr(0, dot);
  const std::string minor = dot == std::string::npos ? "" : version.substr(dot + 1);
  return {static_cast<int>(std::strtol(major.c_str(), nullptr, 10)),
          static_cast<int>(std::strtol(minor.c_str(), nullptr, 10))};
}

std::string bandName(const BandRow& row) {
  return std::string(row.name, strnlen(row.name, sizeof row.name));
}

// ---- menu lines ----

struct MenuLineStyle {
  int slot;       // number, group and label
  int valueSlot;  // value
  Rgb colour;
};

void drawMenuLine(Works& works, int item, int y, const MenuLineStyle& style,
                  const std::string& value) {
  const MenuEntry& e = menuPar[static_cast<size_t>(item)];
  text(works, style.slot, 20, y, format("%d -", e.number), style.colour);
  text(works, style.slot, 70, y, e.group, style.colour);
  text(works, style.slot, 350, y, e.label, style.colour);
  textRight(works, style.valueSlot, 790, y, value, style.colour);
}

// The address being edited in three pieces, right-aligned to x 790: the octets before
// the cursor with their dot, the octet under the cursor in white, and the rest.
void drawLanValue(Works& works, int address, int cursor, int y) {
  const LanAddresses lan = works.system.lan.get();
  const std::array<const std::array<uint8_t, 4>*, 4> bytes{&lan.IP_v, &lan.NetMask_v,
                                                           &lan.Gateway_v, &lan.DNS_v};
  const std::array<uint8_t, 4>& a = *bytes[static_cast<size_t>(address)];
  std::string before;
  std::string after;
  for (int i = 0; i < cursor; ++i) before += std::to_string(a[static_cast<size_t>(i)]) + ".";
  const std::string under = std::to_string(a[static_cast<size_t>(cursor)]);
  for (int i = cursor + 1; i < 4; ++i) after += "." + std::to_string(a[static_cast<size_t>(i)]);
  constexpr int kSlot = 7;
  const int width = getStringSpace(kSlot, before.c_str()) + getStringSpace(kSlot, under.c_str()) +
                    getStringSpace(kSlot, after.c_str());
  int x = 790 - width;
  text(works, kSlot, x, y, before, kOrange);
  x += getStringSpace(kSlot, before.c_str());
  text(works, kSlot, x, y, under, kWhite);
  x += getStringSpace(kSlot, under.c_str());
  text(works, kSlot, x, y, after, kOrange);
}

void drawMenu(Works& works, bool editing) {
  const bool statusOpen = (works.ui.pageFlags.load() & kPageStatus) != 0;
  const int top = statusOpen ? 335 : 285;
  fill(works, 1, top, 798, top + 25, kFace);
  fill(works, 1, top + 26, 798, top + 54, kMenuBand);
  fill(works, 1, top + 55, 798, top + 79, kFace);

  int last = lastMenuItem(works);
  if (last < 0 || last >= kMenuItems) last = kMenuItems - 1;
  const int selected = std::clamp(works.ui.menuSection.load(), 0, last);
  const int previous = selected == 0 ? last : selected - 1;
  const int next = selected >= last ? 0 : selected + 1;

  const MenuLineStyle neighbour{1, 11, kOrange};
  drawMenuLine(works, previous, top + 20, neighbour, LoadParameterMenu(works, previous, 0));
  drawMenuLine(works, next, top + 75, neighbour, LoadParameterMenu(works, next, 0));
  // The selected item last: its value text sets the LAN cursor the split below reads.
  const std::string value = LoadParameterMenu(works, selected, 0);
  const int y = top + 50;
  const bool lan = selected >= kItemFirstLan && selected <= kItemLastLan;
  if (editing && lan) {
    int address = works.ui.lanEditAddress.load();
    int cursor = works.ui.lanEditIndex.load();
    if (address < 0 || address > 3) {
      // No address named by the value text: the item's own address and cursor.
      address = selected - kItemFirstLan;
      const std::array<const std::atomic<int>*, 4> cursors{&works.ui.CntIP, &works.ui.CntNetMask,
                                                           &works.ui.CntGateway, &works.ui.CntDNS};
      cursor = cursors[static_cast<size_t>(address)]->load();
    }
    cursor = std::clamp(cursor, 0, 3);
    drawMenuLine(works, selected, y, {7, 7, kWhite}, "");
    drawLanValue(works, address, cursor, y);
  } else {
    drawMenuLine(works, selected, y, {7, editing ? 7 : 0, kWhite}, value);
  }
}

// ---- pages ----

constexpr int kTableTop = 130;
constexpr int kRowStep = 22;

void drawMemoryTable(Works& works) {
  const BandTable::Snapshot table = works.bands.bands.get();
  const int type = interfaceNumber(works.bands.freqInterface.load());
  text(works, 0, 100, 50,
       format(" Memory Table Bank %i - Interface: %s", works.set.NumBanco.load(),
              GetLblInterface(type).c_str()),
       kOrange);
  text(works, 8, 50, 100, "N    Band    PwrIn    Att(dB)  AmpEnable    Ant       Atu", kWhite);
  constexpr std::array<int, 7> kColumns{50, 90, 170, 250, 330, 480, 550};
  const int count = std::clamp(table.count, 0, kBandRows);
  const int selected = works.ui.tableRow.load();
  const bool editing = works.ui.panelState.load() == S::MemoryTableEdit;
  const int edited = works.ui.tableColumn.load();
  for (int r = 0; r < count; ++r) {
    const auto cells = memoryTableCells(table.rows[static_cast<size_t>(r)], r);
    const int y = kTableTop + kRowStep * r;
    for (size_t c = 0; c < cells.size(); ++c) {
      const bool cell = editing && r == selected && static_cast<int>(c) == edited + 2;
      if (cell) {
        text(works, 7, kColumns[c], y, cells[c], kEditRed);
      } else {
        text(works, 8, kColumns[c], y, cells[c], r == selected ? kOrange : kWhite);
      }
    }
  }
}

void drawFilters(Works& works) {
  std::array<FilterRow, kFilterRows> rows;
  {
    std::scoped_lock lock(works.bands.filterMutex);
    rows = works.bands.filters;
  }
  const UiState& ui = works.ui;
  text(works, 0, 250, 50, "FILTER SETTINGS", kOrange);
  text(works, 8, 50, 100, "N    Start (Hz)                 Stop(Hz)                   Enabled",
       kWhite);
  const int selected = ui.filterRow.load();
  const bool editing = ui.panelState.load() == S::FilterEdit;
  if (editing && selected >= 0 && selected < kFilterRows) {
    FilterRow& row = rows[static_cast<size_t>(selected)];
    row.Fstart = ui.filterEditStart.load();
    row.Fstop = ui.filterEditStop.load();
    row.enabled = ui.filterEditEnabled.load();
  }
  for (int r = 0; r < kFilterRows; ++r) {
    const FilterRow& row = rows[static_cast<size_t>(r)];
    const int y = kTableTop + kRowStep * r;
    const Rgb colour = r == selected ? kOrange : kWhite;
    const std::array<std::string, 3> cells{format("%d", row.Fstart), format("%d", row.Fstop),
                                           row.enabled == 1 ? "On" : "Off"};
    constexpr std::array<int, 3> kColumns{90, 290, 490};
    text(works, 8, 50, y, format("%d", r + 1), colour);
    for (size_t c = 0; c < cells.size(); ++c) {
      const bool cell = editing && r == selected && static_cast<int>(c) == ui.filterColumn.load();
      text(works, 8, kColumns[c], y, cells[c], cell ? kEditRed : colour);
    }
  }
  static constexpr const char* kStatus[4] = {" ", "FILTER MODIFIED!", "ERROR: set Start < Stop!",
                                             "NOT SAVED: Frequency Error!"};
  const int status = ui.filterEditStatus.load();
  if (status >= 0 && status < 4) text(works, 8, 250, 380, kStatus[status], kOrange);
}

void drawSpectrumSettings(Works& works) {
  const UiState& ui = works.ui;
  const BandTable::Snapshot table = works.bands.bands.get();
  PlotterTable::Rows rows = works.spectrum.plotter.get();
  text(works, 0, 250, 50, "SPECTRUM SETTING", kOrange);
  text(works, 8, 30, 100, "Config Type", kWhite);
  const bool single = (ui.plotConfigType.load() & 0x80) != 0;
  text(works, 8, 200, 100,
       single ? "Single  (Set different values for each band)"
              : "All     (Set all bands with the same value)",
       kWhite);
  text(works, 8, 50, 130, "Band      Offset(dBm)      Lev(dBm)      Pos             Div", kOrange);
  const int selected = ui.plotRow.load();
  const bool editing = ui.panelState.load() == S::SpectrumEdit;
  if (editing && selected >= 0 && selected < kPlotterRows) {
    PlotterRow& row = rows[static_cast<size_t>(selected)];
    row.plotOffset = ui.plotEditOffset.load();
    row.refLevel = ui.plotEditLevel.load();
    row.refPosition = ui.plotEditPos.load();
    row.dbPerDiv = ui.plotEditDiv.load();
  }
  for (int r = 0; r < kPlotterRows; ++r) {
    const PlotterRow& row = rows[static_cast<size_t>(r)];
    const int y = 150 + kRowStep * r;
    const Rgb colour = r == selected ? kOrange : kWhite;
    std::string name = "Other";
    if (r < kPlotterRows - 1)
      name = r < table.count ? bandName(table.rows[static_cast<size_t>(r)]) : "";
    text(works, 8, 50, y, name, colour);
    const double offset = std::clamp(row.plotOffset, -1e6, 1e6);
    const std::array<std::string, 4> cells{
        format("%d", static_cast<int>(offset)), format("%d", row.refLevel),
        format("%d", row.refPosition), format("%d", row.dbPerDiv)};
    constexpr std::array<int, 4> kColumns{190, 310, 430, 550};
    for (size_t c = 0; c < cells.size(); ++c) {
      const bool cell = editing && r == selected && static_cast<int>(c) == ui.plotColumn.load();
      text(works, 8, kColumns[c], y, cells[c], cell ? kEditRed : colour);
    }
  }
}

// ---- main screen ----

void drawDebug(Works& works) {
  const AmpState& amp = works.amp;
  const AtuState& atu = works.atu;
  text(works, 8, 15, 245,
       format("PW %04d FWD %04d REFL %04d  (%X) REF:%02.02fW", amp.rawPwrIn.load(),
              amp.rawFwd.load(), amp.rawRefl.load(), works.ui.tinyVamp.load(),
              d(amp.pwrRefl.load())),
       kRed);
  char mode[4];
  DetermineTumeMemMode(works, mode);
  text(works, 8, 510, 245,
       format("freq %lu L%i,C%i,%s", static_cast<unsigned long>(amp.ampFreq.load()),
              atu.tuneL.load(), atu.tuneC.load(), mode),
       kRed);
  text(works, 8, 345, 165, format("SWR:%02.02f", d(amp.swr.load())), kRed);
  text(works, 8, 550, 135, format("PWR IN:%02.01f", d(amp.pwrIn.load())), kRed);
}

void drawMainScreen(Works& works) {
  if (works.set.EnableDebug.load() != 0) drawDebug(works);
  text(works, 8, 5, 350, noticeText(works), kWhite);
  textRight(works, 8, 790, 350, works.atu.tuneInfoText.get(), kWhite);

  struct Box {
    int x1, x2, textX;
  };
  constexpr std::array<Box, 7> kBoxes{{{1, 110, 10},
                                       {115, 260, 125},
                                       {265, 400, 275},
                                       {405, 520, 415},
                                       {525, 600, 535},
                                       {605, 710, 615},
                                       {715, 799, 725}}};
  const auto texts = infoBoxTexts(works);
  for (size_t i = 0; i < kBoxes.size(); ++i) {
    const Box& b = kBoxes[i];
    DrawRect(works, b.x1, 278, b.x2, 303, kBoxFrame.r, kBoxFrame.g, kBoxFrame.b);
    const bool remoteFailed = i == 6 && works.ui.remoteError.load() != 0;
    text(works, 8, b.textX, 298, texts[i], remoteFailed ? kRed : kLightBlue);
  }
  DrawRect(works, 1, 307, 400, 332, kSupplyFrame.r, kSupplyFrame.g, kSupplyFrame.b);
  DrawRect(works, 405, 307, 799, 332, kSupplyFrame.r, kSupplyFrame.g, kSupplyFrame.b);
  text(works, 8, 10, 327, temperatureBoxText(works), kGreen);
  text(works, 8, 415, 327, supplyBoxText(works), kGreen);
}

}  // namespace

// ---- texts ----

std::array<std::string, 7> infoBoxTexts(const Works& works) {
  std::array<std::string, 7> out;
  out[0] = GetLblInterface(interfaceNumber(works.bands.freqInterface.load()));
  out[1] = (works.amp.statusA.load() & 0x01) != 0 ? "Coax:RX+TX" : "  Coax:RTX";
  const uint32_t freq = works.ui.trxFreq.load();
  if (freq >= 26000000 && freq <= 28000000) {
    out[2] = "NOPA";  // no amplification between 26 and 28 MHz
  } else {
    const BandTable::Snapshot table = works.bands.bands.get();
    const int i = bandIndexFor(works, freq);
    out[2] = i >= 0 && i < kBandRows ? "Band:" + bandName(table.rows[static_cast<size_t>(i)])
                                     : "Band:---";
  }
  out[3] = attenuatorText(works.atu.attSelect.load(), "Att %sdB", "Att %s");
  out[4] = format("Ant %d", works.set.NumAntenna.load() + 1);
  out[5] = works.atu.tunerBypassed.load() != 0 ? "Atu: ByP" : "Atu: On";
  // A failed switch to remote leaves the mode local and shows "Remote" (in red).
  const bool remote = works.set.LocalRemote.load() == 1 || works.ui.remoteError.load() != 0;
  out[6] = remote ? "Remote" : "Local";
  return out;
}

std::string temperatureBoxText(const Works& works) {
  const char* pattern = fahrenheit(works) ? "PA1:%04.01f°F   P2:%04.01f°F    CPU:%04.01f°F"
                                          : "PA1:%04.01f°C   P2:%04.01f°C    CPU:%04.01f°C";
  return format(pattern, temperature(works, works.amp.temp1.load()),
                temperature(works, works.amp.temp2.load()),
                temperature(works, works.amp.cpuTemp.load()));
}

std::string supplyBoxText(const Works& works) {
  const float volts = CalvTensVadcAmp(works, works.ui.tinyVamp.load());
  // The small model's converter reads above 20 V only when the reading is not valid.
  if (works.amp.ampModel.load() != '1' && volts > 20.0f) {
    return format("PA Voltage: -----       Current: %04.01fA", ampCurrent(works));
  }
  return format("PA Voltage: %04.01fV       Current: %04.01fA", d(volts), ampCurrent(works));
}

std::string noticeText(const Works& works) {
  struct Notice {
    uint32_t bit;
    const char* text;
  };
  static constexpr std::array<Notice, 7> kNotices{{
      {kNoticeLongPress, "Entering second function..."},
      {kNoticeBypassNotSaved, "ATU ByPass not saved!"},
      {kNoticeRemoteError, "Set to Local: Remote Error"},
      {kNoticeLocked, "Locked operation."},
      {kNoticeTuneNotEnabled, "TUNE not Enabled."},
      {kNoticeBypassActive, "ByPass active."},
      {kNoticeWaitingForTune, "Waiting for Tune..."},
  }};
  const uint32_t flags = works.ui.noticeFlags.load();
  for (const Notice& n : kNotices) {
    if ((flags & n.bit) != 0) return n.text;
  }
  if (works.atu.tuneState.load() != TuneState::Idle) return "Press Tune Key to abort";
  return "";
}

std::string updateNoticeText(const Works& works) {
  const SystemState& system = works.system;
  const int result = system.updateResult.load();
  // The menu clears the result when it starts a run, so a result other than 0 is the
  // outcome of that run (-1: the script gave no result line, a failure as well).
  if (result != 0) return format("Update UI error %i ", result);
  const bool serviceArmed = (works.ui.serviceFlags.load() & kServiceRemoteShell) != 0;
  // An update runs (or has ended well and the reboot is near) when newer software is on
  // offer and the firmware is recent enough; the service update runs whatever is offered.
  if (serviceArmed || system.updateAvailable.load() == kUpdateSoftware) {
    return "Update UI in progress: Wait for reset (max 5 min)";
  }
  if (system.updateAvailable.load() == kUpdateSoftwareAndFw) {
    return format("UI update: please first update the FW version at %d.%d",
                  system.offeredFwMajor.load(), system.offeredFwMinor.load());
  }
  return "UI is running last version";
}

std::array<std::string, 7> memoryTableCells(const BandRow& row, int r) {
  const bool amplify = row.AmpEnable == 1;
  std::string att = "---";
  if (amplify && row.Att < std::size(AttVectStr)) att = AttVectStr[row.Att];
  return {format("%d", r + 1),
          bandName(row),
          row.PwrIn >= 0.1f ? format("%2.1f", d(row.PwrIn)) : "---",
          att,
          amplify ? "On" : "Off (StdBy)",
          format("%x", row.Ant),
          row.Atu == 1 ? "Off" : "On"};
}

std::array<std::string, 12> statusPageValues(const Works& works) {
  const AmpState& amp = works.amp;
  EepromPages pages;
  {
    std::scoped_lock lock(amp.eepromMutex);
    pages = amp.eeprom;
  }
  const auto sw = versionParts(works.core.version);
  const auto fw = versionParts(amp.ampFwVersion.get());
  const auto hw = versionParts(pageText(pages.page2));
  const uint8_t region = amp.ampModelAux.load();
  const uint8_t power = amp.ampModel.load();
  const bool extIo = works.bands.freqInterface.load() == FreqInterface::ExtIo;
  const uint32_t trx = works.ui.trxFreq.load();
  const uint32_t counter = amp.ampFreq.load();
  const bool f = fahrenheit(works);
  const LanAddresses lan = works.system.lan.get();
  std::array<std::string, 12> out;
  out[0] = format("SW ver. %i.%i, FW ver. %i.%i, HW ver. %i.%i", sw[0], sw[1], fw[0], fw[1], hw[0],
                  hw[1]);
  out[1] = format("%s (%s), TYPE: %s, MAXPOWER: %s", pageText(pages.page0).c_str(),
                  pageText(pages.page1).c_str(),
                  region == '0'   ? "EU"
                  : region == '1' ? "USA"
                                  : "",
                  power == '0'   ? "60W"
                  : power == '1' ? "120W"
                                 : "");
  out[2] = format("FWD:%02.01f, RFL:%02.01f , PW:%02.01f, SWR:%02.01f", d(amp.pwrFwd.load()),
                  d(amp.pwrRefl.load()), d(amp.pwrIn.load()), d(amp.swr.load()));
  // The frequency in use, and in parentheses the other source's.
  out[3] = format("%ldHz(%ld)", static_cast<long>(extIo ? trx : counter),
                  static_cast<long>(extIo ? counter : trx));
  out[4] = format(f ? "Current:%05.01fA (%05.01f), Tbrd:%04.02f°F, Thsk:%04.02f°F"
                    : "Current:%05.01fA (%05.01f), Tbrd:%04.02f°C, Thsk:%04.02f°C",
                  ampCurrent(works), d(amp.ampCurrentRaw.load()),
                  temperature(works, amp.temp1.load()), temperature(works, amp.temp2.load()));
  out[5] = format(f ? "CPU:%4.01f°F, GPU:%4.01f°F" : "CPU:%2.01f°C, GPU:%2.01f°C",
                  temperature(works, amp.cpuTemp.load()), temperature(works, amp.gpuTemp.load()));
  out[6] =
      format(f ? "Set Point Alarm %4.01f°F, FAN: %i%%" : "Set Point Alarm %04.02f°C, FAN: %i%%",
             temperature(works, works.set.MaxTemperature.load()), amp.fanPercent.load());
  out[7] = format("IP:%s, NetMask:%s ", lan.IP.c_str(), lan.NetMask.c_str());
  out[8] = format("Gateway:%s, DNS:%s ", lan.Gateway.c_str(), lan.DNS.c_str());
  out[9] = format("State 0x%02x 0x%02x,ES:%d,ER:%d", amp.statusA.load(), amp.statusB.load(),
                  amp.retryTotal.load(), amp.linkRestarts.load());
  out[10] = ExistError(works, Err::ExtIoLost) == 1 ? "No EXT IO data" : "EXT IO connected";
  out[11] = format("ver. %x (%x), V12: %02.01fV, V15: %02.01fV, Vamp: %02.01fV",
                   works.core.tinyVersion.load(), works.core.tinyStatus.load(),
                   d(CalvTensVadcAmp(works, works.ui.tinyV12.load())),
                   d(CalvTensVadcAmp(works, works.ui.tinyV15.load())),
                   d(CalvTensVadcAmp(works, works.ui.tinyVamp.load())));
  return out;
}

// ---- drawing ----

void DrawParameters(Works& works) {
  if (works.amp.linkFailed.load() > 0) return;
  UiState& ui = works.ui;
  const PanelState state = ui.panelState.load();
  // 1. Power off.
  const int shutdown = ui.shutdownState.load();
  if (shutdown == 1 || shutdown == 2) text(works, 8, 5, 400, "Release Button to Shut Down", kWhite);
  if (shutdown == 3) text(works, 8, 5, 400, "Shut Down...", kWhite);
  // 2-3. The menu and its update notice, and nothing else.
  if (state == S::MenuBrowse || state == S::MenuEdit) {
    drawMenu(works, state == S::MenuEdit);
    if ((ui.noticeFlags.load() & kNoticeUpdate) != 0) {
      text(works, 8, 5, 400, updateNoticeText(works), kWhite);
    }
    return;
  }
  // 4. The amplifier waits for its firmware.
  if ((ui.serviceFlags.load() & kServiceFirmwareStarted) != 0) {
    text(works, 8, 10, 400,
         "FW UPDATE: please update firmware with FlashMagic and then reset hardware", kWhite);
    return;
  }
  // 5-7. Full-screen pages.
  const int pages = ui.pageFlags.load();
  if ((pages & kPageMemoryTable) != 0) drawMemoryTable(works);
  if ((pages & kPageFilters) != 0) drawFilters(works);
  if ((pages & kPageSpectrum) != 0) drawSpectrumSettings(works);
  if (pages != 0) return;
  // 8. The main screen.
  drawMainScreen(works);
}

void ViewStatusInfo(Works& works) {
  if ((works.ui.pageFlags.load() & kPageStatus) == 0) return;
  // The page shows the transceiver's data: its link runs while the page is open.
  if (works.set.text.flag(Slot::extIoEnable) == '0') {
    works.set.text.setFlag(Slot::extIoEnable, '1');
    StartThreadPEX(works);
  }
  static constexpr std::array<const char*, 12> kHeadings{
      "VERSION", "SN", "POWER",  "FREQUENCY", "TEMPERATURE", "", "",
      "LAN",     "",   "STATUS", "",          "AMPL"};
  const auto values = statusPageValues(works);
  for (size_t i = 0; i < values.size(); ++i) {
    const int y = 110 + 22 * static_cast<int>(i);
    if (*kHeadings[i] != '\0') text(works, 8, 5, y, kHeadings[i], kBrightWhite);
    text(works, 8, 180, y, values[i], kBrightWhite);
  }
  if (works.ui.panelState.load() == S::StatusPage) {
    text(works, 8, 320, 400, works.ui.dateTimeText.get(), kBrightWhite);
  }
}

}  // namespace corvid
