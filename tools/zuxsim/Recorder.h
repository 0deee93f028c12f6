// Where the bytes arriving at the simulator's "in" port go: the file named
// by --receive-to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zuxsim {

class Recorder {
public:
    // file may be null (nothing is kept).
    explicit Recorder(std::FILE* file) : file_(file) {}

    // One event's bytes, appended and flushed.
    void take(const std::uint8_t* data, std::size_t size);
    // The MIDI system dropped bytes before they reached us.
    void lost();

private:
    std::FILE* file_;
};

}  // namespace zuxsim
