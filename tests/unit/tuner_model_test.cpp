// The bench's tuner model: the relay bits of the tune value, the two networks against
// hand-worked L-network matches, the antennas, the exhaustive best match, and the micro
// reading through it.
#include "sim/tuner_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>

#include "sim/amp_micro.h"

namespace corvid::bench {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

TEST(TunerBits, StepsGatheredFromTheRelayWiring) {
  // Worked out from the driver wiring: C step bit 0 is tune bit 15, C bit 8 tune bit
  // 20, L bit 0 tune bit 1, L bit 7 tune bit 19, L bit 8 tune bit 21.
  EXPECT_EQ(tuneSteps(0x8000), (TuneSteps{0, 1, Network::Bypass}));
  EXPECT_EQ(tuneSteps(0x100000), (TuneSteps{0, 256, Network::Bypass}));
  EXPECT_EQ(tuneSteps(0x2), (TuneSteps{1, 0, Network::Bypass}));
  EXPECT_EQ(tuneSteps(0x80000), (TuneSteps{128, 0, Network::Bypass}));
  EXPECT_EQ(tuneSteps(0x200000), (TuneSteps{256, 0, Network::Bypass}));
  EXPECT_EQ(tuneSteps(0x10D554).c, 511);
  EXPECT_EQ(tuneSteps(0x10D554).l, 0);
  EXPECT_EQ(tuneSteps(0x282AAA).l, 511);
  EXPECT_EQ(tuneSteps(0x282AAA).c, 0);
  // L 5 (bits 0, 2: tune bits 1, 5), C 3 (bits 0, 1: tune bits 15, 2) on network A.
  EXPECT_EQ(tuneSteps(0x40000 | 0x22 | 0x8004), (TuneSteps{5, 3, Network::LC}));
}

TEST(TunerBits, ModeBitsChooseTheNetwork) {
  EXPECT_EQ(tuneSteps(0).network, Network::Bypass);
  EXPECT_EQ(tuneSteps(0x10000).network, Network::Bypass);
  EXPECT_EQ(tuneSteps(0x40000).network, Network::LC);
  EXPECT_EQ(tuneSteps(0x800000).network, Network::CL);
  EXPECT_EQ(tuneSteps(0x10000 | 0x40000).network, Network::Bypass) << "the bypass relay wins";
  EXPECT_EQ(tuneSteps(0x840000).network, Network::Bypass) << "both networks: neither";
}

TEST(TunerBits, EncodeRoundTrips) {
  for (const Network n : {Network::Bypass, Network::LC, Network::CL}) {
    for (int l : {0, 1, 37, 256, 511}) {
      for (int c : {0, 1, 112, 300, 511}) {
        const TuneSteps steps{l, c, n};
        EXPECT_EQ(tuneSteps(tuneValueOf(steps)), steps) << l << " " << c;
      }
    }
  }
  EXPECT_EQ(tuneValueOf({1, 1, Network::LC}), 0x40000u | 0x2u | 0x8000u);
  EXPECT_EQ(tuneValueOf({0, 0, Network::CL}), 0x800000u);
  EXPECT_EQ(tuneValueOf({0, 0, Network::Bypass}), 0x10000u);
}

TEST(TunerNetwork, HandWorkedInputImpedances) {
  // 10 MHz, 50 Ω load, L 20 steps (1 µH, 62.83 Ω, loss 0.42 Ω), C 100 steps (700 pF).
  const Impedance lc = networkInput({20, 100, Network::LC}, 10e6, 50.0);
  EXPECT_NEAR(lc.real(), 8.986, 0.01);
  EXPECT_NEAR(lc.imag(), 43.99, 0.01);
  const Impedance cl = networkInput({20, 100, Network::CL}, 10e6, 50.0);
  EXPECT_NEAR(cl.real(), 6.281, 0.01);
  EXPECT_NEAR(cl.imag(), -27.73, 0.01);
}

TEST(TunerNetwork, MoreLRaisesTheSeriesReactance) {
  const double f = 7e6;
  const Impedance load{30, -20};
  for (int l = 0; l < 511; l += 50) {
    const Impedance z = networkInput({l, 0, Network::LC}, f, load);
    EXPECT_NEAR(z.imag() - load.imag(), kTwoPi * f * kLStepHenry * l, 1e-9);
    EXPECT_GT(networkInput({l + 1, 0, Network::LC}, f, load).imag(), z.imag());
    EXPECT_GE(z.real(), load.real()) << "the coil's loss adds resistance";
  }
}

TEST(TunerNetwork, MoreCRaisesTheShuntSusceptance) {
  const double f = 7e6;
  const Impedance load{30, -20};
  for (int c = 0; c < 511; c += 50) {
    const Impedance y = 1.0 / networkInput({0, c, Network::CL}, f, load);
    EXPECT_NEAR(y.imag() - (1.0 / load).imag(), kTwoPi * f * kCStepFarad * c, 1e-12);
  }
}

TEST(TunerNetwork, HighLoadMatchesOnLCAndLowLoadOnCL) {
  // Textbook L-networks at 7 MHz, Q = √3: 200 Ω needs the C across the load
  // (115.5 Ω, 28 steps) and 86.6 Ω of series L (39 steps); 12.5 Ω needs 21.65 Ω of
  // series L (10 steps) and the C across the source (28.9 Ω, 112 steps).
  EXPECT_LT(swrOf(networkInput({39, 28, Network::LC}, 7e6, 200.0)), 1.1);
  EXPECT_GT(swrOf(networkInput({39, 28, Network::CL}, 7e6, 200.0)), 3.0);
  EXPECT_LT(swrOf(networkInput({10, 112, Network::CL}, 7e6, 12.5)), 1.1);
  EXPECT_GT(swrOf(networkInput({10, 112, Network::LC}, 7e6, 12.5)), 3.0);
}

TEST(TunerNetwork, SwrOfImpedances) {
  EXPECT_DOUBLE_EQ(swrOf(50.0), 1.0);
  EXPECT_NEAR(swrOf(100.0), 2.0, 1e-12);
  EXPECT_NEAR(swrOf(25.0), 2.0, 1e-12);
  EXPECT_TRUE(std::isinf(swrOf(Impedance{0, 50})));
}

TEST(TunerAntennas, ResonancesAndReactanceSigns) {
  // The dipole and the vertical are resistive at resonance, capacitive below,
  // inductive above.
  EXPECT_NEAR(antennaImpedance(1, 14.2e6).real(), 70.0, 1e-9);
  EXPECT_NEAR(antennaImpedance(1, 14.2e6).imag(), 0.0, 1e-6);
  EXPECT_LT(antennaImpedance(1, 7.1e6).imag(), -1000.0);
  EXPECT_GT(antennaImpedance(1, 21.2e6).imag(), 500.0);
  EXPECT_NEAR(antennaImpedance(3, 21.2e6).real(), 48.0, 1e-9);
  EXPECT_NEAR(antennaImpedance(3, 21.2e6).imag(), 0.0, 1e-6);
  // The long wire swings widely: somewhere above 1 kΩ, somewhere below 200 Ω.
  double low = 1e9;
  double high = 0;
  for (double f = 1.8e6; f <= 30e6; f += 0.1e6) {
    const double m = std::abs(antennaImpedance(2, f));
    low = std::min(low, m);
    high = std::max(high, m);
    EXPECT_GT(antennaImpedance(2, f).real(), 0.0) << f;
  }
  EXPECT_LT(low, 200.0);
  EXPECT_GT(high, 1000.0);
}

TEST(TunerLoadTest, BypassPassesTheAntennasOwnMismatch) {
  const TunerLoad load;
  for (int antenna = 1; antenna <= kAntennaCount; ++antenna) {
    for (double f : {1.85e6, 7.1e6, 14.2e6, 28.5e6}) {
      const double own = swrOf(antennaImpedance(antenna, f));
      const auto hz = static_cast<uint64_t>(f);
      // L and C set but bypassed: the relays are out of the path.
      EXPECT_DOUBLE_EQ(load.swr(antenna, hz, tuneValueOf({200, 300, Network::Bypass})), own);
      EXPECT_DOUBLE_EQ(load.swr(antenna, hz, 0x282AAA), own) << "no mode bit";
    }
  }
}

TEST(TunerLoadTest, MatchedAntennaNeedsNoNetwork) {
  const TunerLoad load;
  EXPECT_LT(load.swr(3, 21200000, 0), 1.05);
  EXPECT_DOUBLE_EQ(load.swr(3, 21200000, tuneValueOf({0, 0, Network::LC})),
                   load.swr(3, 21200000, 0));
  EXPECT_LT(load.best(3, 21200000).swr, 1.05);
}

TEST(TunerLoadTest, ExhaustiveBestIsTheLowestOfAnySetting) {
  const TunerLoad load;
  const BestMatch best = load.best(1, 7100000);
  EXPECT_LT(best.swr, 1.3);
  EXPECT_GT(best.steps.l, 300) << "the short dipole needs most of the L";
  EXPECT_NEAR(load.swr(1, 7100000, tuneValueOf(best.steps)), best.swr, 1e-12);
  EXPECT_GT(load.swr(1, 7100000, 0), 100.0) << "bypassed it is far off";
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const TuneSteps steps{static_cast<int>((seed >> 8) & 511), static_cast<int>((seed >> 17) & 511),
                          (seed & 1) != 0 ? Network::LC : Network::CL};
    EXPECT_GE(load.swr(1, 7100000, tuneValueOf(steps)), best.swr - 1e-12);
  }
  // Next to the best point, every neighbour is no better.
  for (int dl = -1; dl <= 1; ++dl) {
    for (int dc = -1; dc <= 1; ++dc) {
      const TuneSteps near{best.steps.l + dl, best.steps.c + dc, best.steps.network};
      if (near.l < 0 || near.c < 0 || near.l > 511 || near.c > 511) continue;
      EXPECT_GE(load.swr(1, 7100000, tuneValueOf(near)), best.swr - 1e-12);
    }
  }
}

