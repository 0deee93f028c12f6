// The MIDI wire: 31,250 baud, 10 bits a byte, so 320 µs a byte and 3,125
// bytes a second. Output to a hardware port goes no faster.
#pragma once

#include <chrono>
#include <cstddef>

namespace midi {

constexpr int kWireBytesPerSecond = 3125;
constexpr std::chrono::microseconds kWireByteTime{1000000 / kWireBytesPerSecond};

// How long `bytes` take on the wire.
constexpr std::chrono::microseconds wireTime(std::size_t bytes) {
    return kWireByteTime * static_cast<long long>(bytes);
}

}  // namespace midi
