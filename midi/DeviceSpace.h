// One device-ID space per direction over the installed transports' ports.
// An enumeration lists the ports afresh and binds IDs 0..n-1 to them; an ID
// names that port, and no other, until the next enumeration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/Transport.h"

namespace midi {

struct ListedPort {
    Transport* transport = nullptr;
    PortInfo info;
    std::string shownName;  // at most 31 bytes, for the capability record
};

// Lists the ports of every installed transport: the count of device IDs.
std::size_t enumerate(Direction direction);
// The port `id` names in the last enumeration (made now if none was).
// MMSYSERR_BADDEVICEID when there is no such ID.
MMRESULT listedPort(Direction direction, std::uintptr_t id, ListedPort& port);

// A port is opened once at a time by this program. A claim holds the port
// until it is destroyed; it is empty when the port was already claimed.
class PortClaim {
public:
    PortClaim() = default;
    PortClaim(Direction direction, const ListedPort& port);
    ~PortClaim();
    PortClaim(PortClaim&& other) noexcept;
    PortClaim& operator=(PortClaim&& other) noexcept;
    explicit operator bool() const { return transport_ != nullptr; }

private:
    void release();
    Direction direction_ = Direction::Input;
    Transport* transport_ = nullptr;
    std::string id_;
};

// True for MIDI_MAPPER, however wide the integer it came in.
inline bool isMapper(std::uintptr_t id) {
    return id == MIDI_MAPPER || id == static_cast<std::uintptr_t>(-1);
}

// The system's words for the last failed open on this thread.
void setSystemReason(std::string reason);

}  // namespace midi
