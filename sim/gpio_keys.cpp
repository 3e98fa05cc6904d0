#include "sim/gpio_keys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/bench_root.h"

namespace corvid::bench {

namespace {
constexpr int kFirstKeyBit = 22;
}  // namespace

GpioKeys::GpioKeys(const std::filesystem::path& block) {
  const int fd = ::open(block.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error_ = "cannot open " + block.string() + ": " + std::strerror(errno);
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size < static_cast<off_t>(kGpioBlockBytes)) {
    error_ = block.string() + " is not a GPIO block file of " + std::to_string(kGpioBlockBytes) +
             " bytes";
    ::close(fd);
    return;
  }
  void* base = ::mmap(nullptr, kGpioBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (base == MAP_FAILED) {
    error_ = "cannot map " + block.string() + ": " + std::strerror(errno);
    return;
  }
  base_ = base;
}

GpioKeys::~GpioKeys() {
  if (base_ != nullptr) ::munmap(base_, kGpioBlockBytes);
}

uint32_t* GpioKeys::word() const {
  // The mapping is page aligned and the level word at a multiple of 4 within it.
  return static_cast<uint32_t*>(base_) + kGpioLevelOffset / sizeof(uint32_t);
}

bool GpioKeys::set(int key, bool down) {
  if (base_ == nullptr || key < 1 || key > 6) return false;
  std::scoped_lock lock(mutex_);
  std::atomic_ref<uint32_t> level(*word());
  const uint32_t bit = 1u << (kFirstKeyBit + key - 1);
  const uint32_t now = level.load();
  level.store(down ? (now & ~bit) : (now | bit));
  return true;
}

bool GpioKeys::down(int key) const {
  if (base_ == nullptr || key < 1 || key > 6) return false;
  return (levels() & (1u << (kFirstKeyBit + key - 1))) == 0;
}

void GpioKeys::releaseAll() {
  if (base_ == nullptr) return;
  std::scoped_lock lock(mutex_);
  std::atomic_ref<uint32_t> level(*word());
  level.store(level.load() | kKeysReleased);
}

uint32_t GpioKeys::levels() const {
  if (base_ == nullptr) return 0;
  return std::atomic_ref<uint32_t>(*word()).load();
}

std::optional<KeyAction> parseKeyAction(std::string_view word) {
  if (word == "short") return KeyAction::Short;
  if (word == "long") return KeyAction::Long;
  if (word == "down") return KeyAction::Down;
  if (word == "up") return KeyAction::Up;
  if (word == "hold") return KeyAction::Hold;
  return std::nullopt;
}

std::vector<KeyStep> keySteps(int key, KeyAction action, std::chrono::milliseconds longPress,
                              std::chrono::milliseconds hold) {
  switch (action) {
    case KeyAction::Short:
      return {{key, true, kShortHold}, {key, false, kReleasedGap}};
    case KeyAction::Long:
      return {{key, true, longPress + kLongPressMargin}, {key, false, kReleasedGap}};
    case KeyAction::Down:
      return {{key, true, std::chrono::milliseconds(0)}};
    case KeyAction::Up:
      return {{key, false, kReleasedGap}};
    case KeyAction::Hold:
      return {{key, true, std::clamp(hold, std::chrono::milliseconds(0), kLongestHold)},
              {key, false, kReleasedGap}};
  }
  return {};
}

void runKeySteps(GpioKeys& keys, const std::vector<KeyStep>& steps) {
  for (const KeyStep& step : steps) {
    keys.set(step.key, step.down);
    std::this_thread::sleep_for(step.pause);
  }
}

}  // namespace corvid::bench
