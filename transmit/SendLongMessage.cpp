#include "transmit/SendLongMessage.h"

#include <chrono>

#include "transmit/ResponsiveWait.h"

namespace {

// The MIDI wire carries 3,125 bytes a second.
std::chrono::milliseconds WireTime(DWORD bytes) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(bytes) * 1000 / 3125);
}

}  // namespace

bool SendLongMessage(HMIDIOUT port, MIDIHDR& header) {
    const bool sent = midiOutPrepareHeader(port, &header, sizeof(MIDIHDR)) == MMSYSERR_NOERROR &&
                      midiOutLongMsg(port, &header, sizeof(MIDIHDR)) == MMSYSERR_NOERROR;

    const BusyCursor busy;
    PauseResponsively(std::chrono::milliseconds(100));
    if (!sent) return false;
    return WaitResponsively(WireTime(header.dwBufferLength) + std::chrono::seconds(2),
                            [&header] { return (MidiHdrFlags(header) & MHDR_DONE) != 0; });
}
