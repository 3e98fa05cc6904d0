// The display loop: about 25 frames a second it follows the frequency, switches the
// transmit view and the screensaver, draws the meters with their needles and peak hold,
// and counts down the timers of the peak hold, the communication error and the
// temperature log.
#pragma once

#include <ctime>
#include <string>

#include "ui/follow_cycle.h"
#include "ui/ui_state.h"

namespace corvid {

struct Works;

// Meter position of an SWR value on a 60-step scale.
float CalcolaSWR(float swr);
double ConvertW_to_dBm(double watts);

// Peak hold of one meter: a held value that decays after its hold time.
struct PeakHold {
  double holdTimer = 0;  // ms
  double value = 0;
  int counter = 0;
};
void CalcolaPwrPeak(Works& works, PeakHold& peak, double value);
// The per-cycle decay, d = milliseconds of the cycle.
void decayPeak(Works& works, PeakHold& peak, double d);

// Marks operator activity; ends the screensaver and returns 1 if it was on.
int DisattivoScreenSave(Works& works);
void SetWorkImg(Works& works);
// The spectrum view of a frame: the layout rebuilt when asked, the levels copied from the
// transceiver's, the waterfall (when shown) and the grid with its trace.
void drawSpectrum(Works& works);
void ReadCPUTemp(Works& works);
void ReadDataOra(Works& works);
// The top line of the panel: the LAN state and the time ("SW UPDATE   " before them
// while a software update is armed); the LAN state alone while there is no connection.
std::string topLine(const Works& works);

// Needle tip of a value v on a scale of n steps, for a meter centre.
struct Point {
  int x;
  int y;
};
Point needleTip(int cx, int cy, double v, int n);

// What the loop keeps from one cycle to the next.
struct DisplayLoop {
  FollowCycle follow;
  PeakHold peakFwd;
  PeakHold peakRight;
  bool firstPeak = true;
  std::time_t lastCpuRead = 0;
  double holdoffCarry = 0;                  // processor milliseconds not yet taken off the hold-off
  PanelState lastState = PanelState::Main;  // the screen last written to the log
};

// One cycle of the loop: the frame composed and shown, the frameDelay slept, the
// timers counted down by the processor time the cycle took.
void displayCycle(Works& works, DisplayLoop& loop);

// The thread: displayCycle while running is set.
void timer(Works& works);

}  // namespace corvid
