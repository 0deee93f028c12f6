#include "midi/TransferState.h"

#include <new>

std::atomic<std::int32_t> LongDataCount{0};
unsigned char* DataBuf = nullptr;
std::atomic<std::uint32_t> DataLen{0};
std::atomic<std::int32_t> StopRequest{0};
MIDIHDR MidiHdr{};
HMIDIIN hMidiIn = nullptr;
MMRESULT LastResult = 0;
UINT DevId = 0;
char ErrText[256] = {};

unsigned char* TakeBlock() { return new (std::nothrow) unsigned char[DataBlockSize]; }

void ReleaseBlock(unsigned char* block) { delete[] block; }
