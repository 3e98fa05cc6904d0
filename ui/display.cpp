#include "ui/display.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "amp/amp.h"
#include "bands/bands.h"
#include "core/threads.h"
#include "core/works.h"
#include "gfx/framebuffer.h"
#include "gfx/picture.h"
#include "gfx/text.h"
#include "platform/clock.h"
#include "platform/command.h"
#include "platform/log.h"
#include "remote/ws_server.h"
#include "scope/scope_view.h"
#include "system/network.h"
#include "system/updates.h"
#include "trx/trx.h"
#include "ui/screens.h"

namespace corvid {

using platform::trace;

namespace {

// Minutes before the screensaver, by SaveScreenIdx.
constexpr int SaveScreen[6] = {5, 10, 20, 30, 60, 1};

struct SwrPoint {
  float swr;
  float position;
};
constexpr SwrPoint CONV_SWR[12] = {{1.0f, 0}, {1.5f, 11}, {2, 20}, {3, 30}, {4, 36},  {5, 40},
                                   {6, 43},   {7, 45},    {8, 47}, {9, 48}, {10, 50}, {100, 60}};

constexpr int kLeftX = 210;
constexpr int kRightX = 590;
constexpr int kMeterY = 260;

std::time_t wallNow() {
  return std::time(nullptr);
}

FrameBuffer* frame(Works& works) {
  return works.gfx.fb.get();
}

// Power as the meters write it: watts, or dBm when PowerUnits is set.
std::string powerText(const Works& works, double watts) {
  char text[32];
  if (works.set.PowerUnits.load() != 0) {
    const double dbm = ConvertW_to_dBm(watts);
    if (!(dbm >= 0)) return "---dBm";
    std::snprintf(text, sizeof text, "%02.01fdBm", dbm);
  } else {
    std::snprintf(text, sizeof text, "%02.01fW", watts);
  }
  return text;
}

void drawNeedle(FrameBuffer* fb, int cx, double v, int n, uint8_t r) {
  if (fb == nullptr || n <= 0) return;
  const Point tip = needleTip(cx, kMeterY, v, n);
  for (int dx = -1; dx <= 1; ++dx) DrawLine(cx + dx, kMeterY, tip.x, tip.y, r, 0, 0, fb);
}

}  // namespace

float CalcolaSWR(float swr) {
  if (!(swr >= 1.0f)) return 0;
  if (swr >= 100.0f) return 60;
  for (size_t i = 0; i + 1 < std::size(CONV_SWR); ++i) {
    const SwrPoint& a = CONV_SWR[i];
    const SwrPoint& b = CONV_SWR[i + 1];
    if (swr >= a.swr && swr < b.swr) {
      return a.position + (swr - a.swr) / (b.swr - a.swr) * (b.position - a.position);
    }
  }
  return 60;
}

double ConvertW_to_dBm(double watts) {
  return 10 * std::log10(watts * 1000);
}

Point needleTip(int cx, int cy, double v, int n) {
  const double theta = (0.24 - v * 0.48 / n) * 3.141692653;
  const double x = cx - 200 * std::sin(theta) + 15 * std::cos(theta + 1.5708463265);
  const double y = cy - 200 * std::cos(theta) + 15 * std::sin(theta + 1.5708463265);
  return {static_cast<int>(x), static_cast<int>(y)};
}

void CalcolaPwrPeak(Works& works, PeakHold& peak, double value) {
  if (value > peak.value) {
    peak.value = value;
    peak.holdTimer = works.set.TimerPeakSec.load();
  } else if (peak.holdTimer <= 0) {
    const double f = works.set.fattoremedia.load();
    peak.value = (f * peak.value + value) / (f + 1);
  }
}

void decayPeak(Works& works, PeakHold& peak, double d) {
  if (peak.holdTimer <= 0) return;
  peak.holdTimer -= d;
  ++peak.counter;
  if (peak.counter >= works.set.PeakDecrementTime.load()) {
    peak.value = std::max(0.0, peak.value - works.set.PeakDecrement.load());
    peak.counter = 0;
  }
}

static_assert(kSpectrumPoints == kPexSpectrumPoints, "one level per point of the view");

void drawSpectrum(Works& works) {
  // The request is taken before the layout is built: a view key pressed meanwhile asks
  // again and is not lost.
  if ((works.set.waterfallFlags.fetch_and(~kWaterfallRebuild) & kWaterfallRebuild) != 0) {
    InitGrid(works);
  }
  // Busy: the frame shows the levels of the last one.
  getLevels(works.spectrum.frameLevels, works);
  const double offset = LoadOffsetBanda(works);
  if ((works.set.waterfallFlags.load() & kWaterfallEnable) != 0) DrawWaterfall(works, offset);
  DrawGrid(works, offset);
}

void SetWorkImg(Works& works) {
  const int view = works.set.ViewType.load();
  if (works.ui.panelState.load() == PanelState::Main) {
    char label[16];
    std::snprintf(label, sizeof label, "    %d", view);
    works.ui.Novamenu.set(PanelState::Main, 6, 2, label);  // the view key
  }
  const bool large = works.amp.ampModel.load() == '1';
  switch (view) {
    case kViewSwr:
      works.core.splashName.set(large ? "img3b" : "img3");
      break;
    case kViewSpectrum:
    case kViewSpectrumZoom: {
      const bool wide = view == kViewSpectrum;
      works.core.splashName.set("m5a");
      works.spectrum.divX = wide ? 16 : 8;
      works.spectrum.spanHz = wide ? 160000 : 80000;
      works.spectrum.xRangeEnd = wide ? 854 : 427;
      works.set.waterfallFlags.fetch_or(kWaterfallRebuild);  // the grid is rebuilt next cycle
      break;
    }
    default:
      works.core.splashName.set(large ? "img1b" : "img1");
      break;
  }
  getPng(works);
  fbSetBack(frame(works));
  if (works.bands.freqInterface.load() != FreqInterface::ExtIo) {
    works.set.text.setFlag(Slot::extIoEnable, '0');
  }
}

int DisattivoScreenSave(Works& works) {
  works.core.lastActivity = static_cast<int64_t>(wallNow());
  if (works.ui.screenSaverOn.load() == 0) return 0;
  works.ui.pageFlags = 0;
  SetWorkImg(works);
  works.ui.panelState = PanelState::Main;
  works.ui.screenSaverOn = 0;
  trace("----------> DISATTIVO SAVE SCREEN\n");
  return 1;
}

void ReadCPUTemp(Works& works) {
  auto pipe = platform::CommandPipe::start("my_temp");
  if (!pipe) {
    // The board's temperatures only steer the fan while the table asks for none: the
    // amplifier stays under control without them, so the program goes on.
    static bool reported = false;
    if (!reported) platform::logError("can't run my_temp");
    reported = true;
    return;
  }
  std::string line;
  if (pipe->readLine(line, 200)) takeCpuTempLine(works, line);
  if (pipe->readLine(line, 200)) takeGpuTempLine(works, line);
  pipe->close();
}

std::string topLine(const Works& works) {
  const std::string lan = works.system.lanStatusText.get();
  const std::string time = works.ui.dateTimeText.get();
  if ((works.ui.serviceFlags.load() & kServiceSoftwareUpdate) != 0) {
    return "SW UPDATE   " + lan + " " + time;
  }
  if (lanDisconnected(lan)) return lan;
  return lan + " " + time;
}

void ReadDataOra(Works& works) {
  const std::time_t now = wallNow();
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  works.ui.dateTimeText.set(text);
}

namespace {

void drawMeters(Works& works, DisplayLoop& st) {
  FrameBuffer* fb = frame(works);
  const AmpState& amp = works.amp;
  const bool large = amp.ampModel.load() == '1';
  const int nFwd = works.ui.number_ofStep_meter_FWD;
  const double fwd = std::min<double>(amp.pwrFwd.load(), large ? 120 : 60);
  drawNeedle(fb, kLeftX, fwd, nFwd, 255);
  const bool peakOn = works.set.EnablePwrPeak.load() == 1;
  if (peakOn) {
    if (st.firstPeak)
      st.peakFwd.value = amp.fwdPeak.load();
    else
      CalcolaPwrPeak(works, st.peakFwd, amp.fwdPeak.load());
    drawNeedle(fb, kLeftX, std::min(st.peakFwd.value, large ? 120.0 : 60.0), nFwd, 0);
  }
  double right = 0;
  int n = works.ui.number_ofStep_meter_REFL;
  const char* caption = "REFLECTED";
  int captionX = 535;
  int valueX = 565;
  std::string value;
  switch (works.set.ViewType.load()) {
    case kViewSwr: {
      const float swr = std::clamp(amp.swr.load(), 0.0f, 100.0f);
      right = CalcolaSWR(swr);
      n = works.ui.number_ofStep_meter_SWR;
      caption = "SWR";
      captionX = 570;
      valueX = 580;
      char text[16];
      std::snprintf(text, sizeof text, "%02.01f", static_cast<double>(amp.swr.load()));
      value = text;
      break;
    }
    case kViewInput:
      right = std::min<double>(amp.pwrIn.load(), 60);
      n = works.ui.number_ofStep_meter_PW;
      caption = "PWR IN";
      captionX = 560;
      valueX = 570;
      value = powerText(works, amp.pwrIn.load());
      break;
    default:
      right = std::min<double>(amp.pwrRefl.load(), 60);
      value = powerText(works, amp.pwrRefl.load());
      break;
  }
  drawNeedle(fb, kRightX, right, n, 255);
  if (peakOn) {
    if (st.peakRight.value == 0 && st.firstPeak)
      st.peakRight.value = right;
    else
      CalcolaPwrPeak(works, st.peakRight, right);
    drawNeedle(fb, kRightX, st.peakRight.value, n, 0);
  }
  st.firstPeak = false;
  putString(8, captionX, 160, caption, 0, 0, 0, fb);
  putString(8, valueX, 180, value.c_str(), 0, 0, 0, fb);
  putString(8, 155, 160, "FORWARD", 0, 0, 0, fb);
  putString(8, 180, 180, powerText(works, amp.pwrFwd.load()).c_str(), 0, 0, 0, fb);
}

}  // namespace

void displayCycle(Works& works, DisplayLoop& st) {
  const std::clock_t cpuStart = std::clock();
  const std::time_t now = wallNow();
  FrameBuffer* fb = frame(works);
  UiState& ui = works.ui;
  // 2-3. A new frame from the background; the link's error message.
  fbSetBack(fb);
  const int failed = works.amp.linkFailed.load();
  if (failed > 0) {
    const std::string text = "Error! " + works.amp.linkErrorText.get();
    putString(8, 100, 400, text.c_str(), 250, 250, 250, fb);
  } else if (failed == -1) {
    ui.panelState = PanelState::Main;
    SetWorkImg(works);
    works.amp.linkFailed = 0;
  }
  // 4. Transmit view.
  const bool transmitting = (works.amp.statusB.load() & 0x01) != 0;
  const int viewTx = works.set.ViewTX.load();
  if (transmitting) {
    if (viewTx > 0 && ui.savedViewType.load() == -1) {
      ui.savedViewType = works.set.ViewType.load();
      works.set.ViewType = viewTx;
      SetWorkImg(works);
    }
    DisattivoScreenSave(works);
  } else if (viewTx > 0 && ui.savedViewType.load() != -1) {
    works.set.ViewType = ui.savedViewType.load();
    SetWorkImg(works);
    ui.savedViewType = -1;
  }
  // 5. The amplifier's own activity bit.
  if ((works.amp.statusC.load() & 0x08) != 0) DisattivoScreenSave(works);
  // 6. Screensaver.
  const int idx = std::clamp(works.set.SaveScreenIdx.load(), 0, 5);
  const long minutes = static_cast<long>(now - works.core.lastActivity.load()) / 60;
  if (minutes >= SaveScreen[idx] && ui.screenSaverOn.load() == 0) {
    ui.screenSaverOn = 1;
    works.core.splashName.set(works.amp.ampModel.load() == '1' ? "start120" : "start");
    getPng(works);
    fbSetBack(fb);
    const std::string name = works.core.unitName.get();
    if (!name.empty()) putString(6, 25, 17, name.c_str(), 255, 255, 255, fb);
  }
  // 7. Every two minutes, unless a software update is armed: the LAN state and the
  // information file.
  if (works.system.lanInfoRunning.load() == 0 && (now - works.system.lanInfoTime.load()) / 60 > 1 &&
      (ui.serviceFlags.load() & kServiceSoftwareUpdate) == 0) {
    StartThreadLANinfo(works);
    WrInfoFile(works);
  }
  // 8-11. Frequency follow-up.
  followFrequency(works, st.follow, now);
  // 12. The panel, unless the screensaver shows.
  if (ui.screenSaverOn.load() == 0) {
    // The board's temperatures change slowly: read them once a second, not every frame.
    if (now != st.lastCpuRead) {
      st.lastCpuRead = now;
      ReadCPUTemp(works);
      ReadDataOra(works);
    }
    if (ui.pageFlags.load() != kPageStatus) {
      const std::string top = topLine(works);
      putString(6, 780 - getStringSpace(6, top.c_str()), 17, top.c_str(), 255, 255, 255, fb);
    }
    const std::string name = works.core.unitName.get();
    if (!name.empty()) putString(6, 25, 17, name.c_str(), 255, 255, 255, fb);
    if (ui.redrawWorkImg.load() == 1) {
      SetWorkImg(works);
      ui.redrawWorkImg = 0;
    }
    LoadButtons(works);
    if (ui.needleReset.exchange(0) != 0) {
      st.peakFwd = PeakHold{};
      st.peakRight = PeakHold{};
      st.firstPeak = true;
    }
    const int view = works.set.ViewType.load();
    if (view <= kViewInput && ui.pageFlags.load() == 0) {
      drawMeters(works, st);
    } else if ((view == kViewSpectrum || view == kViewSpectrumZoom) && ui.pageFlags.load() == 0) {
      drawSpectrum(works);
    }
  }
  // 13. The status block to a logged-in remote client.
  if (works.remote.wsClientReady.load() == 1) {
    char status[kStatusTextSize] = {};
    CreaBufferDiStato(works, status);
    sendWebSockStatusFrame(works, {reinterpret_cast<const uint8_t*>(status), 58});
  }
  // Each change of screen goes to the log once.
  if (const PanelState shown = ui.panelState.load(); shown != st.lastState) {
    st.lastState = shown;
    trace("panel %s\n", panelStateName(shown));
  }
  // 14. Show the frame and wait.
  fbRealize(fb);
  platform::sleepFor(std::chrono::milliseconds(ui.frameDelay.load() / 1000));
  // The timers count the processor time of the whole process during the cycle.
  const double d = static_cast<double>(std::clock() - cpuStart) * 1000.0 / CLOCKS_PER_SEC;
  // 15. Communication error hold-off.
  // Whole milliseconds are taken off; the fraction is carried, so cycles shorter than a
  // millisecond of processor time still count.
  if (const int h = works.amp.commErrorHoldoff.load(); h > 0) {
    st.holdoffCarry += d;
    const int whole = static_cast<int>(st.holdoffCarry);
    st.holdoffCarry -= whole;
    works.amp.commErrorHoldoff = std::max(0, h - whole);
  }
  // 16. Peak decay.
  decayPeak(works, st.peakFwd, d);
  decayPeak(works, st.peakRight, d);
  // 17. Temperature log.
  if (works.set.EnableLOGTemp.load() == 1 && works.amp.logActive.load() == 1) {
    const double t = works.amp.logTimer.load() + d;
    works.amp.logTimer = t;
    if (t >= 5000) {
      LogTempFunction(works, 0);
      works.amp.logTimer = 0;
    }
  }
}

void timer(Works& works) {
  platform::logInfo("Timer thread started");
  DisplayLoop loop;
  while (works.core.running.load() != 0) displayCycle(works, loop);
  platform::trace("Timer operations end\n");
}

}  // namespace corvid
