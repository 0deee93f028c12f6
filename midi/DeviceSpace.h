// One device-ID space per direction over the installed transports' ports.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/Transport.h"

namespace midi {

enum class Direction { Input, Output };

struct PortRef {
    Transport* transport = nullptr;
    std::size_t index = 0;
};

std::size_t portCount(Direction direction);
// MMSYSERR_BADDEVICEID when no port has that ID.
MMRESULT findPort(Direction direction, std::uintptr_t id, PortRef& port);

// A port is opened once at a time by this program: false when already open.
bool claimPort(Direction direction, const PortRef& port);
void releasePort(Direction direction, const PortRef& port);

// True for MIDI_MAPPER, however wide the integer it came in.
inline bool isMapper(std::uintptr_t id) {
    return id == MIDI_MAPPER || id == static_cast<std::uintptr_t>(-1);
}

}  // namespace midi
