// The window side of the start-up: what the start-up checks decided, shown to the user.
#pragma once

struct StartupResult;

// Shows the start-up message, if any (title "ERROR !", OK button, no owner). Returns the exit
// code the process must end with, or -1 when the main window is to be run.
int ShowStartupOutcome(const StartupResult& result);
