#include "sim/extio_sim.h"

#include <poll.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace corvid::bench {

namespace {

constexpr uint8_t kTypeFft = 0;
constexpr uint8_t kTypeRecord = 1;
constexpr size_t kBins = 1024;
constexpr double kBinHz = 187.5;
constexpr size_t kTunedBin = 512;
constexpr int kLevelOffset = 192;       // byte = dB + 192
constexpr size_t kOutLimit = 8 * 1024;  // bytes waiting for the controller at most (under 1 s)
constexpr size_t kCommandsKept = 1000;
constexpr auto kFaultsFilePeriod = std::chrono::milliseconds(200);

// Where the bands usually have signals: the digital-mode windows and a few beacons.
constexpr std::array<uint32_t, 12> kSignals = {
    1'840'000,  3'573'000,  7'074'000,  7'047'500,  10'136'000, 14'074'000,
    14'100'000, 18'100'000, 21'074'000, 24'915'000, 28'074'000, 50'313'000,
};

// The band's floor and its ripple: two slow waves across the bins (periods in bins),
// each moving by its phase step (radians) per cycle.
constexpr double kFloorDb = -114.0;
constexpr int kFloorNoise = 3;  // dB either side, uniform
struct Ripple {
  double amplitudeDb;
  double periodBins;
  double radiansPerCycle;
};
constexpr std::array<Ripple, 2> kRipples = {{{2.5, 341.0, 0.020}, {1.0, 97.0, -0.047}}};

// Carriers repeat at the same place of every 100 kHz of the dial.
constexpr int64_t kRasterHz = 100'000;
struct Carrier {
  int64_t placeHz;  // within each 100 kHz
  double peakDb;
};
constexpr std::array<Carrier, 3> kCarriers = {{{31'250, -50.0}, {62'500, -70.0}, {87'000, -90.0}}};
// dB below the peak 0, 1, 2, ... bins from a carrier's centre; beyond, the floor.
constexpr std::array<double, 6> kSkirt = {0.0, -4.0, -14.0, -26.0, -38.0, -50.0};

// The drifting carrier: a triangle of +/- 1.5 kHz at 30 Hz a cycle (300 Hz/s).
constexpr int64_t kDriftPlaceHz = 48'000;
constexpr double kDriftDb = -65.0;
constexpr double kDriftSwingHz = 1'500.0;
constexpr double kDriftHzPerCycle = 30.0;

// The signal that comes and goes: 14 bins (2.6 kHz) of a voice, on for 40 cycles of 70.
constexpr int64_t kVoicePlaceHz = 18'000;
constexpr int kVoiceBins = 14;
constexpr double kVoiceDb = -78.0;
constexpr int kVoiceSpread = 6;  // dB either side, changing every cycle
constexpr uint64_t kVoicePeriod = 70;
constexpr uint64_t kVoiceOn = 40;

// The bench's test carrier and its two neighbours.
constexpr double kTestCarrierDb = -30.0;
constexpr double kTestCarrierSideDb = -45.0;

// A reproducible draw for (cycle, bin, stream): splitmix64 of the three.
uint64_t draw(uint64_t cycle, long bin, uint64_t stream) {
  uint64_t z = cycle * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(bin) * 0xBF58476D1CE4E5B9ull +
               stream * 0x94D049BB133111EBull + 0x2545F4914F6CDD1Dull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Levels in dB, one per bin.
using Levels = std::array<double, kBins>;

void raise(Levels& levels, long bin, double db) {
  if (bin < 0 || bin >= static_cast<long>(kBins)) return;
  double& level = levels[static_cast<size_t>(bin)];
  level = std::max(level, db);
}

// A carrier centred at a fractional bin, its skirt interpolated between whole bins.
void addCarrier(Levels& levels, double centre, double peakDb) {
  const double reach = static_cast<double>(kSkirt.size() - 1);
  const long first = static_cast<long>(std::ceil(centre - reach));
  const long last = static_cast<long>(std::floor(centre + reach));
  for (long b = first; b <= last; ++b) {
    const double d = std::fabs(static_cast<double>(b) - centre);
    const size_t i = std::min(static_cast<size_t>(d), kSkirt.size() - 2);
    const double f = std::min(d - static_cast<double>(i), 1.0);
    raise(levels, b, peakDb + kSkirt[i] * (1.0 - f) + kSkirt[i + 1] * f);
  }
}

// The fractional bin of a dial frequency.
double binOf(double hz, double shownHz) {
  return static_cast<double>(kTunedBin) + (hz - shownHz) / kBinHz;
}

// Each place + n * 100 kHz inside the bins (and a little beyond, for the skirts).
template <typename Each>
void forEachRasterPlace(double shownHz, int64_t placeHz, Each each) {
  const double low = shownHz - (kTunedBin + 8) * kBinHz;
  const double high = shownHz + (kBins - kTunedBin + 8) * kBinHz;
  for (int64_t n = static_cast<int64_t>(
           std::floor((low - static_cast<double>(placeHz)) / static_cast<double>(kRasterHz)));
       static_cast<double>(n * kRasterHz + placeHz) <= high; ++n) {
    const double hz = static_cast<double>(n * kRasterHz + placeHz);
    if (hz >= low) each(hz);
  }
}

// The drifting carrier's offset at a cycle: a triangle wave starting at 0 going up.
double driftHz(uint64_t cycle) {
  const double period = 4.0 * kDriftSwingHz / kDriftHzPerCycle;  // cycles
  const double t = std::fmod(static_cast<double>(cycle), period) * kDriftHzPerCycle;
  if (t < kDriftSwingHz) return t;
  if (t < 3.0 * kDriftSwingHz) return 2.0 * kDriftSwingHz - t;
  return t - 4.0 * kDriftSwingHz;
}

struct ModeValue {
  StationMode mode;
  uint8_t value;
};
constexpr std::array<ModeValue, 7> kModeValues = {{
    {StationMode::Lsb, 4},
    {StationMode::Usb, 6},
    {StationMode::Cw, 2},
    {StationMode::Cwr, 3},
    {StationMode::Am, 1},
    {StationMode::Fm, 5},
    {StationMode::Dig, 7},
}};

// n digits (0x30 + value), most significant first.
void appendDigits(std::vector<uint8_t>& out, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i)
    out.push_back(static_cast<uint8_t>(0x30 + ((value >> (4 * i)) & 0x0F)));
}

ExtIoFaults merged(const ExtIoFaults& a, const ExtIoFaults& b) {
  return {a.silent || b.silent, a.junk || b.junk, a.oversized || b.oversized};
}

}  // namespace

uint8_t extIoModeValue(StationMode mode) {
  for (const ModeValue& m : kModeValues) {
    if (m.mode == mode) return m.value;
  }
  return 6;
}

std::vector<uint8_t> extIoFrame(uint8_t type, uint8_t kind, std::span<const uint8_t> payload) {
  std::vector<uint8_t> frame = {type, kind};
  const size_t n = payload.size();
  for (int i = 0; i < 4; ++i) frame.push_back(static_cast<uint8_t>(0x30 + ((n >> (4 * i)) & 0x0F)));
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

std::vector<uint8_t> ExtIoRadio::record(bool vfoBRecord) const {
  const StationState s = station_.get();
  std::vector<uint8_t> r;
  const bool memory = s.memory;
  const uint32_t freq = memory ? s.memoryFreq : vfoBRecord ? s.freqB : s.freqA;
  const StationMode mode = vfoBRecord ? s.modeB : s.modeA;
  r.push_back(static_cast<uint8_t>((s.vfoB ? 0x20 : 0) | (!memory && vfoBRecord ? 0x10 : 0) |
                                   (memory ? 0x01 : 0)));
  appendDigits(r, freq, 8);
  r.push_back(static_cast<uint8_t>(0x80 | (s.transmitting() ? 0x40 : 0) | (s.split ? 0x20 : 0) |
                                   extIoModeValue(mode)));
  r.push_back(0x41);  // main volume, audio gate open
  r.push_back(
      static_cast<uint8_t>(0x40 | (s.antennaInput != 0 ? 0x20 : 0) | (s.pttOut ? 0x10 : 0) | 3));
  r.push_back(0x80 | (4 << 3) | 0x01);  // filter kind 0, filters 1 and 4
  r.push_back(0x40 | 0x02);             // filter 2
  r.push_back(0x30);                    // noise reduction off
  r.push_back(0x30);                    // noise blanker off
  r.push_back(0x60 | 9);
  r.push_back(0x60 | 4);
  r.push_back(0x30 | 2);
  r.push_back(0x60 | (1 << 2) | 1);
  r.push_back(0x40 | (1 << 1) | 1);              // antenna 1, no attenuator, no preamp
  r.push_back(static_cast<uint8_t>(-80 + 211));  // level
  r.push_back(40);                               // volume
  appendDigits(r, 2500, 3);                      // shift
  appendDigits(r, 0, 5);                         // offset
  return r;
}

std::vector<uint8_t> extIoSpectrum(uint32_t shownHz, uint64_t cycle, std::optional<int> carrierHz) {
  const double shown = shownHz;
  const double t = static_cast<double>(cycle);
  Levels levels{};
  for (size_t b = 0; b < kBins; ++b) {
    const long bin = static_cast<long>(b);
    double level =
        kFloorDb + static_cast<double>(
                       static_cast<int>(draw(cycle, bin, 0) % (2 * kFloorNoise + 1)) - kFloorNoise);
    for (const Ripple& r : kRipples) {
      level +=
          r.amplitudeDb * std::sin(2.0 * std::numbers::pi * static_cast<double>(b) / r.periodBins +
                                   r.radiansPerCycle * t);
    }
    levels[b] = level;
  }
  for (uint32_t signal : kSignals) {
    const long centre = std::lround(binOf(signal, shown));
    for (long b = centre - 2; b <= centre + 2; ++b) {
      raise(levels, b, b == centre ? -50.0 : std::labs(b - centre) == 1 ? -62.0 : -80.0);
    }
  }
  for (const Carrier& c : kCarriers) {
    forEachRasterPlace(shown, c.placeHz,
                       [&](double hz) { addCarrier(levels, binOf(hz, shown), c.peakDb); });
  }
  forEachRasterPlace(shown, kDriftPlaceHz, [&](double hz) {
    addCarrier(levels, binOf(hz + driftHz(cycle), shown), kDriftDb);
  });
  if (cycle % kVoicePeriod < kVoiceOn) {
    forEachRasterPlace(shown, kVoicePlaceHz, [&](double hz) {
      const long first = std::lround(binOf(hz, shown));
      for (long b = first; b < first + kVoiceBins; ++b) {
        const int spread = static_cast<int>(draw(cycle, b, 1) % (2 * kVoiceSpread + 1));
        // The edges fall off like a filter's.
        const long edge = std::min(b - first, first + kVoiceBins - 1 - b);
        const double rolloff = edge >= 2 ? 0.0 : edge == 1 ? -6.0 : -15.0;
        raise(levels, b, kVoiceDb + spread - kVoiceSpread + rolloff);
      }
    });
  }
  if (carrierHz) {
    const long centre = static_cast<long>(kTunedBin) + std::lround(*carrierHz / kBinHz);
    raise(levels, centre, kTestCarrierDb);
    raise(levels, centre - 1, kTestCarrierSideDb);
    raise(levels, centre + 1, kTestCarrierSideDb);
  }
  std::vector<uint8_t> bins(kBins);
  for (size_t b = 0; b < kBins; ++b) {
    bins[b] = static_cast<uint8_t>(std::clamp<long>(std::lround(levels[b] + kLevelOffset), 0, 255));
  }
  return bins;
}

std::optional<int> parseCarrierWord(std::string_view word) {
  constexpr std::string_view kPrefix = "carrier:";
  if (!word.starts_with(kPrefix)) return std::nullopt;
  std::string_view number = word.substr(kPrefix.size());
  // from_chars takes a minus sign but no plus.
  if (number.starts_with('+')) {
    number.remove_prefix(1);
    if (number.starts_with('-')) return std::nullopt;
  }
  int value = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc{} || end != number.data() + number.size()) return std::nullopt;
  return value;
}

std::vector<uint8_t> ExtIoRadio::spectrum(std::optional<int> carrierHz) const {
  return extIoSpectrum(station_.get().displayFreq(), cycles_, carrierHz);
}

std::vector<uint8_t> ExtIoRadio::cycle(const ExtIoFaults& faults, std::optional<int> carrierHz) {
  std::vector<uint8_t> out;
  if (faults.silent) return out;
  ++cycles_;
  const StationState s = station_.get();
  if (faults.junk) {
    const std::vector<uint8_t> junk = {0xFF, 0x80, 0x7E, 7,   'x', '0', '0', '0',
                                       '0',  1,    '0',  '3', '0', '0', '0'};
    out.insert(out.end(), junk.begin(), junk.end());
  }
  if (faults.oversized) {
    std::vector<uint8_t> frame = extIoFrame(kTypeRecord, '1', record(s.vfoB));
    std::fill(frame.begin() + 2, frame.begin() + 6, static_cast<uint8_t>('?'));
    out.insert(out.end(), frame.begin(), frame.end());
  }
  auto add = [&](uint8_t type, uint8_t kind, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> frame = extIoFrame(type, kind, payload);
    out.insert(out.end(), frame.begin(), frame.end());
  };
  add(kTypeRecord, '1', record(s.vfoB));
  ++counters_.records;
  // In split the shown frequency may be the other VFO's, whose record goes every other
  // cycle.
  const bool both = !s.memory && cycles_ % 2 == 0;
  if (both) {
    add(kTypeRecord, '1', record(!s.vfoB));
    ++counters_.records;
  }
  if (s.displayFreq() == s.receiveFreq() || both) {
    noteFrequencySent(counters_.frequencies, s.displayFreq());
  }
  add(kTypeFft, '0', spectrum(carrierHz));
  ++counters_.spectra;
  return out;
}

void ExtIoRadio::take(std::span<const uint8_t> bytes) {
  for (uint8_t byte : bytes) {
    if (byte == ';') {
      command(pending_);
      pending_.clear();
    } else if (byte >= 0x20 && byte < 0x7F && pending_.size() < 32) {
      pending_ += static_cast<char>(byte);
    } else {
      pending_.clear();  // not a command: start again at the next one
    }
  }
}

void ExtIoRadio::command(const std::string& text) {
  counters_.commands.push_back(text);
  if (counters_.commands.size() > kCommandsKept)
    counters_.commands.erase(counters_.commands.begin());
  if (text == "RX") {
    station_.update([](StationState& s) {
      s.tuneCarrier = false;
      s.ptt = false;
    });
  } else if (text == "TX2") {
    station_.update([](StationState& s) { s.tuneCarrier = true; });
  } else if (text == "PT00") {
    station_.setPttOut(false);
  } else if (text.size() == 6 && text.starts_with("TQ") &&
             std::all_of(text.begin() + 2, text.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
    const int mw = std::atoi(text.c_str() + 2);
    station_.update([mw](StationState& s) { s.carrierWatts = mw / 1000.0; });
  }
  // "TU120" sets the tune timing: nothing to model.
}

ExtIoSimulator::ExtIoSimulator(ExtIoOptions options)
    : options_(std::move(options)),
      station_(options_.station ? options_.station : std::make_shared<Station>()),
      radio_(*station_),
      lineThread_(options_.root, options_.port) {}

ExtIoSimulator::~ExtIoSimulator() {
  stop();
}

std::filesystem::path ExtIoSimulator::linkPath() const {
  return lineThread_.linkPath();
}

bool ExtIoSimulator::start(std::string& error) {
  return lineThread_.start([this] { run(); }, error);
}

void ExtIoSimulator::stop() {
  lineThread_.stop();
}

void ExtIoSimulator::setFaults(ExtIoFaults faults) {
  std::scoped_lock lock(mutex_);
  apiFaults_ = faults;
}

ExtIoFaults ExtIoSimulator::faults() const {
  std::scoped_lock lock(mutex_);
  return merged(apiFaults_, fileFaults_);
}

void ExtIoSimulator::setCarrier(std::optional<int> offsetHz) {
  std::scoped_lock lock(mutex_);
  apiCarrier_ = offsetHz;
}

std::optional<int> ExtIoSimulator::carrier() const {
  std::scoped_lock lock(mutex_);
  return apiCarrier_ ? apiCarrier_ : fileCarrier_;
}

ExtIoCounters ExtIoSimulator::counters() const {
  std::scoped_lock lock(mutex_);
  return radio_.counters();
}

void ExtIoSimulator::inject(std::vector<uint8_t> bytes) {
  std::scoped_lock lock(mutex_);
  injected_.insert(injected_.end(), bytes.begin(), bytes.end());
  lineThread_.waker().wake();
}

void ExtIoSimulator::readFaultsFile() {
  ExtIoFaults file;
  std::optional<int> carrier;
  for (const std::string& word : faultWords(options_.root, "extio-")) {
    if (word == "silent") file.silent = true;
    if (word == "junk") file.junk = true;
    if (word == "oversized") file.oversized = true;
    if (const std::optional<int> hz = parseCarrierWord(word)) carrier = hz;
  }
  std::scoped_lock lock(mutex_);
  fileFaults_ = file;
  fileCarrier_ = carrier;
}

void ExtIoSimulator::queue(const std::vector<uint8_t>& bytes) {
  if (out_.size() + bytes.size() > kOutLimit) {
    std::scoped_lock lock(mutex_);
    ++radio_.counters().dropped;
    return;
  }
  out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void ExtIoSimulator::run() {
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::milliseconds(std::max(options_.cycleMs, 1));
  auto nextCycle = Clock::now();
  auto nextFaultsCheck = Clock::now();
  std::array<uint8_t, 256> buffer{};
  std::vector<uint8_t> chunk;
  while (!lineThread_.stopRequested()) {
    auto now = Clock::now();
    if (options_.watchFaultsFile && now >= nextFaultsCheck) {
      readFaultsFile();
      nextFaultsCheck = now + kFaultsFilePeriod;
    }
    std::vector<uint8_t> bytes;
    {
      std::scoped_lock lock(mutex_);
      bytes.swap(injected_);
      if (now >= nextCycle) {
        const std::vector<uint8_t> cycle =
            radio_.cycle(merged(apiFaults_, fileFaults_), apiCarrier_ ? apiCarrier_ : fileCarrier_);
        bytes.insert(bytes.end(), cycle.begin(), cycle.end());
        nextCycle += period;
        if (nextCycle < now) nextCycle = now + period;  // fell behind: no burst to catch up
      }
    }
    if (!bytes.empty()) queue(bytes);
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextCycle - Clock::now());
    using Ms = std::chrono::milliseconds;
    const int timeout = static_cast<int>(std::clamp<Ms::rep>(wait.count(), 0, 50));
    const short events = waitLine(lineThread_.line(), lineThread_.waker(), timeout, !out_.empty());
    if (lineThread_.stopRequested()) break;
    if ((events & POLLIN) != 0) {
      const long n = lineThread_.line().read(buffer);
      if (n > 0) {
        std::scoped_lock lock(mutex_);
        radio_.take(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)));
      }
    }
    if (!out_.empty()) {
      chunk.assign(out_.begin(),
                   out_.begin() + static_cast<long>(std::min<size_t>(out_.size(), 4096)));
      const long n = lineThread_.line().write(chunk);
      if (n > 0) out_.erase(out_.begin(), out_.begin() + n);
    }
  }
}

}  // namespace corvid::bench
