#pragma once

#include <functional>

// Makes SIGTERM (logout, kill), SIGINT (Ctrl+C in a terminal) and SIGHUP (the
// terminal went away) call onSignal from the event loop, so that the program
// ends by its normal path: the window closes as the Close action does, the
// headless recorder stops and exports. A second signal while that is under
// way ends the process at once. Call once, after the application object
// exists; does nothing where there are no POSIX signals.
void onTerminationSignals(std::function<void()> onSignal);
// Whether one of these signals has come: the program is then ending because
// the session or the user's shell ends, and nothing may ask a question.
bool terminationSignalReceived();
