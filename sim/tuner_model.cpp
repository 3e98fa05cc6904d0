#include "sim/tuner_model.h"

#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace corvid::bench {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kLightSpeed = 299792458.0;

// The tune-value bit that drives each relay, least significant step first, as the
// relay drivers are wired.
constexpr std::array<int, 9> kCRelayBits = {15, 2, 4, 6, 14, 12, 10, 8, 20};
constexpr std::array<int, 9> kLRelayBits = {1, 3, 5, 7, 13, 11, 9, 19, 21};
constexpr uint32_t kBypassBit = 0x10000;
constexpr uint32_t kLCBit = 0x40000;
constexpr uint32_t kCLBit = 0x800000;

int stepOf(uint32_t value, const std::array<int, 9>& relayBits) {
  int step = 0;
  for (size_t i = 0; i < relayBits.size(); ++i) {
    if (((value >> relayBits[i]) & 1u) != 0) step |= 1 << i;
  }
  return step;
}

uint32_t bitsOf(int step, const std::array<int, 9>& relayBits) {
  uint32_t value = 0;
  for (size_t i = 0; i < relayBits.size(); ++i) {
    if (((step >> i) & 1) != 0) value |= 1u << relayBits[i];
  }
  return value;
}

// A series RLC about its resonance: R + j(ωL − 1/ωC) with L = Q R / ω0, C = 1 / (ω0² L).
Impedance seriesResonant(double frequencyHz, double resonanceHz, double ohms, double q) {
  const double w0 = kTwoPi * resonanceHz;
  const double l = q * ohms / w0;
  const double c = 1.0 / (w0 * w0 * l);
  const double w = kTwoPi * frequencyHz;
  return {ohms, w * l - 1.0 / (w * c)};
}

// The end-fed wire: a lossy line of zLine ohms, open at the far end into the radiation
// resistance, seen through tanh(γl); the ground loss in series at the feed.
Impedance longWire(double frequencyHz) {
  constexpr double kLength = 25.0;
  constexpr double kVelocity = 0.95;
  constexpr double kLine = 450.0;
  constexpr double kFarEnd = 2500.0;
  constexpr double kLossNeperPerMetre = 0.004;
  constexpr double kGroundLoss = 15.0;
  const double beta = kTwoPi * frequencyHz / (kLightSpeed * kVelocity);
  const Impedance t = std::tanh(Impedance(kLossNeperPerMetre, beta) * kLength);
  const Impedance z = kLine * (kFarEnd + kLine * t) / (kLine + kFarEnd * t);
  return z + kGroundLoss;
}

// The reactance of the L bank with its loss, and the admittance of the C bank.
Impedance inductorAt(int step, double w) {
  const double x = w * kLStepHenry * step;
  return {x / kInductorQ, x};
}

Impedance capacitorAdmittance(int step, double w) {
  return {0.0, w * kCStepFarad * step};
}

// The input impedance with the parts given as series impedance zl and shunt admittance yc.
Impedance inputOf(Network network, Impedance zl, Impedance yc, Impedance load) {
  switch (network) {
    case Network::LC:
      return zl + load / (1.0 + yc * load);
    case Network::CL: {
      const Impedance z = zl + load;
      return z / (1.0 + yc * z);
    }
    case Network::Bypass:
      break;
  }
  return load;
}

}  // namespace

TuneSteps tuneSteps(uint32_t tuneValue) {
  TuneSteps steps;
  steps.l = stepOf(tuneValue, kLRelayBits);
  steps.c = stepOf(tuneValue, kCRelayBits);
  const bool lc = (tuneValue & kLCBit) != 0;
  const bool cl = (tuneValue & kCLBit) != 0;
  if ((tuneValue & kBypassBit) == 0 && lc != cl) steps.network = lc ? Network::LC : Network::CL;
  return steps;
}

uint32_t tuneValueOf(const TuneSteps& steps) {
  uint32_t value = bitsOf(steps.l & 0x1FF, kLRelayBits) | bitsOf(steps.c & 0x1FF, kCRelayBits);
  switch (steps.network) {
    case Network::LC:
      return value | kLCBit;
    case Network::CL:
      return value | kCLBit;
    case Network::Bypass:
      break;
  }
  return value | kBypassBit;
}

Impedance antennaImpedance(int antenna, double frequencyHz) {
  switch (antenna) {
    case 2:
      return longWire(frequencyHz);
    case 3:
      return seriesResonant(frequencyHz, 21.2e6, 48.0, 6.0);
    default:
      return seriesResonant(frequencyHz, 14.2e6, 70.0, 12.0);
  }
}

Impedance networkInput(const TuneSteps& steps, double frequencyHz, Impedance load) {
  const double w = kTwoPi * frequencyHz;
  return inputOf(steps.network, inductorAt(steps.l, w), capacitorAdmittance(steps.c, w), load);
}

double reflectionOf(Impedance z) {
  const Impedance sum = z + kSourceOhms;
  if (std::abs(sum) == 0.0) return 1.0;
  return std::min(std::abs((z - kSourceOhms) / sum), 1.0);
}

double swrOf(Impedance z) {
  return swrOfReflection(reflectionOf(z));
}

double TunerLoad::reflection(int antenna, uint64_t frequencyHz, uint32_t tuneValue) const {
  const auto f = static_cast<double>(frequencyHz);
  return reflectionOf(networkInput(tuneSteps(tuneValue), f, antennaImpedance(antenna, f)));
}

double TunerLoad::swr(int antenna, uint64_t frequencyHz, uint32_t tuneValue) const {
  return swrOfReflection(reflection(antenna, frequencyHz, tuneValue));
}

BestMatch TunerLoad::best(int antenna, uint64_t frequencyHz) const {
  const std::pair<int, uint64_t> key{antenna, frequencyHz};
  {
    std::scoped_lock lock(cacheMutex_);
    if (const auto it = cache_.find(key); it != cache_.end()) return it->second;
  }
  // Searched without the lock: two callers may both search once, with the same result.
  const BestMatch found = searchBestMatch(antenna, static_cast<double>(frequencyHz));
  std::scoped_lock lock(cacheMutex_);
  cache_.emplace(key, found);
  return found;
}

BestMatch searchBestMatch(int antenna, double frequencyHz) {
  const double w = kTwoPi * frequencyHz;
  const Impedance load = antennaImpedance(antenna, frequencyHz);
  std::vector<Impedance> zl(kTunerSteps);
  std::vector<Impedance> yc(kTunerSteps);
  for (int s = 0; s < kTunerSteps; ++s) {
    zl[static_cast<size_t>(s)] = inductorAt(s, w);
    yc[static_cast<size_t>(s)] = capacitorAdmittance(s, w);
  }
  // Compared as |Γ|, which orders settings as the SWR does.
  BestMatch best{swrOf(load), {0, 0, Network::Bypass}};
  double bestGamma = reflectionOf(load);
  for (const Network network : {Network::LC, Network::CL}) {
    for (int l = 0; l < kTunerSteps; ++l) {
      for (int c = 0; c < kTunerSteps; ++c) {
        const double gamma = reflectionOf(
            inputOf(network, zl[static_cast<size_t>(l)], yc[static_cast<size_t>(c)], load));
        if (gamma < bestGamma) {
          bestGamma = gamma;
          best.steps = {l, c, network};
        }
      }
    }
  }
  best.swr = swrOfReflection(bestGamma);
  return best;
}

}  // namespace corvid::bench
