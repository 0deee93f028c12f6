// Input handles on simulated ports: what the callback is given for a byte
// stream, the header hand-backs, and the rules of the header calls.
#include <atomic>
#include <thread>

#include "engine/EngineTestSupport.h"
#include "midi/TransferState.h"

using namespace zuxtest;

namespace {

constexpr UINT kHdr = sizeof(MIDIHDR);

class MidiInputTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        sim.addInput({.name = "In"});
    }
    void TearDown() override {
        if (handle) {
            midiInReset(handle);
            for (auto& h : headers) midiInUnprepareHeader(handle, &h->hdr, kHdr);
            EXPECT_MM(midiInClose(handle), MMSYSERR_NOERROR);
        }
        EngineTest::TearDown();
    }

    void open() {
        ASSERT_MM(midiInOpen(&handle, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    }
    MIDIHDR& queue(std::size_t size) {
        headers.push_back(std::make_unique<Header>(size));
        MIDIHDR& h = headers.back()->hdr;
        EXPECT_MM(midiInPrepareHeader(handle, &h, kHdr), MMSYSERR_NOERROR);
        EXPECT_MM(midiInAddBuffer(handle, &h, kHdr), MMSYSERR_NOERROR);
        return h;
    }
    // Handle calls run in order with the input, so once a no-op start has
    // returned, everything injected before it has been delivered.
    void drain() { ASSERT_MM(midiInStart(handle), MMSYSERR_NOERROR); }

    Recorder rec;
    HMIDIIN handle = nullptr;
    std::vector<std::unique_ptr<Header>> headers;
};

struct StreamCase {
    const char* name;
    std::vector<std::size_t> headerSizes;
    std::vector<Bytes> chunks;  // an empty chunk stands for bytes lost upstream
    std::vector<std::pair<UINT, Bytes>> returns;
    std::vector<DWORD> shorts;
};

const StreamCase kStreamCases[] = {
    {"OneChunk", {64}, {{0xF0, 0x7D, 0x10, 0x7E, 0x01, 0x02, 0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0x02, 0xF7}}}, {}},
    {"ByteByByte", {64}, {{0xF0}, {0x7D}, {0x10}, {0x7E}, {0x01}, {0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0xF7}}}, {}},
    {"TwoMessagesOneHeaderEach", {64, 64}, {{0xF0, 0x7D, 0x01, 0xF7, 0xF0, 0x7D, 0x02, 0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x7D, 0x01, 0xF7}}, {MIM_LONGDATA, {0xF0, 0x7D, 0x02, 0xF7}}}, {}},
    {"LongerThanBufferGoesOnInNext", {4, 4, 4},
     {{0xF0, 0x7D, 0x10}, {0x7E, 0x01, 0x02}, {0x03, 0x04, 0x05}, {0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x7D, 0x10, 0x7E}},
      {MIM_LONGDATA, {0x01, 0x02, 0x03, 0x04}},
      {MIM_LONGDATA, {0x05, 0xF7}}},
     {}},
    {"EndsExactlyAtBufferEnd", {4, 4}, {{0xF0, 0x01, 0x02, 0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x01, 0x02, 0xF7}}}, {}},
    {"RealTimeInsideSysEx", {64}, {{0xF0, 0x7D, 0xF8, 0x10, 0xFE}, {0x7E, 0xFF, 0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x7D, 0x10, 0x7E, 0xF7}}}, {0xF8, 0xFE, 0xFF}},
    {"StatusByteInsideSysEx", {64, 64}, {{0xF0, 0x7D, 0x10, 0x90, 0x3C, 0x40}},
     {{MIM_LONGERROR, {0xF0, 0x7D, 0x10}}}, {0x403C90}},
    {"NewF0InsideSysEx", {64, 64}, {{0xF0, 0x01, 0xF0, 0x02, 0xF7}},
     {{MIM_LONGERROR, {0xF0, 0x01}}, {MIM_LONGDATA, {0xF0, 0x02, 0xF7}}}, {}},
    {"NoHeaderQueued", {}, {{0xF0, 0x7D, 0x10, 0xF7, 0x90, 0x3C, 0x40}}, {}, {0x403C90}},
    {"DataLostInsideSysEx", {64, 64}, {{0xF0, 0x7D, 0x10}, {}, {0x11, 0x12, 0xF7, 0xF0, 0x01, 0xF7}},
     {{MIM_LONGERROR, {0xF0, 0x7D, 0x10}}, {MIM_LONGDATA, {0xF0, 0x01, 0xF7}}}, {}},
    // A whole message may have been lost: the header waiting for it is damaged.
    {"DataLostBetweenMessages", {64, 64}, {{0xF0, 0x01, 0xF7}, {}, {0xF0, 0x02, 0xF7}},
     {{MIM_LONGDATA, {0xF0, 0x01, 0xF7}}, {MIM_LONGERROR, {}}}, {}},
    {"ShortMessagesAndRunningStatus", {},
     {{0x90, 0x3C, 0x40, 0x3E}, {0x00, 0xC0, 0x05, 0x06, 0xF2, 0x01, 0x02, 0x03, 0xF6}},
     {}, {0x403C90, 0x003E90, 0x05C0, 0x06C0, 0x0201F2, 0xF6}},
    {"SysExEndsRunningStatus", {64}, {{0x90, 0x3C, 0x40, 0xF0, 0x01, 0xF7, 0x3E, 0x40}},
     {{MIM_LONGDATA, {0xF0, 0x01, 0xF7}}}, {0x403C90}},
};

