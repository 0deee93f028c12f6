// The "error" box for a MIDI port that would not open.
#pragma once

#include "midi/MidiApi.h"

enum class PortKind { Input, Output };

// Puts the text for `result` into ErrText, with the MIDI system's own reason
// on a second line where it gave one, and shows it in a box captioned "error".
void ShowPortError(PortKind kind, MMRESULT result);