TEST(TunerLoadTest, BestIsCachedPerAntennaAndFrequency) {
  const TunerLoad load;
  const BestMatch first = load.best(2, 3600000);
  const BestMatch again = load.best(2, 3600000);
  EXPECT_EQ(first.steps, again.steps);
  EXPECT_EQ(first.swr, again.swr);
  EXPECT_NE(load.best(2, 7100000).steps, first.steps) << "another frequency, another match";
}

TEST(TunerLoadTest, ShortVerticalOn160IsBeyondReach) {
  EXPECT_GT(searchBestMatch(3, 1.85e6).swr, 6.0);
}

TEST(TunerMicro, ReadingsFollowTheTuneValueAndTheSelectedAntenna) {
  AmpMicro micro;
  auto tuner = std::make_shared<TunerLoad>();
  micro.setTuner(tuner);
  micro.setTransceiverFrequency(7100000);
  micro.key(10.0);
  const auto now = SimClock::now();
  ASSERT_TRUE(micro.answer("SA1;", now));
  ASSERT_TRUE(micro.answer("MT100010000;", now));  // bypassed
  EXPECT_GT(micro.loadSwr(), 100.0);
  EXPECT_NE(micro.readings().statusB & 0x02, 0) << "the high-SWR bit";
  const uint16_t reflectedBypassed = micro.readings().reflected;

  const BestMatch best = tuner->best(1, 7100000);
  char command[16];
  std::snprintf(command, sizeof command, "MT1%08X;", tuneValueOf(best.steps));
  ASSERT_TRUE(micro.answer(command, now));
  EXPECT_NEAR(micro.loadSwr(), best.swr, 1e-9);
  EXPECT_EQ(micro.readings().statusB & 0x02, 0);
  EXPECT_LT(micro.readings().reflected, reflectedBypassed);

  // Antenna 3 at the same setting is another load.
  ASSERT_TRUE(micro.answer("SA3;", now));
  EXPECT_NEAR(micro.loadSwr(), tuner->swr(3, 7100000, tuneValueOf(best.steps)), 1e-12);
  EXPECT_GT(std::abs(micro.loadSwr() - best.swr), 0.1);
}

}  // namespace
}  // namespace corvid::bench
