// Device IDs over several transports, what an ID opens once ports come and
// go, capability records and error texts.
#include <cstring>
#include <set>
#include <string>

#include "engine/EngineTestSupport.h"

using namespace zuxtest;

namespace {

std::string inName(UINT id) {
    MIDIINCAPSA caps{};
    EXPECT_MM(midiInGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR) << "input " << id;
    return caps.szPname;
}

std::string outName(UINT id) {
    MIDIOUTCAPSA caps{};
    EXPECT_MM(midiOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR) << "output " << id;
    return caps.szPname;
}

std::string systemReason() {
    char text[256];
    EXPECT_MM(midiGetSystemReasonA(text, sizeof text), MMSYSERR_NOERROR);
    return text;
}

// Sends one short SysEx through output `id` and waits until it is done.
MMRESULT sendThrough(UINT id) {
    HMIDIOUT h = nullptr;
    if (MMRESULT r = midiOutOpen(&h, id, 0, 0, CALLBACK_NULL)) return r;
    char data[] = {'\xF0', '\x7D', '\x01', '\xF7'};
    MIDIHDR hdr{};
    hdr.lpData = data;
    hdr.dwBufferLength = sizeof data;
    midiOutPrepareHeader(h, &hdr, sizeof hdr);
    midiOutLongMsg(h, &hdr, sizeof hdr);
    EXPECT_TRUE(waitFor([&] { return MidiHdrFlags(hdr) & MHDR_DONE; }));
    midiOutUnprepareHeader(h, &hdr, sizeof hdr);
    return midiOutClose(h);
}

class PortsTest : public ::testing::Test {
protected:
    void TearDown() override { midi::setTransports({}); }
};

TEST_F(PortsTest, RecordsHaveThePlatformSizes) {
    EXPECT_EQ(sizeof(MIDIINCAPSA), 44u);
    EXPECT_EQ(sizeof(MIDIOUTCAPSA), 52u);
}

TEST_F(PortsTest, IdsRunThroughTheTransportsInOrder) {
    midi::SimulatedTransport a("a"), b("b");
    a.addInput({.name = "A in 0"});
    a.addOutput({.name = "A out 0"});
    a.addOutput({.name = "A out 1"});
    b.addInput({.name = "B in 0"});
    b.addInput({.name = "B in 1"});
    b.addOutput({.name = "B out 0"});
    midi::setTransports({&a, &b});

    ASSERT_EQ(midiInGetNumDevs(), 3u);
    ASSERT_EQ(midiOutGetNumDevs(), 3u);
    EXPECT_EQ(inName(0), "A in 0");
    EXPECT_EQ(inName(1), "B in 0");
    EXPECT_EQ(inName(2), "B in 1");
    EXPECT_EQ(outName(0), "A out 0");
    EXPECT_EQ(outName(2), "B out 0");
    MIDIINCAPSA in{};
    EXPECT_MM(midiInGetDevCapsA(3, &in, sizeof in), MMSYSERR_BADDEVICEID);

    // Opening an ID reaches the port it names.
    Recorder rec;
    HMIDIIN h = nullptr;
    ASSERT_MM(midiInOpen(&h, 2, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_TRUE(b.inputOpen(1));
    EXPECT_FALSE(b.inputOpen(0));
    EXPECT_FALSE(a.inputOpen(0));
    EXPECT_MM(midiInClose(h), MMSYSERR_NOERROR);

    // Only a count lists the ports afresh.
    a.addInput({.name = "A in 1"});
    EXPECT_EQ(inName(1), "B in 0");
    EXPECT_EQ(midiInGetNumDevs(), 4u);
    EXPECT_EQ(inName(1), "A in 1");
    midi::setTransports({});
    EXPECT_EQ(midiInGetNumDevs(), 0u);
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
}

// A port plugged in or started after the lists were made must never take
// over an ID: the dump would go into another instrument.
TEST_F(PortsTest, AnIdOpensThePortItWasListedForOrNone) {
    midi::SimulatedTransport first("alsa"), second("jack");
    first.addOutput({.name = "Midi Through Port-0"});
    second.addOutput({.name = "aaa:in"});
    second.addOutput({.name = "bbb:in"});
    second.addOutput({.name = "rec:in"});
    midi::setTransports({&first, &second});
    ASSERT_EQ(midiOutGetNumDevs(), 4u);
    ASSERT_EQ(outName(2), "bbb:in");

    first.addOutput({.name = "USB MIDI Interface"});  // plugged in: every later position moves
    second.removeOutput(0);                           // aaa quits
    EXPECT_MM(sendThrough(2), MMSYSERR_NOERROR);
    EXPECT_EQ(second.capturedBytes(1), (Bytes{0xF0, 0x7D, 0x01, 0xF7}));  // bbb, as listed
    EXPECT_TRUE(second.capturedBytes(2).empty());
    EXPECT_TRUE(first.capturedBytes(1).empty());

    // A listed port that is gone opens nothing, and says so.
    HMIDIOUT h = nullptr;
    EXPECT_MM(midiOutOpen(&h, 1, 0, 0, CALLBACK_NULL), MIDIERR_PORTGONE);
    EXPECT_EQ(h, nullptr);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_FALSE(second.outputOpen(i));
    EXPECT_FALSE(first.outputOpen(1));

    // The same holds for inputs.
    first.addInput({.name = "Keyboard"});
    second.addInput({.name = "zuxsim:out"});
    ASSERT_EQ(midiInGetNumDevs(), 2u);
    first.removeInput(0);
    HMIDIIN in = nullptr;
    Recorder rec;
    EXPECT_MM(midiInOpen(&in, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MIDIERR_PORTGONE);
    EXPECT_FALSE(second.inputOpen(0));
}

// "Already open" is about the port, wherever a later count puts it.
TEST_F(PortsTest, APortIsClaimedByWhoItIsNotWhereItIsListed) {
    midi::SimulatedTransport t;
    t.addOutput({.name = "Drum machine"});
    t.addOutput({.name = "Synth"});
    midi::setTransports({&t});
    ASSERT_EQ(midiOutGetNumDevs(), 2u);
    HMIDIOUT synth = nullptr;
    ASSERT_MM(midiOutOpen(&synth, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

    t.removeOutput(0);
    t.addOutput({.name = "Sequencer"});
    ASSERT_EQ(midiOutGetNumDevs(), 2u);
    ASSERT_EQ(outName(0), "Synth");
    HMIDIOUT h = nullptr;
    EXPECT_MM(midiOutOpen(&h, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_MM(sendThrough(1), MMSYSERR_NOERROR);
    EXPECT_EQ(t.capturedBytes(2), (Bytes{0xF0, 0x7D, 0x01, 0xF7}));
    EXPECT_MM(midiOutClose(synth), MMSYSERR_NOERROR);
    EXPECT_MM(sendThrough(0), MMSYSERR_NOERROR);
}

TEST_F(PortsTest, APortWhoseOpenThrowsIsFreeAgain) {
    midi::SimulatedTransport t;
    t.addInput({.name = "Flaky in", .openThrows = true});
    t.addOutput({.name = "Flaky out", .openThrows = true});
    midi::setTransports({&t});
    Recorder rec;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HMIDIIN in = nullptr;
        HMIDIOUT out = nullptr;
        // Claimed the first time round, the second attempt would be refused as in use.
        EXPECT_THROW(midiInOpen(&in, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), std::runtime_error);
        EXPECT_THROW(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), std::runtime_error);
    }
}

TEST_F(PortsTest, FailingQueryAndOpenGiveTheirResultsAndTheSystemsReason) {
    midi::SimulatedTransport t;
    t.addInput({.name = "Good in"});
    t.addInput({.name = "Broken in", .infoResult = MMSYSERR_NODRIVER});
    t.addInput({.name = "Busy in", .openResult = MMSYSERR_ALLOCATED, .openReason = "ALSA: Device or resource busy"});
    t.addOutput({.name = "Broken out", .infoResult = MMSYSERR_ERROR});
    t.addOutput({.name = "Busy out", .openResult = MMSYSERR_ALLOCATED});
    midi::setTransports({&t});

    MIDIINCAPSA in{};
    std::memcpy(in.szPname, "untouched", 10);
    EXPECT_MM(midiInGetDevCapsA(1, &in, sizeof in), MMSYSERR_NODRIVER);
    EXPECT_STREQ(in.szPname, "untouched");
    EXPECT_EQ(inName(2), "Busy in");
    MIDIOUTCAPSA out{};
    EXPECT_MM(midiOutGetDevCapsA(0, &out, sizeof out), MMSYSERR_ERROR);
    EXPECT_EQ(outName(1), "Busy out");
    EXPECT_MM(midiInGetDevCapsA(0, &in, sizeof in - 1), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiOutGetDevCapsA(0, nullptr, sizeof out), MMSYSERR_INVALPARAM);

    HMIDIIN hi = nullptr;
    HMIDIOUT ho = nullptr;
    Recorder rec;
    EXPECT_MM(midiInOpen(&hi, 2, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
    EXPECT_EQ(systemReason(), "ALSA: Device or resource busy");
    EXPECT_MM(midiOutOpen(&ho, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(systemReason(), "");  // this failure came with none
    EXPECT_EQ(hi, nullptr);
    EXPECT_EQ(ho, nullptr);
    // A refused open leaves the port free for the next try.
    ASSERT_MM(midiInOpen(&hi, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_MM(midiInClose(hi), MMSYSERR_NOERROR);
    ASSERT_MM(midiInOpen(&hi, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_MM(midiInClose(hi), MMSYSERR_NOERROR);
}

TEST_F(PortsTest, LongNamesAreCutSoTheyStillTellThePortsApart) {
    midi::SimulatedTransport t;
    const std::string exact(31, 'x');
    t.addInput({.name = exact});
    t.addInput({.name = "Midi-Bridge:Virtual MIDI Card 1:(capture_0) VirMIDI 1-0"});
    t.addInput({.name = "Midi-Bridge:Virtual MIDI Card 1:(capture_1) VirMIDI 1-1"});
    midi::setTransports({&t});
    ASSERT_EQ(midiInGetNumDevs(), 3u);
    EXPECT_EQ(inName(0), exact);
    EXPECT_EQ(inName(1), "(capture_0) VirMIDI 1-0");
    EXPECT_EQ(inName(2), "(capture_1) VirMIDI 1-1");
}

TEST_F(PortsTest, MapperCapabilities) {
    midi::SimulatedTransport t;
    midi::setTransports({&t});
    MIDIOUTCAPSA caps{};
    EXPECT_MM(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MIDIERR_NODEVICE);
    t.addOutput({.name = "Out"});
    ASSERT_EQ(midiOutGetNumDevs(), 1u);
    ASSERT_MM(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "MIDI Mapper");
}

TEST(ErrorText, EveryCodeHasItsOwnTerminatedTextForBothDirections) {
    const MMRESULT codes[] = {MMSYSERR_ERROR,     MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
                              MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                              MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM, MIDIERR_UNPREPARED,
                              MIDIERR_STILLPLAYING, MIDIERR_NODEVICE,  MIDIERR_PORTGONE};
    std::set<std::string> texts;
    for (MMRESULT code : codes) {
        char text[256];
        std::memset(text, 'X', sizeof text);
        EXPECT_MM(midiInGetErrorTextA(code, text, sizeof text), MMSYSERR_NOERROR) << code;
        ASSERT_NE(std::memchr(text, 0, sizeof text), nullptr) << code;
        EXPECT_GT(std::strlen(text), 0u) << code;
        // The same texts serve inputs and outputs.
        EXPECT_EQ(std::string(text).find("input"), std::string::npos) << text;
        EXPECT_EQ(std::string(text).find("output"), std::string::npos) << text;
        texts.insert(text);
        char out[256];
        EXPECT_MM(midiOutGetErrorTextA(code, out, sizeof out), MMSYSERR_NOERROR);
        EXPECT_STREQ(out, text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
}

TEST(ErrorText, CutToCapacityAndUnknownCodes) {
    char full[256];
    midiInGetErrorTextA(MMSYSERR_ALLOCATED, full, sizeof full);
    char small[9];
    std::memset(small, 'X', sizeof small);
    EXPECT_MM(midiInGetErrorTextA(MMSYSERR_ALLOCATED, small, 8), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(small), std::string(full, 7));
    EXPECT_EQ(small[8], 'X');  // nothing past the capacity

    char one[1] = {'X'};
    EXPECT_MM(midiInGetErrorTextA(MMSYSERR_ALLOCATED, one, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(one[0], '\0');
    EXPECT_MM(midiInGetErrorTextA(MMSYSERR_ALLOCATED, one, 0), MMSYSERR_INVALPARAM);
    EXPECT_MM(midiInGetErrorTextA(MMSYSERR_ALLOCATED, nullptr, 10), MMSYSERR_INVALPARAM);

    char text[256];
    EXPECT_MM(midiInGetErrorTextA(12345, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_NE(std::string(text).find("12345"), std::string::npos);
}

}  // namespace
