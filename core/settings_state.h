// The operator's settings as the shared record holds them: the text block of setup.txt
// and the numeric copies the rest of the program reads. The file, its keys and their
// defaults are in core/settings.h.
#pragma once

#include <atomic>

#include "core/guarded_text.h"
#include "core/setup_text.h"

namespace corvid {

// Numeric copies of the settings, named by their key where the program has no other
// name for them. Read by every thread, written by the menus, the keyboard and the remote
// switch.
struct Settings {
  SetupText text;
  GuardedText<116> Passphrase;    // password of the remote client
  GuardedText<16> serverAddress;  // copy of Server
  std::atomic<int> AudioCompress{0};
  std::atomic<int> TcpPort{0};
  std::atomic<int> NumAntenna{0};  // 0-based
  std::atomic<int> EnablePwrPeak{0};
  std::atomic<int> TempMode{0};
  std::atomic<int> FreqSensIn{0};
  std::atomic<int> FreqPeriodTime{0};
  std::atomic<int> AttenuatorTune{0};
  std::atomic<float> swrTarget{0};  // SWRescAutoTune
  std::atomic<int> ViewTimeStr{0};
  std::atomic<int> ViewTemp{0};
  std::atomic<float> MaxTemperature{0};   // °C
  std::atomic<float> MaxTemperature2{0};  // °C
  std::atomic<int> AutoTuneMaxCicli{0};
  std::atomic<int> PowerUnits{0};
  std::atomic<int> SaveScreenIdx{0};
  std::atomic<int> AutoTuneMode{0};
  std::atomic<int> Divide{0};
  std::atomic<int> MaxTempAllowed{0};
  std::atomic<int> MaxTempAllowed2{0};
  std::atomic<int> PSpar1{0};
  std::atomic<int> PSpar2{0};
  std::atomic<int> Isteresi1{0};
  std::atomic<int> Isteresi2{0};
  std::atomic<int> PSpar3{0};
  std::atomic<int> PSpar4{0};
  std::atomic<double> OffsetPlot{0};
  std::atomic<int> RefLevelPlot{0};
  std::atomic<int> RefPosPlot{0};
  std::atomic<int> PointDivPlot{0};
  std::atomic<int> TUNEenabled{0};  // 8-bit: bit 7 set = no tuner installed
  std::atomic<int> TUNEpttout{0};   // 8-bit
  std::atomic<int> NumBanco{0};
  std::atomic<int> GMpar1{0};
  std::atomic<int> GMpar2{0};
  std::atomic<int> fattoremedia{0};       // Peak_media
  std::atomic<double> PeakDecrement{0};   // Peak_ValDec
  std::atomic<int> PeakDecrementTime{0};  // Peak_TimeDec
  std::atomic<int> TimerPeakSec{0};       // Peak_Time
  std::atomic<int> MAXbank{0};
  std::atomic<double> TIME_LONG_PRESS{0};  // BTN_longpress_Time, seconds
  std::atomic<int> EnableDebug{0};
  std::atomic<int> EnableLOGTemp{0};
  std::atomic<int> AudioBuffers{0};
  std::atomic<int> CPUTempVentola{0};
  std::atomic<int> CPUPercVentola{0};
  std::atomic<int> FANmode{0};  // 8-bit
  std::atomic<int> ViewType{0};
  std::atomic<int> ViewTX{0};
  // Waterfall: bit 0 shown and bit 1 above (with their copies in bits 4 and 5, edited by
  // the menu), bit 7 a rebuild of the spectrum layout requested.
  std::atomic<int> waterfallFlags{0};
  std::atomic<int> WTscroll{0};  // 8-bit
  std::atomic<double> WTminVal{0};
  std::atomic<double> WTmaxVal{0};
  std::atomic<int> LocalRemote{0};
};

}  // namespace corvid
