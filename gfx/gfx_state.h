// Fields of the shared record owned by the framebuffer and text drawing: the frame
// buffer record with its three images. The drawing primitives are in gfx/framebuffer.h.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>

#include "platform/framebuffer.h"

namespace corvid {

struct FrameBuffer {
  uint32_t width = 0;               // xres
  uint32_t height = 0;              // yres
  uint32_t size = 0;                // bytes of one whole image
  uint32_t lineLength = 0;          // xres x bytesPerPixel (the driver's own is not asked for)
  uint32_t bytesPerPixel = 0;       // 1, 2, 3 or 4
  std::span<uint8_t> screen;        // the visible memory: the device mapping
  std::unique_ptr<uint8_t[]> back;  // the frame being composed
  std::unique_ptr<uint8_t[]> background;  // the static picture of the current screen
  std::mutex frameLock;                   // held by every call that touches the images

  platform::FramebufferDevice device;    // owns the mapping behind screen
  std::unique_ptr<uint8_t[]> ownScreen;  // the visible memory of an in-memory record

  std::span<uint8_t> backBytes() const { return {back.get(), size}; }
  std::span<uint8_t> backgroundBytes() const { return {background.get(), size}; }
};

struct GfxState {
  // Made once by fbInit before any thread starts and kept for the life of the process;
  // empty when the display could not be opened (every drawing call then does nothing).
  std::unique_ptr<FrameBuffer> fb;
};

}  // namespace corvid
