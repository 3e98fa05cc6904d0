// The antenna tuner and the three antennas behind it, as the amplifier's output sees
// them: the impedance of each antenna over frequency, the L/C network the tune value
// sets, and the SWR a 50 Ω source sees looking into network and antenna.
//
// The network. L and C are banks of nine relay-switched parts in binary steps:
//   L = step × 0.05 µH   (0 … 25.55 µH), each inductor with a Q of 150 (series loss)
//   C = step × 7 pF      (0 … 3577 pF), lossless
// That spans 1.8 MHz (a short antenna at 7 MHz needs about 24 µH; a low-resistance
// load on 160 m needs a few nF) up to 54 MHz, where one L step is already 17 Ω and one
// C step 0.0024 S, so six metres matches in coarser steps, as on a real tuner.
//   mode bit 0x40000  (network "A", LC): the series L from the amplifier, then C across
//                     the antenna side:  Zin = jXL + (Zant ∥ 1/jωC)
//   mode bit 0x800000 (network "B", CL): C across the amplifier side, then the series L
//                     towards the antenna: Zin = 1/jωC ∥ (jXL + Zant)
//   bit 0x10000 (bypass) or no mode bit: the antenna straight through. The bypass relay
//   wins over the other two; both network bits together also read as bypass (the
//   relay drivers hold neither network then).
// The nine bits of each step are scattered over the tune value as the relay drivers
// are wired (tuneSteps); the simulator gathers them with its own table.
//
// The antennas (SA1…SA3):
//   1  a half-wave dipole cut for 14.2 MHz: a series RLC about its resonance, radiation
//      resistance 70 Ω, Q 12. At 14.2 MHz SWR 1.4 without a tuner; at 7.1 MHz
//      70 − j1260 Ω, which needs 20 µH of the 25.5; below 3.6 MHz out of reach, and far
//      above resonance (inductive, kilohms) only roughly matched by the few C steps.
//   2  a 25 m end-fed long wire: a lossy line of 450 Ω (velocity 0.95) open at the far
//      end into 2500 Ω of radiation, plus 15 Ω of ground loss at the feed. High and
//      strongly reactive, swinging from tens of ohms to kilohms across the bands.
//   3  a quarter-wave vertical for 21.2 MHz with a matching section: series RLC, 48 Ω,
//      Q 6. A match at once on 15 m; far below its band a capacitive whip no network
//      can match (about 48 − j3400 Ω at 1.8 MHz).
#pragma once

#include <complex>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

#include "sim/amp_model.h"

namespace corvid::bench {

using Impedance = std::complex<double>;

inline constexpr double kSourceOhms = 50.0;
inline constexpr double kLStepHenry = 0.05e-6;
inline constexpr double kCStepFarad = 7e-12;
inline constexpr double kInductorQ = 150.0;
inline constexpr int kTunerSteps = 512;
inline constexpr int kAntennaCount = 3;

enum class Network { Bypass, LC, CL };

struct TuneSteps {
  int l = 0;
  int c = 0;
  Network network = Network::Bypass;
  bool operator==(const TuneSteps&) const = default;
};

// The steps and the network a tune value sets, and a tune value for them.
TuneSteps tuneSteps(uint32_t tuneValue);
uint32_t tuneValueOf(const TuneSteps& steps);

// The impedance of antenna 1..3 at a frequency (antenna 1 for any other number).
Impedance antennaImpedance(int antenna, double frequencyHz);

// The impedance at the amplifier's side of the network, with a load behind it.
Impedance networkInput(const TuneSteps& steps, double frequencyHz, Impedance load);

double reflectionOf(Impedance z);  // |Γ| against 50 Ω
double swrOf(Impedance z);

struct BestMatch {
  double swr = 0;
  TuneSteps steps;
};

// The three antennas behind the tuner. The antenna in use is the micro's choice (SA).
class TunerLoad {
 public:
  double reflection(int antenna, uint64_t frequencyHz, uint32_t tuneValue) const;
  double swr(int antenna, uint64_t frequencyHz, uint32_t tuneValue) const;
  // The lowest SWR any setting of either network (or the bypass) reaches: all 512 × 512
  // steps of both networks. Computed once per antenna and frequency, then cached; the
  // first call takes some milliseconds, so callers keep it off the reply path.
  BestMatch best(int antenna, uint64_t frequencyHz) const;

 private:
  mutable std::mutex cacheMutex_;
  mutable std::map<std::pair<int, uint64_t>, BestMatch> cache_;
};

// The exhaustive search itself, uncached.
BestMatch searchBestMatch(int antenna, double frequencyHz);

}  // namespace corvid::bench
