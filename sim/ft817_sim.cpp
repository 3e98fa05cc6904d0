#include "sim/ft817_sim.h"

#include <poll.h>

#include <algorithm>

namespace corvid::bench {

namespace {

constexpr uint8_t kAck = 0x00;
constexpr auto kCommandGap = std::chrono::milliseconds(50);
constexpr auto kFaultsFilePeriod = std::chrono::milliseconds(200);

struct ModeCode {
  StationMode mode;
  uint8_t byte;
};
constexpr std::array<ModeCode, 7> kModeCodes = {{
    {StationMode::Lsb, 0x00},
    {StationMode::Usb, 0x01},
    {StationMode::Cw, 0x02},
    {StationMode::Cwr, 0x03},
    {StationMode::Am, 0x04},
    {StationMode::Fm, 0x08},
    {StationMode::Dig, 0x0A},
}};

uint8_t bcd(uint32_t twoDigits) {
  return static_cast<uint8_t>(((twoDigits / 10) << 4) | (twoDigits % 10));
}

// Four BCD bytes of a frequency in 10 Hz units, most significant first.
std::array<uint8_t, 4> frequencyBytes(uint32_t hz) {
  uint32_t tens = hz / 10 % 100'000'000;
  std::array<uint8_t, 4> out{};
  for (int i = 3; i >= 0; --i) {
    out[static_cast<size_t>(i)] = bcd(tens % 100);
    tens /= 100;
  }
  return out;
}

// The frequency of four BCD bytes, or nullopt when one holds a digit above 9.
std::optional<uint32_t> frequencyOf(std::span<const uint8_t> b) {
  uint32_t tens = 0;
  for (size_t i = 0; i < 4; ++i) {
    const uint32_t high = b[i] >> 4;
    const uint32_t low = b[i] & 0x0F;
    if (high > 9 || low > 9) return std::nullopt;
    tens = tens * 100 + high * 10 + low;
  }
  return tens * 10;
}

Ft817Faults merged(const Ft817Faults& a, const Ft817Faults& b) {
  return {a.silent || b.silent, a.badBcd || b.badBcd, a.dropByte || b.dropByte};
}

}  // namespace

uint8_t ft817ModeByte(StationMode mode) {
  for (const ModeCode& code : kModeCodes) {
    if (code.mode == mode) return code.byte;
  }
  return 0x01;
}

std::optional<StationMode> ft817Mode(uint8_t byte) {
  for (const ModeCode& code : kModeCodes) {
    if (code.byte == byte) return code.mode;
  }
  return std::nullopt;
}

std::vector<uint8_t> Ft817Cat::answer(std::span<const uint8_t, 5> command,
                                      const Ft817Faults& faults) {
  ++counters_.commands;
  const uint8_t opcode = command[4];
  std::vector<uint8_t> reply;
  const std::vector<uint8_t> ack = {kAck};
  switch (opcode) {
    case 0x03: {
      ++counters_.frequencyReads;
      const StationState s = station_.get();
      const auto f = frequencyBytes(s.displayFreq());
      reply.assign(f.begin(), f.end());
      reply.push_back(ft817ModeByte(s.displayMode()));
      if (faults.badBcd) reply[1] = static_cast<uint8_t>((reply[1] & 0xF0) | 0x0A);
      if (faults.dropByte) reply.pop_back();
      if (!faults.silent && !faults.badBcd && !faults.dropByte) {
        noteFrequencySent(counters_.frequencies, s.displayFreq());
      }
      break;
    }
    case 0x01:
      if (const auto hz = frequencyOf(command.first(4))) station_.setFrequency(*hz);
      reply = ack;
      break;
    case 0x07:
      if (const auto mode = ft817Mode(command[0])) station_.setMode(*mode);
      reply = ack;
      break;
    case 0x81:
      station_.update([](StationState& s) {
        s.memory = false;
        s.vfoB = !s.vfoB;
      });
      reply = ack;
      break;
    case 0x02:
    case 0x82:
      station_.setSplit(opcode == 0x02);
      reply = ack;
      break;
    case 0x08:
    case 0x88:
      station_.setPtt(opcode == 0x08);
      reply = ack;
      break;
    case 0x00:
    case 0x80:
      // The radio answers a lock command with its state before it.
      reply = {static_cast<uint8_t>(locked_ ? 0xF0 : 0x00)};
      locked_ = opcode == 0x00;
      break;
    case 0x0F:
    case 0x8F:
    case 0x05:
    case 0x85:
    case 0xF5:
    case 0x09:
    case 0xF9:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0xBC:
      reply = ack;
      break;
    case 0xBB: {
      const unsigned address = (static_cast<unsigned>(command[0]) << 8) | command[1];
      const StationState s = station_.get();
      auto eeprom = [&](unsigned a) -> uint8_t {
        if (a == 0x55)
          return static_cast<uint8_t>((s.vfoB ? 0x01 : 0x00) | (s.memory ? 0x02 : 0x00));
        return 0x00;
      };
      reply = {eeprom(address), eeprom(address + 1)};
      break;
    }
    case 0xE7:
      reply = {0x09};  // S9, squelch open
      break;
    case 0xF7: {
      const StationState s = station_.get();
      // Bit 7 clear while keyed, bit 5 clear with split, low nibble the power meter.
      reply = {s.transmitting() ? static_cast<uint8_t>((s.split ? 0x00 : 0x20) | 0x08)
                                : static_cast<uint8_t>(0xFF)};
      break;
    }
    default:
      ++counters_.unknown;
      break;
  }
  if (faults.silent) reply.clear();
  return reply;
}

Ft817Simulator::Ft817Simulator(Ft817Options options)
    : options_(std::move(options)),
      station_(options_.station ? options_.station : std::make_shared<Station>()),
      cat_(*station_),
      lineThread_(options_.root, options_.port) {}

Ft817Simulator::~Ft817Simulator() {
  stop();
}

std::filesystem::path Ft817Simulator::linkPath() const {
  return lineThread_.linkPath();
}

bool Ft817Simulator::start(std::string& error) {
  return lineThread_.start([this] { run(); }, error);
}

void Ft817Simulator::stop() {
  lineThread_.stop();
}

void Ft817Simulator::setFaults(Ft817Faults faults) {
  std::scoped_lock lock(mutex_);
  apiFaults_ = faults;
}

Ft817Faults Ft817Simulator::faults() const {
  std::scoped_lock lock(mutex_);
  return merged(apiFaults_, fileFaults_);
}

Ft817Counters Ft817Simulator::counters() const {
  std::scoped_lock lock(mutex_);
  return cat_.counters();
}

void Ft817Simulator::readFaultsFile() {
  Ft817Faults file;
  for (const std::string& word : faultWords(options_.root, "ft817-")) {
    if (word == "silent") file.silent = true;
    if (word == "bad-bcd") file.badBcd = true;
    if (word == "drop-byte") file.dropByte = true;
  }
  std::scoped_lock lock(mutex_);
  fileFaults_ = file;
}

void Ft817Simulator::takeBytes(std::span<const uint8_t> bytes,
                               std::chrono::steady_clock::time_point now) {
  if (received_ > 0 && now - lastByte_ > kCommandGap) {
    received_ = 0;
    std::scoped_lock lock(mutex_);
    ++cat_.counters().dropped;
  }
  lastByte_ = now;
  for (uint8_t byte : bytes) {
    command_[received_++] = byte;
    if (received_ < command_.size()) continue;
    received_ = 0;
    std::scoped_lock lock(mutex_);
    const std::vector<uint8_t> reply = cat_.answer(command_, merged(apiFaults_, fileFaults_));
    out_.insert(out_.end(), reply.begin(), reply.end());
  }
}

void Ft817Simulator::run() {
  auto nextFaultsCheck = std::chrono::steady_clock::now();
  std::array<uint8_t, 256> buffer{};
  while (!lineThread_.stopRequested()) {
    const auto now = std::chrono::steady_clock::now();
    if (options_.watchFaultsFile && now >= nextFaultsCheck) {
      readFaultsFile();
      nextFaultsCheck = now + kFaultsFilePeriod;
    }
    const short events = waitLine(lineThread_.line(), lineThread_.waker(), 20, !out_.empty());
    if (lineThread_.stopRequested()) break;
    if ((events & POLLIN) != 0) {
      const long n = lineThread_.line().read(buffer);
      if (n > 0)
        takeBytes(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)),
                  std::chrono::steady_clock::now());
    }
    if (!out_.empty()) {
      const long n = lineThread_.line().write(out_);
      if (n > 0) out_.erase(out_.begin(), out_.begin() + n);
    }
  }
}

}  // namespace corvid::bench
