// The MIDI services the program is written against: the classic midiIn/midiOut
// call shapes, records and codes, implemented by our engine over Linux transports.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

using MMRESULT = std::uint32_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using LPSTR = char*;

struct HMIDIIN__;
struct HMIDIOUT__;
using HMIDIIN = HMIDIIN__*;
using HMIDIOUT = HMIDIOUT__*;
using LPHMIDIIN = HMIDIIN*;
using LPHMIDIOUT = HMIDIOUT*;

constexpr int MAXPNAMELEN = 32;  // 31 characters and the NUL

struct MIDIINCAPSA {
    std::uint16_t wMid;
    std::uint16_t wPid;
    std::uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwSupport;
};

struct MIDIOUTCAPSA {
    std::uint16_t wMid;
    std::uint16_t wPid;
    std::uint32_t vDriverVersion;
    char szPname[MAXPNAMELEN];
    std::uint16_t wTechnology;
    std::uint16_t wVoices;
    std::uint16_t wNotes;
    std::uint16_t wChannelMask;
    DWORD dwSupport;
};

struct MIDIHDR {
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    MIDIHDR* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
};
using LPMIDIHDR = MIDIHDR*;

// Result codes.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_BADERRNUM = 9;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIDIERR_UNPREPARED = 64;
constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
constexpr MMRESULT MIDIERR_NODEVICE = 68;

// Input callback messages.
constexpr UINT MIM_OPEN = 0x3C1;
constexpr UINT MIM_CLOSE = 0x3C2;
constexpr UINT MIM_DATA = 0x3C3;
constexpr UINT MIM_LONGDATA = 0x3C4;
constexpr UINT MIM_ERROR = 0x3C5;
constexpr UINT MIM_LONGERROR = 0x3C6;
constexpr UINT MIM_MOREDATA = 0x3CC;

// Header flags.
constexpr DWORD MHDR_DONE = 0x1;
constexpr DWORD MHDR_PREPARED = 0x2;
constexpr DWORD MHDR_INQUEUE = 0x4;

// The engine's threads change dwFlags while a header is queued; a thread that
// watches for MHDR_DONE reads it here, after which the header's data is its own.
inline DWORD MidiHdrFlags(MIDIHDR& header) {
    return std::atomic_ref<DWORD>(header.dwFlags).load(std::memory_order_acquire);
}

// ---- What this engine adds to the classic calls -------------------------
// Real desks lose ports and bytes; the classic calls cannot say so. These are
// the only additions, and the window relies on each of them.
//
// MIM_PORTGONE, to an input callback (both parameters 0): the port went away
// (unplugged, its program or MIDI system ended, or our connection to it was
// removed). Sent once; no input follows. Queued headers stay queued until
// midiInReset hands them back.
constexpr UINT MIM_PORTGONE = 0x3CF;
//
// MIDIERR_PORTGONE, from midiInOpen/midiOutOpen: the device ID names a port
// of the last enumeration (midiInGetNumDevs/midiOutGetNumDevs) that is no
// longer there. An ID never opens another port than the one it was listed for.
constexpr MMRESULT MIDIERR_PORTGONE = 72;
//
// dwOffset of a header given to midiOutLongMsg counts the bytes the port has
// taken so far, rising while it is queued. When MHDR_DONE is set, the send is
// over: dwOffset == dwBufferLength means every byte left for the port; less
// means the port is gone or its receiver could not take the bytes, and the
// rest was not sent. A failed send comes back at once, not after a timeout.
inline DWORD MidiHdrOffset(MIDIHDR& header) {
    return std::atomic_ref<DWORD>(header.dwOffset).load(std::memory_order_acquire);
}
//
// dwBytesRecorded of a queued input header rises as SysEx bytes are stored,
// before the header comes back; another thread reads it here, to show how
// much has arrived.
inline DWORD MidiHdrRecorded(MIDIHDR& header) {
    return std::atomic_ref<DWORD>(header.dwBytesRecorded).load(std::memory_order_acquire);
}
//
// midiGetSystemReasonA: the MIDI system's own words for why the last failed
// open on this thread failed (an ALSA or JACK error), or "" when it gave none.

// Open flags and the mapper's device ID.
constexpr DWORD CALLBACK_NULL = 0x00000;
constexpr DWORD CALLBACK_FUNCTION = 0x30000;
constexpr UINT MIDI_MAPPER = static_cast<UINT>(-1);

// Signature of a CALLBACK_FUNCTION input callback.
using MidiInCallback = void (*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

UINT midiInGetNumDevs();
UINT midiOutGetNumDevs();
MMRESULT midiInGetDevCapsA(std::uintptr_t uDeviceID, MIDIINCAPSA* pmic, UINT cbmic);
MMRESULT midiOutGetDevCapsA(std::uintptr_t uDeviceID, MIDIOUTCAPSA* pmoc, UINT cbmoc);
MMRESULT midiInGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);
MMRESULT midiOutGetErrorTextA(MMRESULT mmrError, LPSTR pszText, UINT cchText);

// dwCallback is a MidiInCallback cast to DWORD_PTR when fdwOpen is CALLBACK_FUNCTION.
MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                    DWORD fdwOpen);
MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiInStart(HMIDIIN hmi);
MMRESULT midiInStop(HMIDIIN hmi);
MMRESULT midiInReset(HMIDIIN hmi);
MMRESULT midiInClose(HMIDIIN hmi);

// Only CALLBACK_NULL is supported for output: the caller watches MHDR_DONE.
MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                     DWORD fdwOpen);
MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh);
MMRESULT midiOutReset(HMIDIOUT hmo);
MMRESULT midiOutClose(HMIDIOUT hmo);

// See "What this engine adds" above.
MMRESULT midiGetSystemReasonA(LPSTR pszText, UINT cchText);

// The kernel's pause: blocks the calling thread.
void Sleep(DWORD dwMilliseconds);
