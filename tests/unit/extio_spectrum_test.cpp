// The EXT IO simulator's spectrum: the band it draws (floor, ripple, carriers, the drifting
// carrier, the signal that comes and goes), the bench's test carrier and its fault word.
// The spectrum is a function of the dial and the cycle counter, so every case here names
// its cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/extio_sim.h"
#include "tests/unit/test_support.h"

namespace corvid {
namespace {

using namespace std::chrono_literals;
using bench::extIoSpectrum;
using Bytes = std::vector<uint8_t>;

constexpr int kOffset = 192;  // byte = dB + 192
constexpr uint32_t kDial = 14'070'000;

// The bin of the highest byte in [first, last]; the first of equal ones.
long peakBin(const Bytes& bins, long first, long last) {
  long best = first;
  for (long b = first; b <= last; ++b) {
    if (bins[static_cast<size_t>(b)] > bins[static_cast<size_t>(best)]) best = b;
  }
  return best;
}

int maxDb(const Bytes& bins, long first, long last) {
  return bins[static_cast<size_t>(peakBin(bins, first, last))] - kOffset;
}

TEST(ExtIoSimSpectrum, TheTestCarrierIsTheHighestBinAtItsOffset) {
  struct Case {
    int hz;
    std::optional<long> bin;  // empty: outside the bins
  };
  const Case cases[] = {
      {+40'000, 512 + 213},  // 213.33
      {-25'000, 512 - 133},  // -133.33
      {0, 512},
      {93, 512},                // 0.496 bins
      {94, 513},                // 0.501
      {-94, 511},               // -0.501
      {+95'000, 1019},          // 506.67 rounds up
      {-96'000, 0},             // exactly the lowest bin: one neighbour only
      {+96'200, std::nullopt},  // 1025: its neighbours outside too
      {-200'000, std::nullopt},
  };
  for (const Case& c : cases) {
    for (uint64_t cycle : {0u, 37u, 1234u}) {
      SCOPED_TRACE(::testing::Message() << c.hz << " Hz, cycle " << cycle);
      const Bytes bins = extIoSpectrum(kDial, cycle, c.hz);
      ASSERT_EQ(bins.size(), 1024u);
      const long peak = peakBin(bins, 0, 1023);
      if (!c.bin) {
        EXPECT_LE(bins[static_cast<size_t>(peak)], -50 + kOffset) << "a carrier outside";
        continue;
      }
      EXPECT_EQ(peak, *c.bin);
      EXPECT_EQ(bins[static_cast<size_t>(*c.bin)], -30 + kOffset);
      if (*c.bin > 0) {
        EXPECT_EQ(bins[static_cast<size_t>(*c.bin - 1)], -45 + kOffset);
      }
      if (*c.bin < 1023) {
        EXPECT_EQ(bins[static_cast<size_t>(*c.bin + 1)], -45 + kOffset);
      }
    }
  }
  // Without it the band's strongest signals are -50 dB.
  const Bytes plain = extIoSpectrum(kDial, 0);
  EXPECT_EQ(maxDb(plain, 0, 1023), -50);
}

TEST(ExtIoSimSpectrum, CarrierWord) {
  struct Case {
    const char* word;
    std::optional<int> hz;
  };
  const Case cases[] = {
      {"carrier:+40000", 40'000},
      {"carrier:-25000", -25'000},
      {"carrier:0", 0},
      {"carrier:17", 17},
      {"carrier:", std::nullopt},
      {"carrier:+", std::nullopt},
      {"carrier:-", std::nullopt},
      {"carrier:+-5", std::nullopt},
      {"carrier:--5", std::nullopt},
      {"carrier:12x", std::nullopt},
      {"carrier: 12", std::nullopt},
      {"carrier:99999999999", std::nullopt},
      {"carrier", std::nullopt},
      {"silent", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(bench::parseCarrierWord(c.word), c.hz) << c.word;
  }
}

TEST(ExtIoSimSpectrum, FloorNearMinus114AndEveryLevelPlausible) {
  // The dial anywhere, down to 0 Hz and up to the last the record can carry.
  for (uint32_t dial : {0u, 1'840'000u, kDial, 50'313'000u, 0xFFFF'FFFFu}) {
    for (uint64_t cycle : {0u, 33u, 140u, 100'000u}) {
      SCOPED_TRACE(::testing::Message() << dial << " Hz, cycle " << cycle);
      Bytes bins = extIoSpectrum(dial, cycle, 1'000);
      // No level wrapped round: all between the floor's lowest and the test carrier.
      for (size_t b = 0; b < bins.size(); ++b) {
        ASSERT_GE(bins[b], -121 + kOffset) << "bin " << b;
        ASSERT_LE(bins[b], -30 + kOffset) << "bin " << b;
      }
      std::nth_element(bins.begin(), bins.begin() + 512, bins.end());
      EXPECT_NEAR(bins[512], -114 + kOffset, 2) << "the median";
    }
  }
}

TEST(ExtIoSimSpectrum, TheFloorRipplesAndMovesInTime) {
  // Averages of 64 bins a quarter of the bins apart differ by the ripple, and the same
  // block's average changes over a minute.
  auto mean = [](const Bytes& bins, size_t first) {
    double sum = 0;
    for (size_t b = first; b < first + 64; ++b) sum += bins[b];
    return sum / 64 - kOffset;
  };
  const Bytes now = extIoSpectrum(kDial, 0);
  const Bytes later = extIoSpectrum(kDial, 600);
  double spread = 0;
  double moved = 0;
  for (size_t first : {610u, 680u, 900u, 960u}) {  // clear of the band's signals
    spread = std::max(spread, std::abs(mean(now, first) - mean(now, 610)));
    moved = std::max(moved, std::abs(mean(later, first) - mean(now, first)));
  }
  EXPECT_GT(spread, 1.0);
  EXPECT_GT(moved, 1.0);
  // Noise: the same bin is not the same in successive cycles.
  EXPECT_NE(extIoSpectrum(kDial, 1), extIoSpectrum(kDial, 2));
  // The same cycle is.
  EXPECT_EQ(extIoSpectrum(kDial, 77, -3'000), extIoSpectrum(kDial, 77, -3'000));
}

TEST(ExtIoSimSpectrum, CarriersAtTheirPlacesOfEvery100kHz) {
  // At 14.07 MHz: -50 dB at 14 031 250 Hz (bin 305.3) and 14 131 250 (838.7), -70 dB at
  // 14 062 500 (472), -90 dB at 14 087 000 (602.7); the usual signal 14 074 000 (533.3).
  struct Case {
    long bin;
    int db;
  };
  const Case cases[] = {{305, -50}, {839, -50}, {472, -70}, {603, -90}, {533, -50}};
  const Bytes bins = extIoSpectrum(kDial, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bin);
    EXPECT_EQ(peakBin(bins, c.bin - 3, c.bin + 3), c.bin);
    EXPECT_NEAR(maxDb(bins, c.bin - 3, c.bin + 3), c.db, 2);
    // A few bins wide with skirts: the neighbours a little lower, then down to the floor.
    const int side = bins[static_cast<size_t>(c.bin + 1)] - kOffset;
    EXPECT_LT(side, c.db);
    EXPECT_GT(side, c.db - 16);
  }
  // Tuned 10 kHz up, everything sits 53.3 bins lower.
  const Bytes up = extIoSpectrum(kDial + 10'000, 5);
  EXPECT_EQ(peakBin(up, 412, 424), 419);  // 14 062 500 Hz
}

TEST(ExtIoSimSpectrum, OneCarrierDriftsSlowlyBackAndForth) {
  // 14 048 000 Hz (bin 394.7) + up to 1.5 kHz (8 bins) either way, 300 Hz/s.
  auto drifting = [](uint64_t cycle) { return peakBin(extIoSpectrum(kDial, cycle), 380, 410); };
  EXPECT_EQ(drifting(0), 395);
  EXPECT_EQ(drifting(50), 403);   // 5 s later: +1500 Hz
  EXPECT_EQ(drifting(150), 387);  // -1500 Hz
  EXPECT_EQ(drifting(200), 395);  // back after 20 s
  long lowest = 1024;
  long highest = 0;
  for (uint64_t cycle = 0; cycle <= 200; cycle += 10) {
    const long bin = drifting(cycle);
    lowest = std::min(lowest, bin);
    highest = std::max(highest, bin);
    // A second's drift is under 2 bins (375 Hz).
    if (cycle > 0) {
      EXPECT_LE(std::abs(bin - drifting(cycle - 10)), 2) << "cycle " << cycle;
    }
  }
  EXPECT_EQ(highest - lowest, 16);
}

TEST(ExtIoSimSpectrum, ASignalComesAndGoes) {
  // 14 018 000 Hz: bins 235 to 248, on in cycles 0..39 of every 70.
  struct Case {
    uint64_t cycle;
    bool on;
  };
  const Case cases[] = {{0, true},   {39, true}, {40, false},
                        {69, false}, {70, true}, {1'450, false}};
  for (const Case& c : cases) {
    const Bytes bins = extIoSpectrum(kDial, c.cycle);
    double sum = 0;
    for (size_t b = 237; b <= 246; ++b) sum += bins[b] - kOffset;
    const double mean = sum / 10;
    if (c.on) {
      EXPECT_GT(mean, -85) << "cycle " << c.cycle;
    } else {
      EXPECT_LT(maxDb(bins, 235, 248), -105) << "cycle " << c.cycle;
    }
  }
}

TEST(ExtIoSimSpectrum, TheSimulatorTakesTheCarrierFromTheFaultsFileAndTheApi) {
  testing::TempRoot root;
  std::filesystem::create_directories(root.path("/bench"));
  // Replaced whole, so that the simulator never reads half a file.
  auto setFaults = [&](const std::string& words) {
    root.write("/bench/faults.new", words + "\n");
    std::filesystem::rename(root.path("/bench/faults.new"), root.path("/bench/faults"));
  };
  setFaults("extio-junk extio-carrier:-25000");
  bench::ExtIoSimulator sim({.root = root.dir(),
                             .port = "/dev/VORNSER",
                             .watchFaultsFile = true,
                             .cycleMs = 20,
                             .station = {}});
  std::string error;
  ASSERT_TRUE(sim.start(error)) << error;
  auto waitFor = [](auto condition) {
    for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
    return condition();
  };
  EXPECT_TRUE(waitFor([&] { return sim.carrier() == -25'000; }));
  EXPECT_TRUE(sim.faults().junk);
  sim.setCarrier(40'000);
  EXPECT_EQ(sim.carrier(), 40'000);
  setFaults("extio-carrier:+1000");
  EXPECT_TRUE(waitFor([&] { return !sim.faults().junk; }));
  EXPECT_EQ(sim.carrier(), 40'000) << "the API's wins";
  sim.setCarrier(std::nullopt);
  EXPECT_TRUE(waitFor([&] { return sim.carrier() == 1'000; }));
  setFaults("extio-carrier:oops");
  EXPECT_TRUE(waitFor([&] { return !sim.carrier(); }));
  sim.stop();
}

}  // namespace
}  // namespace corvid
