// Port counts and capability records.
#include <algorithm>
#include <cstring>
#include <string>

#include "midi/DeviceSpace.h"

namespace midi {

namespace {

constexpr std::uint16_t kUnmappedId = 0xFFFF;  // no registered maker or product
constexpr std::uint32_t kDriverVersion = 0x0100;
constexpr std::uint16_t kTechPort = 1;    // a MIDI port
constexpr std::uint16_t kTechMapper = 5;  // the mapper

// At most 31 bytes and the NUL; never ends inside a UTF-8 sequence, which
// would show as a broken character.
void copyName(const std::string& name, char (&out)[MAXPNAMELEN]) {
    std::size_t n = std::min<std::size_t>(name.size(), MAXPNAMELEN - 1);
    if (n < name.size()) {
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(out, name.data(), n);
    std::memset(out + n, 0, MAXPNAMELEN - n);
}

template <class Caps>
MMRESULT portCaps(Direction direction, std::uintptr_t id, Caps& caps) {
    PortRef port;
    if (MMRESULT r = findPort(direction, id, port)) return r;
    PortInfo info;
    MMRESULT r = direction == Direction::Input ? port.transport->inputInfo(port.index, info)
                                               : port.transport->outputInfo(port.index, info);
    if (r != MMSYSERR_NOERROR) return r;
    caps = Caps{};
    caps.wMid = kUnmappedId;
    caps.wPid = kUnmappedId;
    caps.vDriverVersion = kDriverVersion;
    copyName(info.name, caps.szPname);
    return MMSYSERR_NOERROR;
}

}  // namespace

}  // namespace midi

using namespace midi;

UINT midiInGetNumDevs() { return static_cast<UINT>(portCount(Direction::Input)); }
UINT midiOutGetNumDevs() { return static_cast<UINT>(portCount(Direction::Output)); }

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
        if (portCount(Direction::Output) == 0) return MIDIERR_NODEVICE;
        caps.wMid = kUnmappedId;
        caps.wPid = kUnmappedId;
        caps.vDriverVersion = kDriverVersion;
        copyName("MIDI Mapper", caps.szPname);
        caps.wTechnology = kTechMapper;
    } else {
        if (MMRESULT r = portCaps(Direction::Output, uDeviceID, caps)) return r;
        caps.wTechnology = kTechPort;
    }
    caps.wChannelMask = 0xFFFF;
    *pmoc = caps;
    return MMSYSERR_NOERROR;
}
