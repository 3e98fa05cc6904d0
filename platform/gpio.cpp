#include "platform/gpio.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/root.h"

namespace corvid::platform {

namespace {
constexpr off_t kGpioPhysical = 0x3F200000;
constexpr uint32_t kClockPin = 1u << 6;
constexpr uint32_t kDataPin = 1u << 4;

void wait200us() { std::this_thread::sleep_for(std::chrono::microseconds(200)); }

// Appends one line to the bench's power-controller log (the model only).
void recordCommand(uint8_t command, uint8_t reply) {
  const std::string path = hostPath("/var/log/power-controller.log");
  if (FILE* f = std::fopen(path.c_str(), "a")) {
    std::fprintf(f, "%02X %02X\n", command, reply);
    std::fclose(f);
  }
}
}  // namespace

std::unique_ptr<GpioBlock> GpioBlock::map(Error* error, int* mapResult) {
  *error = Error::None;
  const std::string path = hostPath("/dev/mem");
  const int fd = ::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
  if (fd < 0) {
    *error = Error::Open;
    return nullptr;
  }
  struct stat st {};
  const bool isFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (isFile && st.st_size < static_cast<off_t>(kGpioBlockSize)) {
    ::close(fd);
    *error = Error::Map;
    *mapResult = -1;
    return nullptr;
  }
  void* base = ::mmap(nullptr, kGpioBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      isFile ? 0 : kGpioPhysical);
  ::close(fd);
  if (base == MAP_FAILED) {
    *error = Error::Map;
    *mapResult = -1;
    return nullptr;
  }
  return std::unique_ptr<GpioBlock>(new GpioBlock(base, isFile));
}

GpioBlock::~GpioBlock() { ::munmap(base_, kGpioBlockSize); }

// The registers are memory another party changes (the hardware, or the bench through
// the file): every access is one whole-word atomic load or store.
uint32_t GpioBlock::read(uint32_t offset) const {
  return __atomic_load_n(base_ + offset / 4, __ATOMIC_SEQ_CST);
}

void GpioBlock::write(uint32_t offset, uint32_t value) {
  __atomic_store_n(base_ + offset / 4, value, __ATOMIC_SEQ_CST);
}

uint8_t GpioBlock::modelReply(uint8_t command) {
  switch (command) {
    case 0xB0:
    case 0xD0: return 9;     // firmware version
    case 0xD1: return 0xB4;  // 12 V supply reading
    case 0xD2: return 0xC8;  // 15 V supply reading
    case 0xD3: return 0xAE;  // amplifier supply reading: about 26 V on the 60 W model
    case 0x95: status_ = static_cast<uint8_t>(status_ | 0x01); return status_;
    case 0xA5: status_ = static_cast<uint8_t>(status_ & ~0x01); return status_;
    default: return status_;
  }
}

uint8_t GpioBlock::exchange(uint8_t command,
                            const std::function<void(uint32_t pin, bool level)>& setLine) {
  if (virtual_) {
    // An exchange takes 51 steps of 200 µs on the wire; the model takes as long.
    std::this_thread::sleep_for(std::chrono::microseconds(51 * 200));
    const uint8_t reply = modelReply(command);
    recordCommand(command, reply);
    return reply;
  }
  const auto& drive = setLine;
  for (int bit = 7; bit >= 0; --bit) {
    drive(kClockPin, true);
    wait200us();
    drive(kDataPin, ((command >> bit) & 1) != 0);
    wait200us();
    drive(kClockPin, false);
    wait200us();
  }
  // Data line turned to input (function bits of pin 4 cleared), both lines high.
  write(kGpioFsel0, read(kGpioFsel0) & ~(7u << 12));
  drive(kClockPin, true);
  drive(kDataPin, true);
  for (int i = 0; i < 3; ++i) wait200us();
  uint32_t reply = 0;
  for (int pulse = 0; pulse < 12; ++pulse) {
    drive(kClockPin, false);
    wait200us();
    reply = (reply << 1) | ((read(kGpioLevel) >> 4) & 1u);
    drive(kClockPin, true);
    wait200us();
  }
  write(kGpioFsel0, (read(kGpioFsel0) & ~(7u << 12)) | (1u << 12));
  return static_cast<uint8_t>(reply & 0xFF);
}

}  // namespace corvid::platform
