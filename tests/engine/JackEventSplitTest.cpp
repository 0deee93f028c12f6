// Where the JACK output cuts a byte stream into MIDI events: receivers expect
// each event to start a message or continue a SysEx, never to mix two.

#include <gtest/gtest.h>

#include <vector>

#include "midi/transports/JackStreams.h"

using midi::jackstream::eventLength;

namespace {

// Cuts the whole stream as the process callback does, event by event.
std::vector<std::vector<unsigned char>> cut(const std::vector<unsigned char>& bytes, std::size_t maxEvent) {
    std::vector<std::vector<unsigned char>> events;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = eventLength(bytes.data() + at, bytes.size() - at, maxEvent);
        EXPECT_GT(n, 0u);
        if (n == 0) break;
        events.emplace_back(bytes.begin() + at, bytes.begin() + at + n);
        at += n;
    }
    return events;
}

TEST(JackEventSplit, CutsAtMessageBoundariesAndTheSizeLimit) {
    using Bytes = std::vector<unsigned char>;
    struct Case {
        const char* what;
        Bytes stream;
        std::size_t maxEvent;
        std::vector<Bytes> events;
    } cases[] = {
        {"whole SysEx", {0xF0, 0x7D, 0x10, 0x7E, 0xF7}, 256, {{0xF0, 0x7D, 0x10, 0x7E, 0xF7}}},
        {"SysEx over the limit", {0xF0, 1, 2, 3, 4, 0xF7}, 4, {{0xF0, 1, 2, 3}, {4, 0xF7}}},
        {"two SysEx back to back", {0xF0, 1, 0xF7, 0xF0, 2, 0xF7}, 256, {{0xF0, 1, 0xF7}, {0xF0, 2, 0xF7}}},
        {"real-time byte inside a SysEx stands alone",
         {0xF0, 1, 0xF8, 2, 0xF7},
         256,
         {{0xF0, 1}, {0xF8}, {2, 0xF7}}},
        {"short messages one per event",
         {0x90, 0x40, 0x7F, 0xC0, 5, 0xF8, 0xF2, 1, 2, 0xF6},
         256,
         {{0x90, 0x40, 0x7F}, {0xC0, 5}, {0xF8}, {0xF2, 1, 2}, {0xF6}}},
        {"a status byte ends an unfinished SysEx", {0xF0, 1, 0x90, 0x40, 0x7F}, 256, {{0xF0, 1}, {0x90, 0x40, 0x7F}}},
        {"stray F7 alone", {0xF7, 0xF0, 0xF7}, 256, {{0xF7}, {0xF0, 0xF7}}},
        {"data bytes without status kept together", {1, 2, 3, 0xF0, 0xF7}, 256, {{1, 2, 3}, {0xF0, 0xF7}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(cut(c.stream, c.maxEvent), c.events);
    }
}

// The writer may have queued only part of a message; what is there goes out
// without waiting and nothing is skipped.
TEST(JackEventSplit, PartialMessageAtTheEndOfWhatIsQueued) {
    const unsigned char partial[] = {0x90, 0x40};
    EXPECT_EQ(eventLength(partial, 2, 256), 2u);
    const unsigned char sysexStart[] = {0xF0, 0x7D, 0x10};
    EXPECT_EQ(eventLength(sysexStart, 3, 256), 3u);
}

}  // namespace
