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

namespace {
std::atomic<int> failNextTakes{0};
std::atomic<int> liveBlocks{0};
}  // namespace

unsigned char* TakeBlock() {
    if (failNextTakes.load() > 0) {
        failNextTakes.fetch_sub(1);
        return nullptr;
    }
    auto* block = new (std::nothrow) unsigned char[DataBlockSize];
    if (block) liveBlocks.fetch_add(1);
    return block;
}

void ReleaseBlock(unsigned char* block) {
    if (!block) return;
    liveBlocks.fetch_sub(1);
    delete[] block;
}

namespace midi::testing {
void FailNextBlockTakes(int count) { failNextTakes.store(count); }
int LiveBlocks() { return liveBlocks.load(); }
}  // namespace midi::testing
