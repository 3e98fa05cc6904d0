// The GPIO register block of the board's SoC, and the power controller behind two of
// its pins. On the unit the block is /dev/mem mapped at 0x3F200000 and the controller is
// clocked bit by bit; on the bench DIR/dev/mem is a regular file whose first 4096 bytes
// stand for the block (the bench presses keys by clearing bits of the level word), and
// the controller is modelled here, since no separate process can follow a 200 µs clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/fd.h"

namespace corvid::platform {

// Register offsets (bytes) of the GPIO block.
inline constexpr uint32_t kGpioFsel0 = 0x00;
inline constexpr uint32_t kGpioSet = 0x1C;
inline constexpr uint32_t kGpioClear = 0x28;
inline constexpr uint32_t kGpioLevel = 0x34;
inline constexpr uint32_t kGpioPull = 0x94;
inline constexpr uint32_t kGpioPullClock = 0x98;
inline constexpr uint32_t kGpioBlockSize = 4096;

class GpioBlock {
 public:
  enum class Error { None, Open, Map };
  // Opens /dev/mem (under the root) and maps the block.
  static std::unique_ptr<GpioBlock> map(Error* error, int* mapResult);
  ~GpioBlock();
  GpioBlock(const GpioBlock&) = delete;
  GpioBlock& operator=(const GpioBlock&) = delete;

  uint32_t read(uint32_t offset) const;
  void write(uint32_t offset, uint32_t value);
  // A regular file stands for the block: the bench.
  bool isVirtual() const { return virtual_; }

  // One command byte to the power controller and its reply. On the unit: clocked out on
  // pin 6 (clock) and pin 4 (data) with 200 µs steps through the given register writer;
  // on the bench: answered by the model.
  // setLine(pinMask, level) drives one output line through the caller's masks.
  uint8_t exchange(uint8_t command, const std::function<void(uint32_t pin, bool level)>& setLine);

 private:
  GpioBlock(void* base, bool isVirtual) : base_(static_cast<uint32_t*>(base)), virtual_(isVirtual) {}
  uint8_t modelReply(uint8_t command);
  uint32_t* base_;
  bool virtual_;
  // Model of the bench's power controller.
  uint8_t status_ = 0x02;
};

}  // namespace corvid::platform
