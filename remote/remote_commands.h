// The remote client's command words ("ST" messages): the next memory bank, the spectrum's
// source and width, a reboot, the antenna, the attenuator, an error reset and the tuner.
#pragma once

#include <string_view>

namespace corvid {

struct Works;

// Acts on one command text at once, in the caller's thread. Unknown words are ignored.
void dispStat(Works& works, std::string_view command);

}  // namespace corvid
