// The framebuffer device: opened, asked for its geometry, reset to offset 0 and mapped
// shared. On the unit it is the character device /dev/fb0; on the bench DIR/dev/fb0 is a
// regular file, which stands for an 800 x 480 display of 32 bits per pixel and is mapped
// shared so that another process sees every frame shown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/fd.h"

namespace corvid::platform {

struct ScreenMode {
  uint32_t xres = 0;
  uint32_t yres = 0;
  uint32_t bitsPerPixel = 0;
};

// Geometry of a regular file standing in for the device.
inline constexpr ScreenMode kVirtualScreen{800, 480, 32};

class FramebufferDevice {
 public:
  // Opens the path (under the root) for reading and writing.
  static Result<FramebufferDevice> openDevice(std::string_view path);

  FramebufferDevice() = default;
  FramebufferDevice(FramebufferDevice&& other) noexcept;
  FramebufferDevice& operator=(FramebufferDevice&& other) noexcept;
  FramebufferDevice(const FramebufferDevice&) = delete;
  FramebufferDevice& operator=(const FramebufferDevice&) = delete;
  ~FramebufferDevice();

  bool isVirtual() const { return virtual_; }
  // FBIOGET_VSCREENINFO on a device; kVirtualScreen on a regular file.
  Result<ScreenMode> readMode();
  // Sets the x and y offsets to 0 and writes the information back (FBIOPUT_VSCREENINFO),
  // so the visible area starts at the beginning of the device memory. Nothing to do on a
  // regular file. 0 or errno.
  int resetOffsets();
  // Maps the first bytes of the device shared, read and write. A regular file shorter
  // than that is refused (ENXIO): touching a page past its end would kill the process.
  // 0 or errno.
  int map(size_t bytes);
  std::span<uint8_t> memory() const { return {mapping_, mapped_}; }

 private:
  FramebufferDevice(Fd fd, bool isVirtual) : fd_(std::move(fd)), virtual_(isVirtual) {}
  void unmap();

  Fd fd_;
  bool virtual_ = false;
  uint8_t* mapping_ = nullptr;
  size_t mapped_ = 0;
};

}  // namespace corvid::platform
