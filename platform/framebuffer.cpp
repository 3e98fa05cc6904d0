#include "platform/framebuffer.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/root.h"

namespace corvid::platform {

Result<FramebufferDevice> FramebufferDevice::openDevice(std::string_view path) {
  const std::string device = hostPath(path);
  Fd fd(::open(device.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) return Result<FramebufferDevice>::failure(errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Result<FramebufferDevice>::failure(errno);
  return FramebufferDevice(std::move(fd), S_ISREG(info.st_mode));
}

FramebufferDevice::FramebufferDevice(FramebufferDevice&& other) noexcept
    : fd_(std::move(other.fd_)),
      virtual_(other.virtual_),
      mapping_(std::exchange(other.mapping_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)) {}

FramebufferDevice& FramebufferDevice::operator=(FramebufferDevice&& other) noexcept {
  if (this != &other) {
    unmap();
    fd_ = std::move(other.fd_);
    virtual_ = other.virtual_;
    mapping_ = std::exchange(other.mapping_, nullptr);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

FramebufferDevice::~FramebufferDevice() { unmap(); }

void FramebufferDevice::unmap() {
  if (mapping_ != nullptr) ::munmap(mapping_, mapped_);
  mapping_ = nullptr;
  mapped_ = 0;
}

Result<ScreenMode> FramebufferDevice::readMode() {
  if (!fd_.valid()) return Result<ScreenMode>::failure(EBADF);
  if (virtual_) return kVirtualScreen;
  fb_var_screeninfo var{};
  if (::ioctl(fd_.get(), FBIOGET_VSCREENINFO, &var) != 0) {
    return Result<ScreenMode>::failure(errno);
  }
  return ScreenMode{var.xres, var.yres, var.bits_per_pixel};
}

int FramebufferDevice::resetOffsets() {
  if (!fd_.valid()) return EBADF;
  if (virtual_) return 0;
  fb_var_screeninfo var{};
  if (::ioctl(fd_.get(), FBIOGET_VSCREENINFO, &var) != 0) return errno;
  var.xoffset = 0;
  var.yoffset = 0;
  if (::ioctl(fd_.get(), FBIOPUT_VSCREENINFO, &var) != 0) return errno;
  return 0;
}

int FramebufferDevice::map(size_t bytes) {
  if (!fd_.valid()) return EBADF;
  if (bytes == 0) return EINVAL;
  if (virtual_) {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) return errno;
    if (info.st_size < 0 || static_cast<size_t>(info.st_size) < bytes) return ENXIO;
  }
  unmap();
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(), 0);
  if (p == MAP_FAILED) return errno;
  mapping_ = static_cast<uint8_t*>(p);
  mapped_ = bytes;
  return 0;
}

}  // namespace corvid::platform
