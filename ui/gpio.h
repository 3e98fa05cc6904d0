// The GPIO thread: the panel keys, the power controller link and two status lines.
#pragma once

#include "ui/panel_keys.h"

namespace corvid {

struct Works;

// The thread body: key events go to the log and to the key decoder.
void GPIO(Works& works);
// The same loop with key events going to handler.
void runGpio(Works& works, KeyHandler handler);

}  // namespace corvid
