#include "ui/gpio.h"

#include "ui/keys.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/works.h"
#include "platform/gpio.h"
#include "platform/log.h"
#include "ui/panel_keys.h"

namespace corvid {

using platform::GpioBlock;
using platform::logError;
using platform::logInfo;

namespace {

constexpr int kDataPin = 4;
constexpr int kClockPin = 6;
constexpr int kUpdatePin = 13;
constexpr int kAlivePin = 16;
constexpr int kFirstKeyPin = 22;

void makeInput(GpioBlock& gpio, int pin) {
  const uint32_t reg = static_cast<uint32_t>(pin / 10) * 4;
  const int shift = (pin % 10) * 3;
  gpio.write(reg, gpio.read(reg) & ~(7u << shift));
}

void makeOutput(GpioBlock& gpio, int pin) {
  makeInput(gpio, pin);
  const uint32_t reg = static_cast<uint32_t>(pin / 10) * 4;
  const int shift = (pin % 10) * 3;
  gpio.write(reg, gpio.read(reg) | (1u << shift));
}

// The pins to drive high and low; both registers are written on every change.
struct Lines {
  GpioBlock& gpio;
  uint32_t high = 1u << kUpdatePin;
  uint32_t low = 0;
  void set(uint32_t pins, bool level) {
    if (level) {
      high |= pins;
      low &= ~pins;
    } else {
      low |= pins;
      high &= ~pins;
    }
    gpio.write(platform::kGpioSet, high);
    gpio.write(platform::kGpioClear, low);
  }
};

double seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

namespace {

// Every event goes to the log, then to the key decoder.
int decodeLogged(Works& works, int key, int heldMask) {
  logKeyEvent(works, key, heldMask);
  return DecodeTasto(works, key, heldMask);
}

}  // namespace

void GPIO(Works& works) {
  runGpio(works, &decodeLogged);
}

void runGpio(Works& works, KeyHandler handler) {
  logInfo("GPIO operations start\n");
  GpioBlock::Error error;
  int mapResult = 0;
  std::unique_ptr<GpioBlock> gpio = GpioBlock::map(&error, &mapResult);
  if (error == GpioBlock::Error::Open) {
    logError("can't open /dev/mem");
    std::exit(8);
  }
  if (error == GpioBlock::Error::Map) {
    logError("mmap error %d\n", mapResult);
    std::exit(-1);
  }
  for (int pin : {kDataPin, kClockPin, kAlivePin}) makeOutput(*gpio, pin);
  gpio->write(platform::kGpioSet, 1u << kUpdatePin);
  gpio->write(platform::kGpioClear, 0);
  makeOutput(*gpio, kUpdatePin);
  for (int pin = kFirstKeyPin; pin < kFirstKeyPin + 6; ++pin) makeInput(*gpio, pin);
  gpio->write(platform::kGpioPull, 2);
  gpio->write(platform::kGpioPullClock, 0x0FC00000);
  gpio->write(platform::kGpioPull, 0);
  gpio->write(platform::kGpioPullClock, 0);
  logInfo("GPIO loop start\n");

  Lines lines{*gpio};
  PanelKeys keys(handler);
  PowerLinkSchedule schedule;
  while (works.core.running.load() != 0) {
    lines.set(1u << kAlivePin, true);
    lines.set(1u << kUpdatePin, (works.ui.serviceFlags.load() & kServiceFirmwareUpdate) == 0);
    const uint8_t command = schedule.next(works);
    if (command != kTinyIdle) {
      const uint8_t reply =
          gpio->exchange(command, [&](uint32_t pin, bool level) { lines.set(pin, level); });
      schedule.done(works, command, reply);
    }
    const unsigned levels = (gpio->read(platform::kGpioLevel) >> kFirstKeyPin) & 0x3Fu;
    keys.pass(works, levels, seconds());
    std::this_thread::sleep_for(std::chrono::microseconds(2000));
  }
  logInfo("GPIO operations end\n");
}

}  // namespace corvid
