#include "sim/amp_model.h"

#include <algorithm>
#include <cmath>

namespace corvid::bench {

namespace {

constexpr StageParameters kStage60{8.0, 65.0, 13.8, 0.50, 1.0};
constexpr StageParameters kStage120{16.0, 130.0, 48.0, 0.50, 1.0};

struct NtcPoint {
  double celsius;
  double kiloOhms;
};

// The NTC of the heat-sink sensors, 10 kΩ at 25 °C, every 5 °C.
constexpr std::array<NtcPoint, 34> kNtc = {{
    {-40, 347.808}, {-35, 248.591}, {-30, 179.973}, {-25, 131.832}, {-20, 97.679}, {-15, 73.119},
    {-10, 55.301},  {-5, 42.257},   {0, 32.582},    {5, 25.324},    {10, 19.847},  {15, 15.679},
    {20, 12.478},   {25, 10.000},   {30, 8.068},    {35, 6.552},    {40, 5.353},   {45, 4.399},
    {50, 3.635},    {55, 3.020},    {60, 2.521},    {65, 2.115},    {70, 1.783},   {75, 1.510},
    {80, 1.284},    {85, 1.096},    {90, 0.939},    {95, 0.808},    {100, 0.698},  {105, 0.605},
    {110, 0.527},   {115, 0.460},   {120, 0.403},   {125, 0.354},
}};

constexpr double kPullUpKiloOhms = 10.0;

// Attenuation of the input pads: the 2 dB pad passes 10^(-0.2), the 3 dB pad 10^(-0.3).
double padFactor(int pads) {
  double factor = 1.0;
  if ((pads & 1) != 0) factor *= 0.6309573;
  if ((pads & 2) != 0) factor *= 0.5011872;
  return factor;
}

uint16_t clampRaw(double raw) {
  if (!(raw > 0)) return 0;  // also NaN
  return static_cast<uint16_t>(std::lround(std::min(raw, static_cast<double>(kRawMax))));
}

double ntcKiloOhms(double celsius) {
  if (celsius <= kNtc.front().celsius) return kNtc.front().kiloOhms;
  if (celsius >= kNtc.back().celsius) return kNtc.back().kiloOhms;
  for (size_t i = 1; i < kNtc.size(); ++i) {
    if (celsius <= kNtc[i].celsius) {
      const NtcPoint& a = kNtc[i - 1];
      const NtcPoint& b = kNtc[i];
      const double t = (celsius - a.celsius) / (b.celsius - a.celsius);
      return a.kiloOhms + t * (b.kiloOhms - a.kiloOhms);
    }
  }
  return kNtc.back().kiloOhms;
}

}  // namespace

double reflectionOfSwr(double swr) {
  if (!(swr > 1.0)) return 0.0;
  return (swr - 1.0) / (swr + 1.0);
}

double swrOfReflection(double reflection) {
  if (!(reflection > 0.0)) return 1.0;
  if (reflection >= 1.0) return INFINITY;
  return (1.0 + reflection) / (1.0 - reflection);
}

const StageParameters& stageOf(AmpModel model) {
  return model == AmpModel::Watts120 ? kStage120 : kStage60;
}

uint16_t rawOfPower(double watts, Detector detector) {
  if (!(watts > 0)) return 0;
  const double knee = detector.k * 4.0 * detector.offset * detector.offset;  // at raw = offset
  if (watts < knee) return clampRaw(watts / (4.0 * detector.k * detector.offset));
  return clampRaw(std::sqrt(watts / detector.k) - detector.offset);
}

double powerOfRaw(int raw, Detector detector) {
  if (raw < detector.offset) return 4.0 * detector.k * detector.offset * raw;
  const double sum = raw + detector.offset;
  return detector.k * sum * sum;
}

uint16_t rawOfCurrent(double amps) {
  return clampRaw(amps * 4096.0 / kCurrentFullScaleAmps);
}

uint16_t rawOfTemperature(double celsius) {
  const double r = ntcKiloOhms(celsius);
  return clampRaw(4095.0 * r / (r + kPullUpKiloOhms));
}

double temperatureOfRaw(int raw) {
  if (raw >= 4095) return kNtc.front().celsius;
  const double r = kPullUpKiloOhms * raw / (4095.0 - raw);
  if (r >= kNtc.front().kiloOhms) return kNtc.front().celsius;
  for (size_t i = 1; i < kNtc.size(); ++i) {
    if (r >= kNtc[i].kiloOhms) {
      const NtcPoint& a = kNtc[i - 1];
      const NtcPoint& b = kNtc[i];
      return a.celsius + (a.kiloOhms - r) / (a.kiloOhms - b.kiloOhms) * (b.celsius - a.celsius);
    }
  }
  return kNtc.back().celsius;
}

RfState computeRf(AmpModel model, const StageInput& input) {
  RfState rf;
  if (!(input.driveWatts > 0)) return rf;
  const StageParameters& stage = stageOf(model);
  rf.transmitting = true;
  rf.inputWatts = input.driveWatts;
  if (input.inPath) {
    const double drive = input.driveWatts * padFactor(input.pads);
    rf.forwardWatts = stage.saturationWatts * std::tanh(stage.gain * drive / stage.saturationWatts);
    rf.currentAmps = stage.biasAmps + rf.forwardWatts / (stage.supplyVolts * stage.efficiency);
    rf.dissipationWatts = stage.supplyVolts * rf.currentAmps - rf.forwardWatts;
  } else {
    rf.forwardWatts = input.driveWatts;  // straight through the bypass relay
  }
  const double gamma = std::clamp(input.reflection, 0.0, 0.999);
  rf.reflectedWatts = rf.forwardWatts * gamma * gamma;
  return rf;
}

HeatSinks::HeatSinks(ThermalConstants constants)
    : constants_(constants), temperature_{constants.ambient, constants.ambient} {}

double HeatSinks::settling(int sink, double dissipationWatts, int fanPercent) const {
  const double fan = std::clamp(fanPercent, 0, 100) / 100.0;
  const double rth = constants_.stillAirKelvinPerWatt / (1.0 + constants_.fanFactor * fan);
  return constants_.ambient +
         constants_.share.at(static_cast<size_t>(sink)) * std::max(dissipationWatts, 0.0) * rth;
}

void HeatSinks::advance(double seconds, double dissipationWatts, int fanPercent) {
  if (!(seconds > 0)) return;
  const double pull = 1.0 - std::exp(-seconds / constants_.timeConstantSeconds);
  for (int sink = 0; sink < 2; ++sink) {
    double& t = temperature_[static_cast<size_t>(sink)];
    t += (settling(sink, dissipationWatts, fanPercent) - t) * pull;
  }
}

}  // namespace corvid::bench
