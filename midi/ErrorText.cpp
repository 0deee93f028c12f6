// Texts for the result codes, in our own words.
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "midi/MidiApi.h"

namespace {

const char* textFor(MMRESULT code) {
    switch (code) {
    case MMSYSERR_NOERROR: return "The operation succeeded.";
    case MMSYSERR_ERROR: return "The MIDI system reported an unspecified error.";
    case MMSYSERR_BADDEVICEID: return "There is no MIDI port with this device ID.";
    case MMSYSERR_ALLOCATED: return "The MIDI port is already in use.";
    case MMSYSERR_INVALHANDLE: return "The MIDI port handle is not valid.";
    case MMSYSERR_NODRIVER: return "No MIDI system is available.";
    case MMSYSERR_NOMEM: return "There is not enough memory for the MIDI operation.";
    case MMSYSERR_BADERRNUM: return "The error code is unknown.";
    case MMSYSERR_INVALFLAG: return "An open flag is not supported.";
    case MMSYSERR_INVALPARAM: return "A parameter of the MIDI call is not valid.";
    case MIDIERR_UNPREPARED: return "The MIDI header has not been prepared.";
    case MIDIERR_STILLPLAYING: return "The MIDI port is still busy with a header.";
    case MIDIERR_NODEVICE: return "There is no MIDI port to use.";
    case MIDIERR_PORTGONE: return "The MIDI port is no longer available.";
    default: return nullptr;
    }
}

MMRESULT errorText(MMRESULT code, LPSTR text, UINT capacity) {
    if (!text || capacity == 0) return MMSYSERR_INVALPARAM;
    const char* known = textFor(code);
    char unknown[64];
    if (!known) std::snprintf(unknown, sizeof unknown, "Unknown MIDI error %u.", code);
    const char* src = known ? known : unknown;
    const std::size_t n = std::min<std::size_t>(std::strlen(src), capacity - 1);
    std::memcpy(text, src, n);
    text[n] = '\0';
    return known ? MMSYSERR_NOERROR : MMSYSERR_BADERRNUM;
}

}  // namespace

MMRESULT midiInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return errorText(mmrError, pszText, cchText);
}

MMRESULT midiOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText) {
    return errorText(mmrError, pszText, cchText);
}
