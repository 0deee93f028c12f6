// MIDI bytes as the tests write them, and the dumps they send.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zuxtest {

using Bytes = std::vector<std::uint8_t>;

// One SysEx of `size` bytes, F0 and F7 included, in the manufacturer ID
// range for non-commercial use: F0 7D 10 <fourth> and then 7-bit bytes that
// `seed` chooses. A fourth byte of 7E marks a dump complete in one message.
inline Bytes sysex(std::size_t size, unsigned seed = 1, std::uint8_t fourth = 0x7E) {
    Bytes bytes(size);
    unsigned x = seed;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>((x >> 16) & 0x7F);
    }
    const std::uint8_t head[] = {0xF0, 0x7D, 0x10, fourth};
    for (std::size_t i = 0; i < 4 && i < size; ++i) bytes[i] = head[i];
    if (size > 0) bytes[size - 1] = 0xF7;
    return bytes;
}

inline Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace zuxtest
