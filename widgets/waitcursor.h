// Wait cursor for the length of a scope.
#pragma once

// Shows the busy cursor from construction to destruction; guards nest.
class WaitCursor {
  public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};
