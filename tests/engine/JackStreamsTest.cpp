// The byte streams between our threads and JACK ports, driven here without
// a server: where the output cuts a stream into events (receivers expect
// each event to start a message or continue a SysEx, never to mix two),
// what a reset and a drain do, and where the input puts a loss.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "midi/transports/JackStreams.h"
#include "support/Bytes.h"

using midi::jackstream::eventLength;
using midi::jackstream::InStream;
using midi::jackstream::OutStream;
using zuxtest::Bytes;

namespace {

// Cuts the whole stream as the process callback does, event by event.
std::vector<Bytes> cut(const Bytes& bytes, std::size_t maxEvent) {
    std::vector<Bytes> events;
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

// A cycle's port buffer with room for `room` bytes.
struct FakeOutputBuffer : midi::jackstream::EventSink {
    std::size_t room = 32 * 1024;
    std::vector<Bytes> events;
    std::size_t maxEventSize() override { return room; }
    std::uint8_t* reserve(std::size_t size) override {
        if (size > room) return nullptr;
        room -= size;
        events.emplace_back(size);
        return events.back().data();
    }
};

TEST(JackOutStream, AResetDropsWhatTheCycleHasNotTakenYet) {
    OutStream stream;
    const Bytes cutOff(300, 0x11), next = {0xF0, 0x7D, 0x01, 0xF7};
    ASSERT_TRUE(stream.write(cutOff.data(), cutOff.size()));
    stream.discard();
    ASSERT_TRUE(stream.write(next.data(), next.size()));
    FakeOutputBuffer port;
    stream.process(port);
    EXPECT_EQ(port.events, std::vector<Bytes>{next});
}

// A port that takes nothing, while cycles go on (the peer's buffer stays
// full): closing must not hang on the drain.
TEST(JackOutStream, DrainGivesUpAfterItsLimitEvenWhileCyclesRun) {
    OutStream stream;
    const Bytes bytes = {0xF0, 0x01, 0xF7};
    ASSERT_TRUE(stream.write(bytes.data(), bytes.size()));
    std::atomic<bool> stop{false};
    std::thread cycles([&] {
        while (!stop) {
            FakeOutputBuffer full;
            full.room = 0;
            stream.process(full);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto drained = std::async(std::launch::async, [&] { return stream.drain(200); });
    ASSERT_EQ(drained.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_FALSE(drained.get());
    stop = true;
    cycles.join();
}

// One cycle's events at an input port.
struct FakeInputBuffer : midi::jackstream::EventSource {
    std::vector<Bytes> events;
    bool lost = false;
    std::uint32_t count() override { return static_cast<std::uint32_t>(events.size()); }
    bool event(std::uint32_t i, const std::uint8_t*& data, std::size_t& size) override {
        data = events[i].data();
        size = events[i].size();
        return true;
    }
    bool senderLost() override { return lost; }
};

// What the reader hears, in order: each chunk as hex, a loss as "LOST".
std::vector<std::string> heard(InStream& stream) {
    std::vector<std::string> out;
    stream.poll(
        0,
        [&](const std::uint8_t* data, std::size_t size) {
            std::string s;
            for (std::size_t i = 0; i < size; ++i) s += (i ? " " : "") + std::to_string(data[i]);
            out.push_back(s);
        },
        [&] { out.push_back("LOST"); });
    return out;
}

TEST(JackInStream, ALossIsHeardWhereItHappened) {
    using Heard = std::vector<std::string>;
    struct Case {
        const char* what;
        bool missedBefore;
        bool senderLost;
        Heard heard;
    } cases[] = {
        {"a clean cycle", false, false, {"240 1", "2 247"}},
        // Cycles went by without us: the loss lies before this cycle's events.
        {"cycles missed", true, false, {"LOST", "240 1", "2 247"}},
        // The sender's lost events may lie anywhere in the cycle: every
        // SysEx with a byte in it is damaged, also one that ends in it.
        {"the sender lost events", false, true, {"LOST", "240 1", "LOST", "2 247", "LOST"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InStream stream;
        FakeInputBuffer cycle;
        cycle.events = {{0xF0, 0x01}, {0x02, 0xF7}};
        cycle.lost = c.senderLost;
        stream.process(cycle, c.missedBefore);
        EXPECT_EQ(heard(stream), c.heard);
    }
}

}  // namespace
