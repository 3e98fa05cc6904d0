// The GPIO thread: the panel keys, the power controller link and two status lines.
#pragma once

namespace corvid {

struct Works;

void GPIO(Works& works);

}  // namespace corvid
