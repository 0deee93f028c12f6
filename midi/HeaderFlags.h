// The caller's MIDIHDR, as both directions check and flag it. dwFlags of a
// queued header is shared with the thread that watches for MHDR_DONE, so the
// engine changes it only atomically, publishing (release) everything it did
// with the header before.
#pragma once

#include <atomic>

#include "midi/MidiApi.h"

namespace midi {

inline void setHeaderFlags(MIDIHDR& h, DWORD set, DWORD clear = 0) {
    std::atomic_ref<DWORD> flags(h.dwFlags);
    DWORD old = flags.load(std::memory_order_relaxed);
    while (!flags.compare_exchange_weak(old, (old & ~clear) | set, std::memory_order_acq_rel)) {
    }
}

inline bool validHeader(LPMIDIHDR pmh, UINT cbmh) { return pmh && cbmh >= sizeof(MIDIHDR); }

// Once the handle is known to be open: a header still queued stays prepared.
inline MMRESULT unprepareHeader(LPMIDIHDR pmh, UINT cbmh) {
    if (!validHeader(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    if (MidiHdrFlags(*pmh) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    setHeaderFlags(*pmh, 0, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

}  // namespace midi
