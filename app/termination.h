#pragma once

// Makes SIGTERM (logout, kill), SIGINT (Ctrl+C in a terminal) and SIGHUP (the
// terminal went away) close every window by its normal path, so the meter link
// is closed and options.xml written before the program ends with status 0. A
// second signal while that is under way ends the process at once. Call once,
// after the application object exists; does nothing where there are no POSIX
// signals.
void closeWindowsOnTerminationSignals();
// Whether one of these signals has come: the windows are then closing because
// the session or the user's shell ends, and nothing may ask a question.
bool terminationSignalReceived();
