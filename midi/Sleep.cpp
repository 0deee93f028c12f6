#include <chrono>
#include <thread>

#include "midi/MidiApi.h"

void Sleep(DWORD dwMilliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
