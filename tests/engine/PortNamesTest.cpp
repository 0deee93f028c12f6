// The names the port lists show: whole when they fit, and otherwise the part
// that tells a port from the others, within the record's 31 bytes.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "midi/PortNames.h"

namespace {

using Names = std::vector<std::string>;

bool wholeCharacters(const std::string& s) {
    // No UTF-8 sequence cut at either end: continuation bytes never start
    // the text, and the last lead byte has all its continuation bytes.
    if (!s.empty() && (static_cast<unsigned char>(s.front()) & 0xC0) == 0x80) return false;
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        if (i + len > s.size()) return false;
        i += len;
    }
    return true;
}

TEST(PortNames, ShownWithinTheRecordAndApart) {
    struct Case {
        const char* what;
        Names names;
        Names shown;
    } cases[] = {
        {"names that fit are shown whole, also when alike",
         {"Midi Through Port-0", "VirMIDI 0-0", "VirMIDI 0-0", std::string(31, 'x')},
         {"Midi Through Port-0", "VirMIDI 0-0", "VirMIDI 0-0", std::string(31, 'x')}},
        {"PipeWire's bridge: the ports of one card differ only at the end",
         {"Midi-Bridge:Virtual MIDI Card 1:(capture_0) VirMIDI 1-0",
          "Midi-Bridge:Virtual MIDI Card 1:(capture_1) VirMIDI 1-1",
          "Midi-Bridge:Midi Through:(capture_0) Midi Through Port-0"},
         {"(capture_0) VirMIDI 1-0", "(capture_1) VirMIDI 1-1", "(capture_0) Midi Through Port-0"}},
        {"a USB interface with two ports",
         {"Midi-Bridge:UM-ONE 1:(capture_0) UM-ONE MIDI 1", "Midi-Bridge:UM-ONE 1:(capture_1) UM-ONE MIDI 2"},
         {"(capture_0) UM-ONE MIDI 1", "(capture_1) UM-ONE MIDI 2"}},
        {"a2j: the client number tells them apart",
         {"a2j:Midi Through [14] (capture): Midi Through Port-0", "a2j:Midi Through [15] (capture): Midi Through Port-0"},
         {"[14] (capture): Midi Through", "[15] (capture): Midi Through"}},
        {"one long name among short ones keeps its tail",
         {"system:midi_capture_1", "Midi-Bridge:UM-ONE 1:(capture_0) UM-ONE MIDI 1"},
         {"system:midi_capture_1", "1:(capture_0) UM-ONE MIDI 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(midi::shownNames(c.names), c.shown);
    }
}

// Whatever the names, every shown name fits, is made of whole characters,
// and a cut name never equals another shown name.
TEST(PortNames, CutNamesFitAndNeverClash) {
    const std::string e = "\xC3\xA9";  // é, two bytes
    const Names cases[] = {
        {std::string(30, 'a') + e, std::string(29, 'a') + e + e},
        {"client:" + std::string(40, 'p') + "1", "client:" + std::string(40, 'p') + "2"},
        {"x:" + std::string(20, 'q') + "A" + std::string(30, 'r'), "x:" + std::string(20, 'q') + "B" + std::string(30, 'r')},
        {std::string(40, 'z'), std::string(40, 'z'), std::string(31, 'z')},
        {e + e + e + e + e + e + e + e + e + e + e + e + e + e + e + e + "1",
         e + e + e + e + e + e + e + e + e + e + e + e + e + e + e + e + "2"},
    };
    for (const Names& names : cases) {
        const Names shown = midi::shownNames(names);
        ASSERT_EQ(shown.size(), names.size());
        std::set<std::string> fitting;
        for (std::size_t i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i]);
            EXPECT_LE(shown[i].size(), 31u);
            EXPECT_TRUE(wholeCharacters(shown[i]));
            if (names[i].size() <= 31) fitting.insert(shown[i]);
        }
        std::set<std::string> cut;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].size() <= 31) continue;
            EXPECT_EQ(fitting.count(shown[i]), 0u) << shown[i];
            EXPECT_TRUE(cut.insert(shown[i]).second) << shown[i];
        }
    }
}

}  // namespace