class StreamTest : public MidiInputTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamTest, DeliversWhatTheStreamHolds) {
    const StreamCase& c = GetParam();
    open();
    for (std::size_t size : c.headerSizes) queue(size);
    ASSERT_MM(midiInStart(handle), MMSYSERR_NOERROR);
    for (const Bytes& chunk : c.chunks)
        ASSERT_TRUE(chunk.empty() ? sim.injectDataLost(0) : sim.inject(0, chunk));
    drain();

    EXPECT_EQ(rec.returns(), c.returns);
    EXPECT_EQ(rec.shortMessages(), c.shorts);
    // Handed-back headers are done and out of the queue; the rest wait.
    for (std::size_t i = 0; i < headers.size(); ++i) {
        const DWORD flags = MidiHdrFlags(headers[i]->hdr);
        const bool back = i < c.returns.size();
        EXPECT_EQ(bool(flags & MHDR_DONE), back) << "header " << i;
        EXPECT_EQ(bool(flags & MHDR_INQUEUE), !back) << "header " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Input, StreamTest, ::testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MidiInputTest, OpenAndCloseAreAnnouncedAndNothingFollowsTheClose) {
    open();
    ASSERT_TRUE(waitFor([&] { return rec.count() >= 1; }));
    ASSERT_MM(midiInStart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim.inject(0, {0x90, 0x3C, 0x40}));
    ASSERT_MM(midiInClose(handle), MMSYSERR_NOERROR);
    const HMIDIIN closed = handle;
    handle = nullptr;

    const auto events = rec.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events.front().message, MIM_OPEN);
    EXPECT_EQ(events[1].message, MIM_DATA);
    EXPECT_EQ(events.back().message, MIM_CLOSE);
    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_FALSE(sim.inject(0, {0x90, 0x3C, 0x40}));
    EXPECT_MM(midiInStart(closed), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(rec.count(), 3u);
}

TEST_F(MidiInputTest, NoCallbackAfterCloseWhileInputKeepsComing) {
    open();
    midiInStart(handle);
    std::atomic<bool> quit{false};
    std::thread feeder([&] {
        while (!quit) sim.inject(0, {0x90, 0x3C, 0x40, 0xF8});
    });
    ASSERT_TRUE(waitFor([&] { return rec.of(MIM_DATA).size() > 100; }));
    ASSERT_MM(midiInClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
    const std::size_t atClose = rec.count();
    quit = true;
    feeder.join();
    EXPECT_EQ(rec.count(), atClose);
    EXPECT_EQ(rec.events().back().message, MIM_CLOSE);
}

// A port that goes away says so once, in order with its input; the queued
// header stays queued, so the teardown's reset hands it back as usual.
TEST_F(MidiInputTest, APortThatGoesAwaySaysSoOnce) {
    open();
    MIDIHDR& h = queue(64);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x7D, 0x10});
    sim.removeInput(0);
    drain();
    const auto events = rec.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().message, MIM_PORTGONE);
    EXPECT_EQ(rec.of(MIM_PORTGONE).size(), 1u);
    EXPECT_TRUE(rec.returns().empty());
    EXPECT_TRUE(MidiHdrFlags(h) & MHDR_INQUEUE);
    ASSERT_MM(midiInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.returns(), (std::vector<std::pair<UINT, Bytes>>{{MIM_LONGDATA, {0xF0, 0x7D, 0x10}}}));
}

