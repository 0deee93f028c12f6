// Waiting on the user-interface thread without looking hung: the window keeps
// repainting, takes no input and shows a busy cursor.
#pragma once

#include <chrono>
#include <functional>

class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Returns true as soon as `done` holds, false once `limit` has passed without it.
bool WaitResponsively(std::chrono::milliseconds limit, const std::function<bool()>& done);

// Pauses for `duration`, handling every event but user input meanwhile.
void PauseResponsively(std::chrono::milliseconds duration);
