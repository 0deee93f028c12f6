// Where the bytes arriving at the simulator's "in" port go: the file named
// by --receive-to, at the speed --slow-reader allows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace zuxsim {

class Recorder {
public:
    // file may be null (nothing is kept); lagMs is the wait after each event.
    Recorder(std::FILE* file, int lagMs) : file_(file), lag_(lagMs) {}

    // One event's bytes, appended and flushed; then the reader lags, if told to.
    void take(const std::uint8_t* data, std::size_t size);
    // The MIDI system dropped bytes before they reached us.
    void lost();
    // Cuts the current lag short and skips later ones, so a reader stops soon.
    void stop();

private:
    std::FILE* file_;
    std::chrono::milliseconds lag_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
};

}  // namespace zuxsim
