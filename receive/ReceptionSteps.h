// Pieces of a reception shared by the files of receive/.
#pragma once

#include <atomic>

class TForm1;

// Set by the input callback when bytes had to be dropped because the block was
// full; cleared by RECEIVE. Read by the user-interface thread after the port
// is closed.
extern std::atomic<bool> DumpCut;

// Set by the input callback, cleared by RECEIVE: a buffer came back damaged
// (MIM_LONGERROR), so bytes of the dump were lost; the port went away
// (MIM_PORTGONE). Either ends the reception at the next tick, saving nothing.
extern std::atomic<bool> InputDamaged;
extern std::atomic<bool> PortLost;

// The fourth received byte is the end marker 0x7E; never true before four
// bytes have arrived. Reads DataLen before the byte.
bool MarkerSeen();

// The block holds 65,536 bytes: the dump is complete, whatever follows.
bool DumpFull();

// Ends a completed (not stopped) reception: reports it and saves the dump,
// then runs the end-of-reception step.
void SaveReceivedDump(TForm1& form);

// Releases DataBuf and gives the controls back.
void EndOfReception(TForm1& form);
