// Output handles on simulated ports: long messages, the done flag, reset of
// pending output, ports that stall or vanish, and the wire pacing of hardware ports.
#include <numeric>

#include "engine/EngineTestSupport.h"
#include "midi/Wire.h"

using namespace zuxtest;

namespace {

constexpr UINT kHdr = sizeof(MIDIHDR);

Bytes pattern(std::size_t size) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

class MidiOutputTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        sim.addOutput({.name = "Soft"});
        sim.addOutput({.name = "Wire", .paced = true});
    }
    void TearDown() override {
        if (handle) {
            midiOutReset(handle);
            midiOutUnprepareHeader(handle, &hdr, kHdr);
            EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
        }
        EngineTest::TearDown();
    }
    void open(UINT id) { ASSERT_MM(midiOutOpen(&handle, id, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR); }
    void send(Bytes& data) {
        hdr = MIDIHDR{};
        hdr.lpData = reinterpret_cast<char*>(data.data());
        hdr.dwBufferLength = static_cast<DWORD>(data.size());
        ASSERT_MM(midiOutPrepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
        ASSERT_MM(midiOutLongMsg(handle, &hdr, kHdr), MMSYSERR_NOERROR);
    }
    bool done() { return MidiHdrFlags(hdr) & MHDR_DONE; }

    HMIDIOUT handle = nullptr;
    MIDIHDR hdr{};
};

TEST_F(MidiOutputTest, LongMessageGoesOutWholeAndIsMarkedDone) {
    open(0);
    // Every byte value, line-end and end-of-file bytes included, and the largest dump.
    Bytes data = pattern(65536);
    data[0] = 0x0D;
    data[1] = 0x0A;
    data[2] = 0x1A;
    data[3] = 0x00;
    send(data);
    ASSERT_TRUE(waitFor([&] { return done(); }));
    EXPECT_FALSE(MidiHdrFlags(hdr) & MHDR_INQUEUE);
    EXPECT_EQ(MidiHdrOffset(hdr), data.size());
    EXPECT_EQ(sim.capturedBytes(0), data);
    EXPECT_TRUE(sim.capturedBytes(1).empty());
    EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
    EXPECT_MM(midiOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
    EXPECT_FALSE(sim.outputOpen(0));
}

TEST_F(MidiOutputTest, MapperPlaysThroughTheFirstPort) {
    open(MIDI_MAPPER);
    Bytes data{0xF0, 0x7D, 0x10, 0x7E, 0xF7};
    send(data);
    ASSERT_TRUE(waitFor([&] { return done(); }));
    EXPECT_EQ(sim.capturedBytes(0), data);
}

TEST_F(MidiOutputTest, MapperWithoutPortsIsNoDevice) {
    midi::SimulatedTransport none;
    midi::setTransports({&none});
    HMIDIOUT h = nullptr;
    EXPECT_MM(midiOutOpen(&h, MIDI_MAPPER, 0, 0, CALLBACK_NULL), MIDIERR_NODEVICE);
    EXPECT_MM(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

TEST_F(MidiOutputTest, PendingOutputBlocksUnprepareAndCloseUntilReset) {
    sim.setOutputStalled(0, true);
    open(0);
    Bytes data = pattern(1000);
    send(data);
    ASSERT_TRUE(waitFor([&] { return sim.writeCalls(0) > 0; }));
    EXPECT_FALSE(done());
    EXPECT_MM(midiOutLongMsg(handle, &hdr, kHdr), MIDIERR_STILLPLAYING);
    EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MIDIERR_STILLPLAYING);
    EXPECT_MM(midiOutClose(handle), MIDIERR_STILLPLAYING);

    // The reset returns only once the port no longer reads the data.
    ASSERT_MM(midiOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(done());
    EXPECT_FALSE(MidiHdrFlags(hdr) & MHDR_INQUEUE);
    EXPECT_TRUE(sim.capturedBytes(0).empty());
    EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
    EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
}

TEST_F(MidiOutputTest, ResetStopsAPacedMessageMidway) {
    open(1);
    Bytes data = pattern(65536);  // about 21 s on the wire
    send(data);
    ASSERT_TRUE(waitFor([&] { return !sim.captured(1).empty(); }));
    ASSERT_MM(midiOutReset(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(done());
    EXPECT_EQ(sim.discards(1), 1u);  // what the system still holds is dropped too
    const std::size_t sent = sim.capturedBytes(1).size();
    EXPECT_LT(sent, data.size());
    EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
    // Nothing more leaves after the reset.
    EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
    handle = nullptr;
    EXPECT_EQ(sim.capturedBytes(1).size(), sent);
}

// The window must not wait out the wire time plus its margin (23 s for a
// full block) for a port known to be gone: the header comes back at once,
// short of its length.
TEST_F(MidiOutputTest, APortKnownGoneHandsTheHeaderBackAtOnceUnfinished) {
    for (bool midway : {false, true}) {
        SCOPED_TRACE(midway ? "unplugged while a paced message goes out" : "receiver refuses every byte");
        const UINT id = midway ? 1 : 0;
        open(id);
        if (!midway) sim.setOutputRefusing(0, true);
        Bytes data = pattern(65536);  // 21 s on the wire
        send(data);
        if (midway) {
            ASSERT_TRUE(waitFor([&] { return sim.capturedBytes(1).size() >= 64; }));
            sim.removeOutput(1);
        }
        ASSERT_TRUE(waitFor([&] { return done(); }));
        EXPECT_LT(MidiHdrOffset(hdr), data.size());
        EXPECT_EQ(MidiHdrOffset(hdr), sim.capturedBytes(id).size());
        EXPECT_FALSE(MidiHdrFlags(hdr) & MHDR_INQUEUE);
        EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
        EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
        handle = nullptr;
    }
}

TEST_F(MidiOutputTest, HeaderRules) {
    open(0);
    Bytes data = pattern(8);
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = 8;
    EXPECT_MM(midiOutLongMsg(handle, &hdr, kHdr), MIDIERR_UNPREPARED);
    EXPECT_MM(midiOutPrepareHeader(handle, &hdr, kHdr - 1), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiOutPrepareHeader(handle, nullptr, kHdr), MMSYSERR_INVALPARAM);
    MIDIHDR noData{};
    EXPECT_MM(midiOutPrepareHeader(handle, &noData, kHdr), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiOutPrepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
    EXPECT_MM(midiOutPrepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);

    const HMIDIOUT bogus = reinterpret_cast<HMIDIOUT>(&hdr);
    EXPECT_MM(midiOutLongMsg(bogus, &hdr, kHdr), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiOutReset(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_MM(midiOutClose(bogus), MMSYSERR_INVALHANDLE);

    HMIDIOUT h = nullptr;
    EXPECT_MM(midiOutOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_MM(midiOutOpen(&h, 1, 0, 0, CALLBACK_FUNCTION), MMSYSERR_INVALFLAG);
    EXPECT_MM(midiOutOpen(&h, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
}

// Checks arrivals against a model of the wire behind a buffer of `backlog`
// bytes: whatever happened before, a chunk may leave only when the buffer
// has room for it. Only lower bounds: a slow machine sends later, never
// earlier, so this holds however loaded the machine is.
void expectTheWireKeepsUp(const std::vector<midi::SimulatedTransport::Arrival>& arrivals, std::size_t backlog) {
    std::chrono::steady_clock::time_point wireFree{};
    std::size_t offset = 0;
    for (const auto& arrival : arrivals) {
        const auto n = arrival.bytes.size();
        EXPECT_LE(n, 32u);
        const auto held = wireFree - arrival.at;  // what the buffer still holds, as wire time
        EXPECT_LE(held + midi::wireTime(n), midi::wireTime(backlog)) << "chunk starting at byte " << offset;
        wireFree = std::max(wireFree, arrival.at) + midi::wireTime(n);
        offset += n;
    }
}

// After a stall (a loaded machine, a stopped process, a suspend), nothing
// is made up for: an interface's 4 KiB buffer would overrun and drop bytes
// silently. The stated backlog is two chunks, 64 bytes.
TEST_F(MidiOutputTest, PacedPortNeverGetsMoreThanTheWireCarries) {
    for (bool stall : {false, true}) {
        SCOPED_TRACE(stall ? "with a stall midway" : "steady");
        midi::SimulatedTransport wire;
        wire.addOutput({.name = "Wire", .paced = true});
        midi::setTransports({&wire});
        ASSERT_EQ(midiOutGetNumDevs(), 1u);
        open(0);
        Bytes data = pattern(stall ? 1200 : 800);
        send(data);
        if (stall) {
            ASSERT_TRUE(waitFor([&] { return wire.capturedBytes(0).size() >= 300; }));
            wire.setOutputStalled(0, true);
            std::this_thread::sleep_for(std::chrono::milliseconds(400));  // 1,250 bytes of wire time
            wire.setOutputStalled(0, false);
        }
        ASSERT_TRUE(waitFor([&] { return done(); }));
        EXPECT_EQ(wire.capturedBytes(0), data);
        expectTheWireKeepsUp(wire.captured(0), 64);
        EXPECT_MM(midiOutUnprepareHeader(handle, &hdr, kHdr), MMSYSERR_NOERROR);
        EXPECT_MM(midiOutClose(handle), MMSYSERR_NOERROR);
        handle = nullptr;
    }
}

}  // namespace
