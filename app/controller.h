// The spine of the controller: start-up in its fixed order, the wait on running, and
// the shutdown.
#pragma once

namespace corvid {

struct Works;

// Runs the controller until running falls to 0; returns 0 after the last join.
int runController(Works& works);

}  // namespace corvid