TEST_F(MidiInputTest, CallbacksRunOnTheEngineThread) {
    open();
    queue(64);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x01, 0xF7});
    drain();
    for (const Event& e : rec.events()) EXPECT_NE(e.thread, std::this_thread::get_id());
}

TEST_F(MidiInputTest, BytesBeforeStartAreDropped) {
    open();
    queue(64);
    ASSERT_TRUE(sim.inject(0, {0xF0, 0x7D, 0x01, 0xF7, 0x90, 0x3C, 0x40}));
    ASSERT_MM(midiInStart(handle), MMSYSERR_NOERROR);
    ASSERT_TRUE(sim.inject(0, {0xF0, 0x7D, 0x02, 0xF7}));
    drain();
    EXPECT_EQ(rec.returns(), (std::vector<std::pair<UINT, Bytes>>{{MIM_LONGDATA, {0xF0, 0x7D, 0x02, 0xF7}}}));
    EXPECT_TRUE(rec.shortMessages().empty());
}

TEST_F(MidiInputTest, StopHandsBackOnlyAPartlyFilledHeader) {
    open();
    MIDIHDR& first = queue(64);
    queue(64);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x7D, 0x10});
    ASSERT_MM(midiInStop(handle), MMSYSERR_NOERROR);
    // Back before the call returned; the empty second header stays queued.
    EXPECT_EQ(rec.returns(), (std::vector<std::pair<UINT, Bytes>>{{MIM_LONGDATA, {0xF0, 0x7D, 0x10}}}));
    EXPECT_TRUE(MidiHdrFlags(first) & MHDR_DONE);
    EXPECT_MM(midiInStop(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.returns().size(), 1u);
    // Stopped input takes nothing.
    sim.inject(0, {0x11, 0xF7, 0xF0, 0x01, 0xF7});
    EXPECT_MM(midiInStop(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.returns().size(), 1u);
}

TEST_F(MidiInputTest, ResetHandsBackEveryQueuedHeaderBeforeReturning) {
    open();
    queue(64);
    queue(64);
    queue(64);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x7D});
    ASSERT_MM(midiInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(rec.returns(), (std::vector<std::pair<UINT, Bytes>>{
                                 {MIM_LONGDATA, {0xF0, 0x7D}}, {MIM_LONGDATA, {}}, {MIM_LONGDATA, {}}}));
    for (auto& h : headers) {
        EXPECT_EQ(MidiHdrFlags(h->hdr), MHDR_DONE | MHDR_PREPARED);
        EXPECT_MM(midiInUnprepareHeader(handle, &h->hdr, kHdr), MMSYSERR_NOERROR);
    }
}

