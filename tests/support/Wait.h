// Waiting for what another thread or process brings about.
#pragma once

#include <chrono>
#include <thread>

namespace zuxtest {

// Checks `condition` every millisecond; false once `limit` has passed.
// The limits are generous: this never checks how fast anything is.
template <class Condition>
bool waitFor(Condition&& condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace zuxtest
