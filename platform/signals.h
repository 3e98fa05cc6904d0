// The signals of the process. The controller ignores every signal from 1 to 30 (a stray
// hang-up or alarm must not end it), except those that keep their default action:
// SIGINT and SIGTERM (stop it), SIGCHLD and SIGIO, and the signals of a fault in the
// program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT). A handler
// that returns from one of those would run the failing instruction again for ever; left
// alone, a crash ends the process and the unit can be restarted.
#pragma once

namespace corvid::platform {

// True for the signals whose default action is kept.
bool keepsDefaultAction(int signal);

// Installs a handler that does nothing for every other signal from 1 to 30 (those that
// cannot be caught are skipped).
void ignoreStraySignals();

}  // namespace corvid::platform
