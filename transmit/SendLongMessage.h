// Sending the header's bytes as one long message and waiting until the port
// has taken them all.
#pragma once

#include <functional>

#include "midi/MidiApi.h"

// Prepares and sends `header` on `port`, pauses 100 ms, then waits for the
// port to mark it done, at most the bytes' time on the MIDI wire plus 2 s,
// telling `progress` the bytes out so far as it waits. True when every byte
// went out; false when preparing or sending failed, the port took only part
// of the bytes, or it did not finish in time (the header may then still be
// queued).
bool SendLongMessage(HMIDIOUT port, MIDIHDR& header, const std::function<void(DWORD)>& progress);
