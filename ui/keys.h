// The front-panel keys' meaning: one event (key 1..6, short or long) changes the panel
// state, edits values, queues amplifier commands, starts tuning and writes tables.
#pragma once

#include <cstdint>

namespace corvid {

struct Works;

// The steps of the receive filter editor, Hz.
inline constexpr int32_t StepFilterVal[4] = {10000, 100000, 1000000, 10000000};

// key 1..6; heldMask 0 for a short press, else the held keys (bit key-1 set). A nonzero
// result asks for the key to repeat. Runs in the GPIO thread.
int DecodeTasto(Works& works, int key, int heldMask);
// Closes the status page: 1 if it was open.
int EscFromStatus(Works& works);
// Changes the selected cell of the memory table (tableRow, tableColumn); down 1 or 0.
void ModifytabAntenna(Works& works, int down);
// Waits for a menu action running in the background to end (tests, shutdown with
// wait false: only joins it if it has ended). True when none runs any more.
bool finishServiceTask(Works& works, bool wait);

// The amplifier counts as locked (band and antenna may not change).
bool amplifierLocked(const Works& works);

}  // namespace corvid
