#include "transmit/SendLongMessage.h"

#include <chrono>

#include "midi/Wire.h"
#include "transmit/ResponsiveWait.h"

bool SendLongMessage(HMIDIOUT port, MIDIHDR& header, const std::function<void(DWORD)>& progress) {
    const bool sent = midiOutPrepareHeader(port, &header, sizeof(MIDIHDR)) == MMSYSERR_NOERROR &&
                      midiOutLongMsg(port, &header, sizeof(MIDIHDR)) == MMSYSERR_NOERROR;

    const BusyCursor busy;
    PauseResponsively(std::chrono::milliseconds(100));
    if (!sent) return false;
    // The engine hands a failed send back at once; the limit is for a port
    // that neither takes the bytes nor says it cannot.
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
                           midi::wireTime(header.dwBufferLength)) + std::chrono::seconds(2);
    const bool done = WaitResponsively(limit, [&] {
        progress(MidiHdrOffset(header));
        return (MidiHdrFlags(header) & MHDR_DONE) != 0;
    });
    return done && MidiHdrOffset(header) == header.dwBufferLength;
}
