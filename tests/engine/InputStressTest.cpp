// A whole 65,536-byte dump fed in small chunks as fast as possible while
// another thread polls the transfer state, as the reception does. Meant to
// run under ThreadSanitizer too.
#include <atomic>
#include <random>
#include <thread>

#include "engine/EngineTestSupport.h"
#include "midi/TransferState.h"

using namespace zuxtest;

namespace {

// Written like the program's input callback: copy, publish DataLen per byte,
// queue the header again while the dump is not complete.
void StressInProc(HMIDIIN h, UINT message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR) {
    if (message != MIM_LONGDATA) return;
    auto* hdr = reinterpret_cast<MIDIHDR*>(param1);
    for (DWORD i = 0; i < hdr->dwBytesRecorded; ++i) {
        const std::uint32_t len = DataLen.load(std::memory_order_relaxed);
        if (len >= DataBlockSize) break;
        DataBuf[len] = static_cast<unsigned char>(hdr->lpData[i]);
        DataLen.store(len + 1, std::memory_order_release);
    }
    const std::int32_t count = LongDataCount.load(std::memory_order_relaxed);
    const bool marker = DataLen.load(std::memory_order_acquire) >= 4 && DataBuf[3] == 0x7E;
    if (count < 2 && !marker && StopRequest.load() == 0) {
        midiInPrepareHeader(h, hdr, sizeof(MIDIHDR));
        midiInAddBuffer(h, hdr, sizeof(MIDIHDR));
    }
    LongDataCount.store(count + 1, std::memory_order_release);
}

struct StressCase {
    const char* name;
    std::vector<std::size_t> messageSizes;  // SysEx messages, F0 to F7, back to back
    std::uint8_t fourthByte;
    std::int32_t finalCount;
};

class InputStress : public EngineTest, public ::testing::WithParamInterface<StressCase> {};

TEST_P(InputStress, WholeDumpArrivesWhilePolled) {
    const StressCase& c = GetParam();
    sim.addInput({"In"});

    Bytes dump;
    for (std::size_t size : c.messageSizes) {
        const std::size_t start = dump.size();
        dump.push_back(0xF0);
        while (dump.size() < start + size - 1) dump.push_back(static_cast<std::uint8_t>(dump.size() % 0x7F));
        dump.push_back(0xF7);
    }
    dump[3] = c.fourthByte;
    ASSERT_EQ(dump.size(), DataBlockSize);

    Header header(DataBlockSize);
    DataBuf = TakeBlock();
    DataLen = 0;
    LongDataCount = 0;
    StopRequest = 0;
    HMIDIIN h = nullptr;
    ASSERT_MM(midiInOpen(&h, 0, reinterpret_cast<DWORD_PTR>(&StressInProc), 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    midiInPrepareHeader(h, &header.hdr, sizeof(MIDIHDR));
    midiInAddBuffer(h, &header.hdr, sizeof(MIDIHDR));
    midiInStart(h);

    // The poll: waits like the 100 ms timer, only without the pause, then tears down.
    std::atomic<bool> tornDown{false};
    std::thread poll([&] {
        while (StopRequest.load() == 0 && LongDataCount.load(std::memory_order_acquire) < 2) {
            const std::uint32_t len = DataLen.load(std::memory_order_acquire);
            if (len >= 4 && DataBuf[3] == 0x7E) break;
            std::this_thread::yield();
        }
        midiInStop(h);
        midiInReset(h);
        EXPECT_MM(midiInUnprepareHeader(h, &header.hdr, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
        EXPECT_MM(midiInClose(h), MMSYSERR_NOERROR);
        tornDown = true;
    });

    // Small chunks of varying size with clock bytes between them.
    std::mt19937 random(7);
    for (std::size_t off = 0; off < dump.size();) {
        const std::size_t n = std::min<std::size_t>(1 + random() % 48, dump.size() - off);
        Bytes chunk(dump.begin() + off, dump.begin() + off + n);
        if (random() % 4 == 0) chunk.insert(chunk.begin() + random() % (n + 1), 0xF8);
        ASSERT_TRUE(sim.inject(0, chunk));
        off += n;
    }
    poll.join();
    ASSERT_TRUE(tornDown);

    EXPECT_EQ(LongDataCount.load(), c.finalCount);
    ASSERT_EQ(DataLen.load(), DataBlockSize);
    EXPECT_TRUE(std::equal(dump.begin(), dump.end(), DataBuf));
    ReleaseBlock(DataBuf);
    DataBuf = nullptr;
}

const StressCase kStressCases[] = {
    // Two returns and the empty one the teardown hands back.
    {"TwoMessagesWithoutMarker", {32768, 32768}, 0x01, 3},
    // One return whose fourth byte ends the dump; the header is not queued again.
    {"OneMessageWithMarker", {65536}, 0x7E, 1},
};

INSTANTIATE_TEST_SUITE_P(Input, InputStress, ::testing::ValuesIn(kStressCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
