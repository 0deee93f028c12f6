// Device IDs over several transports, capability records and error texts.
#include <cstring>
#include <set>
#include <string>

#include "EngineTestSupport.h"

using namespace enginetest;

namespace {

std::string inName(UINT id) {
    MIDIINCAPSA caps{};
    EXPECT_EQ(midiInGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR) << "input " << id;
    return caps.szPname;
}

std::string outName(UINT id) {
    MIDIOUTCAPSA caps{};
    EXPECT_EQ(midiOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR) << "output " << id;
    return caps.szPname;
}

TEST(Ports, RecordsHaveThePlatformSizes) {
    EXPECT_EQ(sizeof(MIDIINCAPSA), 44u);
    EXPECT_EQ(sizeof(MIDIOUTCAPSA), 52u);
}

TEST(Ports, IdsRunThroughTheTransportsInOrder) {
    midi::SimulatedTransport a, b;
    a.addInput({"A in 0"});
    a.addOutput({"A out 0"});
    a.addOutput({"A out 1"});
    b.addInput({"B in 0"});
    b.addInput({"B in 1"});
    b.addOutput({"B out 0"});
    midi::setTransports({&a, &b});

    ASSERT_EQ(midiInGetNumDevs(), 3u);
    ASSERT_EQ(midiOutGetNumDevs(), 3u);
    EXPECT_EQ(inName(0), "A in 0");
    EXPECT_EQ(inName(1), "B in 0");
    EXPECT_EQ(inName(2), "B in 1");
    EXPECT_EQ(outName(0), "A out 0");
    EXPECT_EQ(outName(2), "B out 0");
    MIDIINCAPSA in{};
    EXPECT_EQ(midiInGetDevCapsA(3, &in, sizeof in), MMSYSERR_BADDEVICEID);

    // Opening an ID reaches the port it names.
    Recorder rec;
    HMIDIIN h = nullptr;
    ASSERT_EQ(midiInOpen(&h, 2, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_TRUE(b.inputOpen(1));
    EXPECT_FALSE(b.inputOpen(0));
    EXPECT_FALSE(a.inputOpen(0));
    EXPECT_EQ(midiInClose(h), MMSYSERR_NOERROR);

    // Ports that come and go are counted afresh at each call.
    a.addInput({"A in 1"});
    EXPECT_EQ(midiInGetNumDevs(), 4u);
    EXPECT_EQ(inName(1), "A in 1");
    midi::setTransports({});
    EXPECT_EQ(midiInGetNumDevs(), 0u);
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
}

TEST(Ports, NamesAreCutTo31Characters) {
    midi::SimulatedTransport t;
    const std::string exact(31, 'x');
    t.addInput({exact});
    t.addInput({exact + "yz"});
    // "é" is two bytes; the cut must not leave half of it.
    t.addOutput({std::string(30, 'a') + "\xC3\xA9"});
    midi::setTransports({&t});
    EXPECT_EQ(inName(0), exact);
    EXPECT_EQ(inName(1), exact);
    EXPECT_EQ(outName(0), std::string(30, 'a'));
    midi::setTransports({});
}

TEST(Ports, FailingQueryAndOpenGiveTheirResults) {
    midi::SimulatedTransport t;
    t.addInput({"Good in"});
    t.addInput({"Broken in", false, MMSYSERR_NODRIVER});
    t.addInput({"Busy in", false, MMSYSERR_NOERROR, MMSYSERR_ALLOCATED});
    t.addOutput({"Broken out", false, MMSYSERR_ERROR});
    t.addOutput({"Busy out", false, MMSYSERR_NOERROR, MMSYSERR_ALLOCATED});
    midi::setTransports({&t});

    MIDIINCAPSA in{};
    std::memcpy(in.szPname, "untouched", 10);
    EXPECT_EQ(midiInGetDevCapsA(1, &in, sizeof in), MMSYSERR_NODRIVER);
    EXPECT_STREQ(in.szPname, "untouched");
    EXPECT_EQ(inName(2), "Busy in");
    MIDIOUTCAPSA out{};
    EXPECT_EQ(midiOutGetDevCapsA(0, &out, sizeof out), MMSYSERR_ERROR);
    EXPECT_EQ(outName(1), "Busy out");
    EXPECT_EQ(midiInGetDevCapsA(0, &in, sizeof in - 1), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof out), MMSYSERR_INVALPARAM);

    HMIDIIN hi = nullptr;
    HMIDIOUT ho = nullptr;
    Recorder rec;
    EXPECT_EQ(midiInOpen(&hi, 2, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
    EXPECT_EQ(midiOutOpen(&ho, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_EQ(hi, nullptr);
    EXPECT_EQ(ho, nullptr);
    // A refused open leaves the port free for the next try.
    ASSERT_EQ(midiInOpen(&hi, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(hi), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInOpen(&hi, 0, rec.proc(), rec.instance(), CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(hi), MMSYSERR_NOERROR);
    midi::setTransports({});
}

TEST(Ports, MapperCapabilities) {
    midi::SimulatedTransport t;
    midi::setTransports({&t});
    MIDIOUTCAPSA caps{};
    EXPECT_EQ(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MIDIERR_NODEVICE);
    t.addOutput({"Out"});
    ASSERT_EQ(midiOutGetDevCapsA(MIDI_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "MIDI Mapper");
    midi::setTransports({});
}

TEST(ErrorText, EveryCodeHasItsOwnTerminatedText) {
    const MMRESULT codes[] = {MMSYSERR_ERROR,     MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
                              MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM,
                              MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM, MIDIERR_UNPREPARED,
                              MIDIERR_STILLPLAYING, MIDIERR_NODEVICE};
    std::set<std::string> texts;
    for (MMRESULT code : codes) {
        char text[256];
        std::memset(text, 'X', sizeof text);
        EXPECT_EQ(midiInGetErrorTextA(code, text, sizeof text), MMSYSERR_NOERROR) << code;
        ASSERT_NE(std::memchr(text, 0, sizeof text), nullptr) << code;
        EXPECT_GT(std::strlen(text), 0u) << code;
        texts.insert(text);
        char out[256];
        EXPECT_EQ(midiOutGetErrorTextA(code, out, sizeof out), MMSYSERR_NOERROR);
        EXPECT_STREQ(out, text);
    }
    EXPECT_EQ(texts.size(), std::size(codes));
}

TEST(ErrorText, CutToCapacityAndUnknownCodes) {
    char full[256];
    midiInGetErrorTextA(MMSYSERR_ALLOCATED, full, sizeof full);
    char small[9];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(midiInGetErrorTextA(MMSYSERR_ALLOCATED, small, 8), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(small), std::string(full, 7));
    EXPECT_EQ(small[8], 'X');  // nothing past the capacity

    char one[1] = {'X'};
    EXPECT_EQ(midiInGetErrorTextA(MMSYSERR_ALLOCATED, one, 1), MMSYSERR_NOERROR);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(midiInGetErrorTextA(MMSYSERR_ALLOCATED, one, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiInGetErrorTextA(MMSYSERR_ALLOCATED, nullptr, 10), MMSYSERR_INVALPARAM);

    char text[256];
    EXPECT_EQ(midiInGetErrorTextA(12345, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_NE(std::string(text).find("12345"), std::string::npos);
}

}  // namespace
