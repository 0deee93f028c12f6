// Reception: RECEIVE, STOP, the 100 ms poll and the input callback.
#pragma once

#include "midi/MidiApi.h"

// The input callback registered by RECEIVE; runs on the MIDI engine's thread.
void MidiInProc(HMIDIIN hMidiIn, UINT wMsg, DWORD_PTR dwInstance, DWORD_PTR dwParam1,
                DWORD_PTR dwParam2);

// Ends a running reception before the program ends (the window was closed):
// the port is torn down and both blocks released; nothing is saved.
void EndReceptionOnExit();
