// Port counts and capability records. A count is an enumeration: the device
// IDs name the ports it found until the next count of that direction.
#include <cstring>
#include <string>

#include "midi/DeviceSpace.h"

namespace midi {

namespace {

constexpr std::uint16_t kUnmappedId = 0xFFFF;  // no registered maker or product
constexpr std::uint32_t kDriverVersion = 0x0100;
constexpr std::uint16_t kTechPort = 1;    // a MIDI port
constexpr std::uint16_t kTechMapper = 5;  // the mapper

template <class Caps>
void fill(Caps& caps, const std::string& name) {
    caps = Caps{};
    caps.wMid = kUnmappedId;
    caps.wPid = kUnmappedId;
    caps.vDriverVersion = kDriverVersion;
    std::strncpy(caps.szPname, name.c_str(), MAXPNAMELEN - 1);  // shown names fit
}

template <class Caps>
MMRESULT portCaps(Direction direction, std::uintptr_t id, Caps& caps) {
    ListedPort port;
    if (MMRESULT r = listedPort(direction, id, port)) return r;
    if (port.info.infoResult != MMSYSERR_NOERROR) return port.info.infoResult;
    fill(caps, port.shownName);
    return MMSYSERR_NOERROR;
}

}  // namespace

}  // namespace midi

using namespace midi;

UINT midiInGetNumDevs() { return static_cast<UINT>(enumerate(Direction::Input)); }
UINT midiOutGetNumDevs() { return static_cast<UINT>(enumerate(Direction::Output)); }

MMRESULT midiInGetDevCapsA(std::uintptr_t uDeviceID, MIDIINCAPSA* pmic, UINT cbmic) {
    if (!pmic || cbmic < sizeof(MIDIINCAPSA)) return MMSYSERR_INVALPARAM;
    if (isMapper(uDeviceID)) return MMSYSERR_BADDEVICEID;  // there is no input mapper
    MIDIINCAPSA caps;
    if (MMRESULT r = portCaps(Direction::Input, uDeviceID, caps)) return r;
    *pmic = caps;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutGetDevCapsA(std::uintptr_t uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc) {
    if (!pmoc || cbmoc < sizeof(MIDIOUTCAPSA)) return MMSYSERR_INVALPARAM;
    MIDIOUTCAPSA caps{};
    if (isMapper(uDeviceID)) {
        ListedPort first;
        if (listedPort(Direction::Output, 0, first) != MMSYSERR_NOERROR) return MIDIERR_NODEVICE;
        fill(caps, "MIDI Mapper");
        caps.wTechnology = kTechMapper;
    } else {
        if (MMRESULT r = portCaps(Direction::Output, uDeviceID, caps)) return r;
        caps.wTechnology = kTechPort;
    }
    caps.wChannelMask = 0xFFFF;
    *pmoc = caps;
    return MMSYSERR_NOERROR;
}
