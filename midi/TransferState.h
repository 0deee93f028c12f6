// The state one reception or one transmission shares between the window's
// handlers and the MIDI input callback. Module-level by design: the handlers
// and the callback read and write it directly.
#pragma once

#include <atomic>
#include <cstdint>

#include "midi/MidiApi.h"

constexpr std::uint32_t DataBlockSize = 65536;

// Shared with the input callback's thread while input runs. The callback
// stores a byte before it raises DataLen (release); readers load DataLen
// (acquire) before they read the bytes.
extern std::atomic<std::int32_t> LongDataCount;
extern unsigned char* DataBuf;
extern std::atomic<std::uint32_t> DataLen;
extern std::atomic<std::int32_t> StopRequest;
extern MIDIHDR MidiHdr;

// User-interface thread only.
extern HMIDIIN hMidiIn;
extern MMRESULT LastResult;
extern UINT DevId;
extern char ErrText[256];

// Blocks of DataBlockSize bytes for dump data, not cleared. TakeBlock returns
// nullptr when no memory can be had.
unsigned char* TakeBlock();
void ReleaseBlock(unsigned char* block);
