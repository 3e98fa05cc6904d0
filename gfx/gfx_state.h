// Fields of the shared record owned by the framebuffer and text drawing.
#pragma once

#include <memory>

#include "gfx/framebuffer.h"

namespace corvid {

struct GfxState {
  // Made once by fbInit before any thread starts and kept for the life of the process;
  // empty when the display could not be opened (every drawing call then does nothing).
  std::unique_ptr<FrameBuffer> fb;
};

}  // namespace corvid