TEST_F(MidiInputTest, HeaderRulesGiveStillPlayingAndUnprepared) {
    open();
    Header loose(64);
    EXPECT_MM(midiInAddBuffer(handle, &loose.hdr, kHdr), MIDIERR_UNPREPARED);

    MIDIHDR& queued = queue(64);
    EXPECT_MM(midiInAddBuffer(handle, &queued, kHdr), MIDIERR_STILLPLAYING);
    EXPECT_MM(midiInUnprepareHeader(handle, &queued, kHdr), MIDIERR_STILLPLAYING);
    EXPECT_MM(midiInClose(handle), MIDIERR_STILLPLAYING);
    EXPECT_TRUE(sim.inputOpen(0));
    // Preparing again is a harmless no-op, even while queued.
    EXPECT_MM(midiInPrepareHeader(handle, &queued, kHdr), MMSYSERR_NOERROR);

    midiInReset(handle);
    EXPECT_MM(midiInUnprepareHeader(handle, &queued, kHdr), MMSYSERR_NOERROR);
    EXPECT_MM(midiInAddBuffer(handle, &queued, kHdr), MIDIERR_UNPREPARED);
    EXPECT_MM(midiInClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
}

// The callback queues the header again from inside the call, as MidiInProc does.
TEST_F(MidiInputTest, CallbackQueuesTheHeaderAgain) {
    Bytes collected;
    rec.onCall = [&](HMIDIIN h, UINT message, MIDIHDR* hdr) {
        if (message != MIM_LONGDATA) return;
        collected.insert(collected.end(), hdr->lpData, hdr->lpData + hdr->dwBytesRecorded);
        midiInPrepareHeader(h, hdr, kHdr);
        midiInAddBuffer(h, hdr, kHdr);
    };
    open();
    queue(4);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7});
    drain();
    EXPECT_EQ(collected, (Bytes{0xF0, 0x7D, 0x10, 0x7E, 0x01, 0x02, 0xF7, 0xF0, 0x03, 0xF7}));
    EXPECT_EQ(rec.of(MIM_LONGDATA).size(), 3u);
    EXPECT_TRUE(MidiHdrFlags(headers[0]->hdr) & MHDR_INQUEUE);
    rec.onCall = nullptr;  // so the reset at the end takes it back for good
}

TEST_F(MidiInputTest, CallbackNullStillTakesInput) {
    ASSERT_MM(midiInOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    MIDIHDR& h = queue(8);
    midiInStart(handle);
    sim.inject(0, {0xF0, 0x01, 0xF7});
    drain();
    EXPECT_EQ(h.dwBytesRecorded, 3u);
    EXPECT_TRUE(MidiHdrFlags(h) & MHDR_DONE);
}

TEST_F(MidiInputTest, BadArgumentsAreRefused) {
    sim.addInput({.name = "Busy", .openResult = MMSYSERR_ALLOCATED});
    auto proc = rec.proc();
    HMIDIIN h = nullptr;
    EXPECT_MM(midiInOpen(nullptr, 0, proc, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiInOpen(&h, 2, proc, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
    EXPECT_MM(midiInOpen(&h, MIDI_MAPPER, proc, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
    EXPECT_MM(midiInOpen(&h, 0, proc, 0, 0x50000), MMSYSERR_INVALFLAG);
    EXPECT_MM(midiInOpen(&h, 0, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiInOpen(&h, 1, proc, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(rec.count(), 0u);

    open();
    HMIDIIN second = nullptr;
    EXPECT_MM(midiInOpen(&second, 0, proc, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);

    Header hdr(16);
    const HMIDIIN bogus = reinterpret_cast<HMIDIIN>(&hdr);
    EXPECT_MM(midiInPrepareHeader(bogus, &hdr.hdr, kHdr), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInAddBuffer(bogus, &hdr.hdr, kHdr), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInStart(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInStop(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInReset(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInClose(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiInPrepareHeader(handle, nullptr, kHdr), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiInPrepareHeader(handle, &hdr.hdr, kHdr - 1), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiInAddBuffer(handle, &hdr.hdr, 0), MMSYSERR_INVALPARAM);
    Header empty(16);
    empty.hdr.dwBufferLength = 0;
    EXPECT_MM(midiInPrepareHeader(handle, &empty.hdr, kHdr), MMSYSERR_INVALPARAM);
}

}  // namespace
