// Shared by the screenshot tests of the screens and the display benchmark: a fixed
// controller state (bands, filters, spectrum rows, LAN, readings, versions, clock text)
// and, for every screen and page, the few fields that put the panel on it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bands/bands.h"
#include "core/settings.h"
#include "core/works.h"
#include "errors/errors.h"
#include "gfx/framebuffer.h"
#include "scope/scope_view.h"
#include "ui/display.h"
#include "ui/menu.h"
#include "ui/screens.h"

namespace corvid::testing {

struct Scene {
  std::string name;
  std::function<void(Works&)> prepare;
};
// For test names and failure messages.
inline void PrintTo(const Scene& scene, std::ostream* out) {
  *out << scene.name;
}

// A dark gradient, as the panel pictures have, so that text blending shows.
inline void paintBackground(FrameBuffer& fb) {
  for (uint32_t y = 0; y < fb.height; ++y) {
    for (uint32_t x = 0; x < fb.width; ++x) {
      uint8_t* p = fb.background.get() + y * fb.lineLength + x * 4;
      p[0] = static_cast<uint8_t>(40 + y / 12);
      p[1] = static_cast<uint8_t>(30 + y / 16);
      p[2] = static_cast<uint8_t>(20 + y / 24);
      p[3] = 0;
    }
  }
}

inline void fixedBands(Works& works) {
  struct Band {
    const char* name;
    uint32_t start, end;
    uint8_t amp, ant, atu, att;
    float pwrIn;
  };
  static constexpr Band kBands[kBandRows] = {
      {"160m", 1800000, 2000000, 1, 1, 0, 0, 2.5f},  {"80m", 3500000, 4000000, 1, 2, 1, 1, 0.05f},
      {"60m", 5330500, 5450000, 0, 1, 1, 2, 0.0f},   {"40m", 7000000, 7300000, 1, 3, 0, 3, 5.0f},
      {"30m", 10100000, 10150000, 1, 1, 0, 0, 1.2f}, {"20m", 14000000, 14350000, 1, 2, 0, 2, 3.4f},
      {"17m", 18068000, 18168000, 0, 1, 1, 0, 0.1f}, {"15m", 21000000, 21450000, 1, 1, 0, 1, 4.0f},
      {"12m", 24890000, 24990000, 1, 3, 1, 0, 0.0f}, {"10m", 28000000, 29700000, 1, 1, 0, 0, 2.0f},
      {"6m", 50000000, 54000000, 1, 2, 0, 3, 0.7f},
  };
  BandTable::Snapshot t;
  for (int i = 0; i < kBandRows; ++i) {
    const Band& b = kBands[i];
    BandRow& r = t.rows[static_cast<size_t>(i)];
    std::strncpy(r.name, b.name, sizeof r.name - 1);
    r.start = b.start;
    r.end = b.end;
    r.AmpEnable = b.amp;
    r.Ant = b.ant;
    r.Atu = b.atu;
    r.Att = b.att;
    r.PwrIn = b.pwrIn;
  }
  t.count = kBandRows;
  works.bands.bands.set(t);
}

// The state every scene starts from. The frame buffer is an in-memory 800 x 480 x 32
// image with the gradient as its background.
inline std::unique_ptr<Works> baseWorks() {
  auto works = std::make_unique<Works>();
  Works& w = *works;
  initSetup(w);
  initErrorTable(w);
  initKeyLabels(w);
  w.ui.menuSectionCount = kMenuItems;
  w.gfx.fb = makeMemoryFrameBuffer(800, 480, 32);
  paintBackground(*w.gfx.fb);
  w.errors.errorsMuted = 0;

  fixedBands(w);
  {
    std::scoped_lock lock(w.bands.filterMutex);
    for (int i = 0; i < kFilterRows; ++i) {
      w.bands.filters[static_cast<size_t>(i)] = {1000000 + 3000000 * i, 3900000 + 3000000 * i,
                                                 i % 3 == 2 ? 0 : 1};
    }
  }
  PlotterTable::Rows plot;
  for (int i = 0; i < kPlotterRows; ++i) {
    plot[static_cast<size_t>(i)] = {static_cast<double>(i % 4), -10 * i, i % 11, 5 + i};
  }
  w.spectrum.plotter.set(plot);
  LanAddresses lan;
  lan.IP = "192.168.1.77";
  lan.NetMask = "255.255.255.0";
  lan.Gateway = "192.168.1.1";
  lan.DNS = "8.8.4.4";
  lan.IP_v = {192, 168, 1, 77};
  lan.NetMask_v = {255, 255, 255, 0};
  lan.Gateway_v = {192, 168, 1, 1};
  lan.DNS_v = {8, 8, 4, 4};
  w.system.lan.set(lan);

  w.core.version = "01.046";
  w.amp.ampFwVersion.set("001.012");
  {
    std::scoped_lock lock(w.amp.eepromMutex);
    const char* serial = "VN2201-0042";
    const char* company = "BENCH";
    const char* hardware = "2.3";
    std::memcpy(w.amp.eeprom.page0.data(), serial, std::strlen(serial));
    std::memcpy(w.amp.eeprom.page1.data(), company, std::strlen(company));
    std::memcpy(w.amp.eeprom.page2.data(), hardware, std::strlen(hardware));
  }
  w.amp.ampModel = '0';
  w.amp.ampModelAux = '0';
  w.ui.dateTimeText.set("2026-01-02 03:04:05");
  w.ui.trxFreq = 14200000;
  w.amp.ampFreq = 14199870;
  w.bands.freqInterface = FreqInterface::ExtIo;
  w.set.text.setFlag(Slot::extIoEnable, '1');  // so the status page starts no link
  w.set.NumBanco = 2;
  w.set.MAXbank = 4;
  w.set.NumAntenna = 1;
  w.set.ViewType = 1;
  w.atu.attSelect = 2;
  w.atu.tuneL = 123;
  w.atu.tuneC = 45;
  w.amp.pwrFwd = 42.0f;
  w.amp.pwrRefl = 1.5f;
  w.amp.pwrIn = 6.0f;
  w.amp.swr = 1.45f;
  w.amp.temp1 = 31.5f;
  w.amp.temp2 = 29.0f;
  w.amp.cpuTemp = 48.3f;
  w.amp.gpuTemp = 47.2f;
  w.amp.ampCurrentRaw = 2048.0f;
  w.amp.fanPercent = 40;
  w.ui.tinyVamp = 200;
  w.ui.tinyV12 = 120;
  w.ui.tinyV15 = 150;
  w.core.tinyVersion = 0x12;
  w.core.tinyStatus = 0x05;
  w.amp.statusA = 0x01;
  return works;
}

// One overlay as the display loop draws it: the background copied into the back
// buffer, the screen on top, and the spectrum of a spectrum view.
inline void drawOverlay(Works& works) {
  fbSetBack(works.gfx.fb.get());
  LoadButtons(works);
  const int view = works.set.ViewType.load();
  if ((view == kViewSpectrum || view == kViewSpectrumZoom) && works.ui.pageFlags.load() == 0) {
    drawSpectrum(works);
  }
}

// The levels of frame f of a band (dB): a floor with a slow ripple and a little noise,
// carriers of several strengths, one drifting, and a wide signal that comes and goes.
inline float bandLevel(int i, int f) {
  const uint32_t hash =
      (static_cast<uint32_t>(i) * 2654435761u) ^ (static_cast<uint32_t>(f) * 40503u);
  double level =
      -112 + 2.5 * std::sin(i * 0.021 + f * 0.05) + static_cast<int>((hash >> 13) % 7) - 3;
  auto carrier = [&](double at, double peak, double width) {
    const double d = (i - at) / width;
    level = std::max(level, peak - 6 * d * d);
  };
  carrier(150, -45, 1.0);
  carrier(330, -75, 1.0);
  carrier(427 + 40 * std::sin(f * 0.08), -60, 1.5);  // drifting
  carrier(610, -28, 2.5);
  if ((f / 20) % 2 == 0) {
    for (int b = 0; b < 8; ++b) carrier(700 + b, -58 + (b % 3) * 2, 1.0);  // comes and goes
  }
  return static_cast<float>(level);
}

// A spectrum view with the waterfall history of its frames before the one shown.
inline void spectrumScene(Works& w, int view, int flags, int scroll, int history) {
  const bool wide = view == kViewSpectrum;
  w.set.ViewType = view;
  w.spectrum.divX = wide ? 16 : 8;
  w.spectrum.divY = 10;
  w.spectrum.xRangeStart = 0;
  w.spectrum.xRangeEnd = wide ? 854 : 427;
  w.spectrum.spanHz = wide ? 160000 : 80000;
  w.set.waterfallFlags = flags;
  w.set.WTscroll = scroll;
  InitGrid(w);
  const double offset = LoadOffsetBanda(w);
  for (int f = 0; f < history; ++f) {
    for (size_t i = 0; i < kSpectrumPoints; ++i)
      w.spectrum.frameLevels[i] = bandLevel(static_cast<int>(i), f);
    DrawWaterfall(w, offset);
  }
  for (size_t i = 0; i < kSpectrumPoints; ++i)
    w.trx.pexLevels[i] = bandLevel(static_cast<int>(i), history);
}

inline std::vector<Scene> screenScenes() {
  using S = PanelState;
  auto state = [](Works& w, S s) { w.ui.panelState = s; };
  return {
      {"main",
       [=](Works& w) {
         state(w, S::Main);
         AddErrore(w, Err::HighSwr);  // red
         AddErrore(w, Err::Comm);     // orange, newer: one slot further left
         w.ui.noticeFlags = kNoticeLocked;
         w.atu.tuneInfoText.set("Tune from memory (L123,C45)");
         w.amp.statusB = 0x01;  // transmitting: the TX marker
       }},
      {"main-debug",
       [=](Works& w) {
         state(w, S::Main);
         w.set.EnableDebug = 1;
         w.set.TempMode = 1;
         w.set.LocalRemote = 1;
         w.ui.remoteError = 1;
         w.ui.trxFreq = 27000000;  // NOPA
         w.amp.ampModel = '1';
         for (Err e : {Err::HighSwr, Err::Comm, Err::RemoteUsb, Err::AudioMissing, Err::PexModeOff,
                       Err::TuneTimeout, Err::MicroReset}) {
           AddErrore(w, e);  // seven: the oldest is not shown
         }
       }},
      {"tune",
       [=](Works& w) {
         state(w, S::Tune);
         w.atu.tuneState = TuneState::Tuning;
         w.atu.fineTuneRequest = 1;
         w.atu.tunerBypassed = 1;
         AddErrore(w, Err::TuneSwrWarning);  // key 6 becomes the reset key
       }},
      {"manual-tune", [=](Works& w) { state(w, S::ManualTune); }},
      {"menu",
       [=](Works& w) {
         state(w, S::MenuBrowse);
         w.ui.menuSection = kItemPassword;  // read-only: no ENTER label
         w.set.Passphrase.set("bench-pass");
       }},
      {"menu-edit-lan",
       [=](Works& w) {
         state(w, S::MenuEdit);
         w.ui.menuSection = kItemFirstLan + 1;  // the net mask
         w.ui.CntNetMask = 2;
       }},
      {"memory-table",
       [=](Works& w) {
         state(w, S::MemoryTable);
         w.ui.pageFlags = kPageMemoryTable;
         w.ui.tableRow = 3;
         AddErrore(w, Err::Comm);  // no error boxes on a page
       }},
      {"memory-edit",
       [=](Works& w) {
         state(w, S::MemoryTableEdit);
         w.ui.pageFlags = kPageMemoryTable;
         w.ui.tableRow = 5;
         w.ui.tableColumn = 0;  // PwrIn
       }},
      {"save-tune",
       [=](Works& w) {
         state(w, S::SaveTune);
         w.ui.saveBank = 3;
         w.ui.saveAntenna = 2;
         w.ui.noticeFlags = kNoticeBypassNotSaved;
       }},
      {"bank-choice",
       [=](Works& w) {
         state(w, S::BankChoice);
         w.ui.pageFlags = kPageMemoryTable;
       }},
      {"bank-copy",
       [=](Works& w) {
         state(w, S::BankCopy);
         w.ui.pageFlags = kPageMemoryTable;
         w.ui.copySource = 2;
         w.ui.copyTarget = 0;
       }},
      {"bank-reset",
       [=](Works& w) {
         state(w, S::BankReset);
         w.ui.pageFlags = kPageMemoryTable;
         w.ui.resetTarget = 4;  // MAXbank: all banks
       }},
      {"filters",
       [=](Works& w) {
         state(w, S::FilterList);
         w.ui.pageFlags = kPageFilters;
         w.ui.filterRow = 2;
       }},
      {"filter-edit",
       [=](Works& w) {
         state(w, S::FilterEdit);
         w.ui.pageFlags = kPageFilters;
         w.ui.filterRow = 4;
         w.ui.filterColumn = 1;
         w.ui.filterStepIndex = 2;
         w.ui.filterEditStart = 13000000;
         w.ui.filterEditStop = 12000000;
         w.ui.filterEditEnabled = 1;
         w.ui.filterEditStatus = 2;
       }},
      {"status",
       [=](Works& w) {
         state(w, S::StatusPage);
         w.ui.pageFlags = kPageStatus;
         AddErrore(w, Err::ExtIoLost);
       }},
      {"spectrum-settings",
       [=](Works& w) {
         state(w, S::SpectrumList);
         w.ui.pageFlags = kPageSpectrum;
         w.ui.plotRow = 5;
         w.ui.plotConfigType = 0x80;  // Single
       }},
      {"spectrum-edit",
       [=](Works& w) {
         state(w, S::SpectrumEdit);
         w.ui.pageFlags = kPageSpectrum;
         w.ui.plotRow = 11;
         w.ui.plotColumn = 2;
         w.ui.plotEditOffset = 3.0;
         w.ui.plotEditLevel = -42;
         w.ui.plotEditPos = 7;
         w.ui.plotEditDiv = 12;
       }},
      {"spectrum",
       [=](Works& w) {
         state(w, S::Main);
         spectrumScene(w, kViewSpectrum, 0, 1, 0);
       }},
      {"spectrum-waterfall",
       [=](Works& w) {
         state(w, S::Main);
         spectrumScene(w, kViewSpectrum, kWaterfallEnable, 1, 90);
       }},
      {"spectrum-waterfall-top",
       [=](Works& w) {
         state(w, S::Main);
         w.ui.trxFreq = 999999;  // outside all bands: row 11, the title in kHz
         spectrumScene(w, kViewSpectrum, kWaterfallEnable | kWaterfallOnTop, 0, 90);
       }},
      {"spectrum-zoom",
       [=](Works& w) {
         state(w, S::Main);
         spectrumScene(w, kViewSpectrumZoom, kWaterfallEnable, 1, 90);
       }},
      {"power-off",
       [=](Works& w) {
         state(w, S::Main);
         w.ui.shutdownState = 1;
       }},
  };
}

}  // namespace corvid::testing
