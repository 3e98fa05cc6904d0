// Fields of the shared record owned by the framebuffer and text drawing.
#pragma once

namespace corvid {

struct GfxState {};

}  // namespace corvid
