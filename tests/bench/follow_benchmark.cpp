// corvid-follow-benchmark: how fast the real controller follows the transceiver. For
// each frequency link (FT-817 and EXT IO) the controller runs on a bench root against
// the transceiver simulator and the amplifier micro simulator, both answering at once,
// and the transceiver is moved between three bands again and again. For every move the
// time is taken from the moment the transceiver first put the new frequency on its line
// to the first of each command the move caused on the amplifier's line, and the figures
// (milliseconds) are printed per command. Not a test: run it by hand.
//
//   corvid-follow-benchmark [MOVES]     (default 24 moves a link)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/extio_sim.h"
#include "sim/ft817_sim.h"
#include "sim/station_feed.h"
#include "tests/bench/bench_harness.h"

namespace corvid::bench::test {
namespace {

using Clock = std::chrono::steady_clock;

// name start end AmpEnable Ant Atu Att PwrIn, after the interface line.
constexpr const char* kBands =
    "40m 7000000 7300000 1 2 0 1 5.0\n"
    "20m 14000000 14350000 1 1 1 0 5.0\n"
    "15m 21000000 21450000 0 3 0 0 5.0\n";
constexpr const char* kFilters =
    "6900000\t\t7400000\t\t1\n13900000\t\t14400000\t\t1\n20900000\t\t21500000\t\t1\n";
constexpr const char* kMemory = "2120 7100000 1 2 40 50\n";

// A move and the last command it causes (from the band before it in this order).
struct Move {
  uint32_t hz;
  const char* last;
};
constexpr Move kMoves[] = {
    {7'100'000, "AT01;"}, {21'200'000, "AB1;"}, {14'200'000, "AT00;"}};

constexpr const char* kCommands[] = {"FA", "SF", "TS", "SA", "MT", "AB", "AT"};

struct Figures {
  std::map<std::string, std::vector<double>> latency;  // by command letters, ms
  std::vector<double> dialToLine;                       // station change to the line, ms
  int failedMoves = 0;
};

double ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The first time hz was put on the line at or after from.
template <class Counters>
std::optional<Clock::time_point> sentAt(const Counters& counters, uint32_t hz, Clock::time_point from) {
  for (const FrequencySent& sent : counters.frequencies) {
    if (sent.hz == hz && sent.at >= from) return sent.at;
  }
  return std::nullopt;
}

template <class Simulator, class Options>
Figures measure(const char* interfaceLine, const char* port, Options options, int moves) {
  Figures figures;
  MicroRun bench;
  CorvidRun& run = bench.corvid();
  if (!run.prepared()) return figures;
  const std::string bands = std::string(interfaceLine) + "\n" + kBands;
  run.writeFile("/opt/set/antenna.txt", bands);
  run.writeFile("/opt/set/antenna_b1.txt", bands);
  run.writeFile("/opt/set/atu_ant2.txt", kMemory);
  run.writeFile("/opt/set/atu_ant2_b1.txt", kMemory);
  run.writeFile("/opt/set/filter.txt", kFilters);
  options.root = run.root().dir();
  options.port = port;
  options.watchFaultsFile = false;
  Simulator sim(options);
  std::string error;
  if (!sim.start(error)) {
    std::fprintf(stderr, "corvid-follow-benchmark: %s\n", error.c_str());
    return figures;
  }
  StationFeed feed(sim.sharedStation(), bench.micro());
  feed.start();
  if (!bench.start() || !waitForFrame(bench.micro(), "MT100010000;")) {
    std::fprintf(stderr, "corvid-follow-benchmark: the controller did not start:\n%s\n",
                 run.log().c_str());
    return figures;
  }
  std::this_thread::sleep_for(1s);
  for (int i = 0; i < moves; ++i) {
    const Move& move = kMoves[i % std::size(kMoves)];
    // A frequency of its own each time, so that no earlier reply can count.
    const uint32_t hz = move.hz + static_cast<uint32_t>(i) * 10;
    const size_t mark = bench.micro().wire().size();
    const Clock::time_point dial = Clock::now();
    sim.station().setFrequency(hz);
    if (!waitForFrame(bench.micro(), move.last, mark, 10s)) {
      ++figures.failedMoves;
      continue;
    }
    std::this_thread::sleep_for(200ms);  // the tail of the move, if any
    const std::optional<Clock::time_point> line = sentAt(sim.counters(), hz, dial);
    if (!line) {
      ++figures.failedMoves;
      continue;
    }
    figures.dialToLine.push_back(ms(*line - dial));
    std::map<std::string, bool> seen;
    for (const WireEntry& entry : bench.micro().wire().since(mark)) {
      if (!entry.fromController()) continue;
      for (const char* letters : kCommands) {
        if (entry.text().starts_with(letters) && !seen[letters]) {
          seen[letters] = true;
          figures.latency[letters].push_back(ms(entry.at - *line));
        }
      }
    }
  }
  return figures;
}

double percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  const size_t i = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(i, values.size() - 1)];
}

void print(const char* title, const Figures& figures, int moves) {
  std::printf("%s: %d moves, %d without their commands\n", title, moves, figures.failedMoves);
  std::printf("  %-28s %4s %8s %8s %8s %8s\n", "ms after the new frequency", "n", "min",
              "median", "p90", "max");
  auto row = [](const std::string& name, const std::vector<double>& v) {
    if (v.empty()) return;
    std::printf("  %-28s %4zu %8.1f %8.1f %8.1f %8.1f\n", name.c_str(), v.size(),
                *std::min_element(v.begin(), v.end()), percentile(v, 0.5), percentile(v, 0.9),
                *std::max_element(v.begin(), v.end()));
  };
  for (const char* letters : kCommands) {
    const auto it = figures.latency.find(letters);
    if (it != figures.latency.end()) row(std::string(letters) + " on the amplifier line", it->second);
  }
  row("(dial to transceiver line)", figures.dialToLine);
}

}  // namespace
}  // namespace corvid::bench::test

int main(int argc, char** argv) {
  using namespace corvid::bench;
  using namespace corvid::bench::test;
  const int moves = argc > 1 ? std::clamp(std::atoi(argv[1]), 3, 300) : 24;
  const Figures ft817 = measure<Ft817Simulator>("!817", "/dev/VORN817", Ft817Options{}, moves);
  print("FT-817 link (polled by the controller)", ft817, moves);
  ExtIoOptions extIo;
  extIo.cycleMs = 100;
  const Figures pex = measure<ExtIoSimulator>("!Pex", "/dev/VORNSER", extIo, moves);
  print("EXT IO link (a record every 100 ms)", pex, moves);
  const bool ok = ft817.failedMoves == 0 && pex.failedMoves == 0 && !ft817.latency.empty() &&
                  !pex.latency.empty();
  return ok ? 0 : 1;
}
