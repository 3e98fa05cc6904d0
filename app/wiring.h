// The one place where the subsystems are joined: the thread bodies of the thread set and
// every hook by which a lower layer calls a higher one.
#pragma once

namespace corvid {

struct Works;

// Fills every hook of works with the function of the layer above that serves it.
void wireHooks(Works& works);

// Gives the thread set the body of every thread this program has.
void wireThreads(Works& works);

// Both.
void wireSubsystems(Works& works);

}  // namespace corvid
