// The physics behind the amplifier micro's readings: the load at the output, the power
// stage, the detectors and sensors the micro's 12-bit converter reads, and the heat
// sinks.
//
// Power stage: the output follows drive × gain into a soft saturation,
// P = Psat × tanh(gain × Pdrive / Psat), after the input pads (the 2 dB and 3 dB pads of
// the AT command). Bypassed (AB1) or with its protection latched, the stage is out of
// the path and the drive goes straight to the output. The supply current is the bias
// (only while transmitting) plus P / (Vsupply × efficiency).
//
//   model    gain       Psat    supply   efficiency   bias
//   60 W     ×8 (9 dB)  65 W    13.8 V   0.50         1.0 A
//   120 W    ×16 (12 dB) 130 W  48 V     0.50         1.0 A
//
// Detectors: each power detector is made so that the controller's built-in calibration
// reads it right: watts = K × (raw + offset)² with offsets input 150, forward 140,
// reflected 100 and K input 5.5078103e-6, forward 5.156579e-6, reflected 3.3262754e-6,
// and below raw = offset the straight line 4 × K × offset × raw. A raw forward reading
// of about 3265 is 60 W; the converter tops out at 4095, about 92 W forward, so the
// 120 W model needs a calibration file of its own to read its top end, as a real one
// does. The reflected detector sees 0.7 % of the forward power besides the reflected
// wave (the coupler's directivity), which the controller's correction constant (-0.007)
// takes out again. Current: raw = amperes × 4096 / 14.05.
//
// Temperatures: an NTC of 10 kΩ at 25 °C under a 10 kΩ pull-up, raw = 4095 × R / (R + 10)
// with R in kΩ from the NTC table (linear between its 5 °C points).
//
// Heat sinks: two, each a first-order lag towards ambient + share × dissipation × Rth,
// with Rth = 2.0 °C/W / (1 + 3 × fan / 100) and a time constant of 5 s. A real heat sink
// takes minutes; the time is scaled so that a test sees a change within seconds. Sink 1
// takes 55 % of the dissipation, sink 2 45 %. Ambient 25 °C. The 60 W model keyed with
// 10 W (55 W out, 69 W dissipated) brings sink 1 towards 100 °C with the fan off, 49 °C
// at 70 % and 44 °C at 100 %.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace corvid::bench {

// What the amplifier's output sees. A fixed load is the first; the tuner network will
// plug in here, giving the reflection for the frequency and the tune value it is set to.
class Load {
 public:
  virtual ~Load() = default;
  // The magnitude of the reflection coefficient, 0 (matched) to below 1.
  virtual double reflection(uint64_t frequencyHz, uint32_t tuneValue) const = 0;
};

double reflectionOfSwr(double swr);
double swrOfReflection(double reflection);

// A load with the same mismatch at every frequency and tune value.
class FixedLoad : public Load {
 public:
  explicit FixedLoad(double swr) : reflection_(reflectionOfSwr(swr)) {}
  double reflection(uint64_t, uint32_t) const override { return reflection_; }

 private:
  double reflection_;
};

enum class AmpModel { Watts60, Watts120 };

struct StageParameters {
  double gain;
  double saturationWatts;
  double supplyVolts;
  double efficiency;
  double biasAmps;
};

const StageParameters& stageOf(AmpModel model);

// A power detector: the offset and constant of the controller's square law.
struct Detector {
  int offset;
  double k;
};
inline constexpr Detector kInputDetector{150, 5.5078103e-6};
inline constexpr Detector kForwardDetector{140, 5.156579e-6};
inline constexpr Detector kReflectedDetector{100, 3.3262754e-6};
// The share of the forward power that leaks into the reflected detector.
inline constexpr double kCouplerLeakage = 0.007;
inline constexpr double kCurrentFullScaleAmps = 14.05;

inline constexpr uint16_t kRawMax = 4095;

uint16_t rawOfPower(double watts, Detector detector);
double powerOfRaw(int raw, Detector detector);
uint16_t rawOfCurrent(double amps);
uint16_t rawOfTemperature(double celsius);
// The NTC table read back the other way (linear in resistance), for checks.
double temperatureOfRaw(int raw);

// The RF path at one moment.
struct RfState {
  double inputWatts = 0;      // drive from the transceiver, before the pads
  double forwardWatts = 0;    // forward wave at the output
  double reflectedWatts = 0;  // reflected wave at the output
  double currentAmps = 0;
  double dissipationWatts = 0;  // heat into the two sinks
  bool transmitting = false;
};

struct StageInput {
  double driveWatts = 0;  // 0: not keyed
  int pads = 0;           // bit 1: the 3 dB pad, bit 0: the 2 dB pad
  bool inPath = false;    // the stage amplifies (not bypassed, protection not latched)
  double reflection = 0;  // of the load
};

RfState computeRf(AmpModel model, const StageInput& input);

struct ThermalConstants {
  double ambient = 25.0;
  double stillAirKelvinPerWatt = 2.0;
  double fanFactor = 3.0;  // Rth = still / (1 + factor × fan / 100)
  double timeConstantSeconds = 5.0;
  std::array<double, 2> share = {0.55, 0.45};
};

class HeatSinks {
 public:
  explicit HeatSinks(ThermalConstants constants = {});
  // Lets seconds pass with this dissipation and fan speed (exact for constant inputs).
  void advance(double seconds, double dissipationWatts, int fanPercent);
  double temperature(int sink) const { return temperature_.at(static_cast<size_t>(sink)); }
  // Where sink settles for a constant dissipation and fan.
  double settling(int sink, double dissipationWatts, int fanPercent) const;

 private:
  ThermalConstants constants_;
  std::array<double, 2> temperature_;
};

}  // namespace corvid::bench
