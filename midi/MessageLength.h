// The lengths of MIDI messages, for everything that cuts or parses a byte
// stream: the input parser, the JACK event splitter, the ALSA byte router.
#pragma once

#include <cstdint>

namespace midi {

// Data bytes that follow `status` in its message. -1 where the byte starts
// no message of fixed length: a data byte, F0 (a SysEx runs to F7), F7, and
// the undefined F4 and F5. Real-time bytes (F8 to FF) stand alone.
constexpr int dataBytesFor(std::uint8_t status) {
    if (status < 0x80) return -1;
    switch (status & 0xF0) {
    case 0xC0: case 0xD0: return 1;  // program change, channel pressure
    case 0xF0: break;
    default: return 2;               // notes, key pressure, control change, pitch bend
    }
    switch (status) {
    case 0xF1: case 0xF3: return 1;  // time code quarter frame, song select
    case 0xF2: return 2;             // song position
    case 0xF6: return 0;             // tune request
    default: return status >= 0xF8 ? 0 : -1;
    }
}

constexpr bool isRealTime(std::uint8_t b) { return b >= 0xF8; }

}  // namespace midi
