#include "sim/station.h"

namespace corvid::bench {

std::string_view modeName(StationMode mode) {
  switch (mode) {
    case StationMode::Lsb:
      return "LSB";
    case StationMode::Usb:
      return "USB";
    case StationMode::Cw:
      return "CW";
    case StationMode::Cwr:
      return "CWR";
    case StationMode::Am:
      return "AM";
    case StationMode::Fm:
      return "FM";
    case StationMode::Dig:
      return "DIG";
  }
  return "?";
}

uint32_t StationState::receiveFreq() const {
  if (memory) return memoryFreq;
  return vfoB ? freqB : freqA;
}

uint32_t StationState::transmitFreq() const {
  if (memory || !split) return receiveFreq();
  return vfoB ? freqA : freqB;
}

StationMode StationState::displayMode() const {
  if (memory || !split || !transmitting()) return activeMode();
  return vfoB ? modeA : modeB;
}

double StationState::driveWatts() const {
  if (tuneCarrier) return carrierWatts;
  return ptt ? pttWatts : 0.0;
}

void Station::setFrequency(uint32_t hz) {
  update([hz](StationState& s) {
    if (s.memory)
      s.memoryFreq = hz;
    else if (s.vfoB)
      s.freqB = hz;
    else
      s.freqA = hz;
  });
}

void Station::setVfoFrequency(bool vfoB, uint32_t hz) {
  update([vfoB, hz](StationState& s) { (vfoB ? s.freqB : s.freqA) = hz; });
}

void Station::selectVfoB(bool b) {
  update([b](StationState& s) { s.vfoB = b; });
}

void Station::setMemory(bool on) {
  update([on](StationState& s) { s.memory = on; });
}

void Station::setMode(StationMode mode) {
  update([mode](StationState& s) { (s.vfoB ? s.modeB : s.modeA) = mode; });
}

void Station::setSplit(bool on) {
  update([on](StationState& s) { s.split = on; });
}

void Station::setPtt(bool on) {
  update([on](StationState& s) { s.ptt = on; });
}

void Station::setAntennaInput(int input) {
  update([input](StationState& s) { s.antennaInput = input != 0 ? 1 : 0; });
}

void Station::setPttOut(bool on) {
  update([on](StationState& s) { s.pttOut = on; });
}

void noteFrequencySent(std::vector<FrequencySent>& sent, uint32_t hz) {
  if (!sent.empty() && sent.back().hz == hz) return;
  if (sent.size() >= 1000) sent.erase(sent.begin());
  sent.push_back({std::chrono::steady_clock::now(), hz});
}

}  // namespace corvid::bench
