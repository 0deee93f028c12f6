// How the ALSA output carries each byte: raw SysEx fragments, the encoder for
// short messages, raw for anything the encoder would drop. Runs without a
// sequencer device.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "midi/transports/AlsaByteRouter.h"
#include "support/Bytes.h"

using midi::AlsaByteRouter;
using zuxtest::Bytes;

namespace {

struct Recorder {
    std::vector<std::string> steps;  // "raw F0 01 F7" or "enc 90"
    Bytes wire;                      // every byte in the order it left
    bool fail = false;

    bool raw(const std::uint8_t* data, std::size_t n) {
        std::string s = "raw";
        for (std::size_t i = 0; i < n; ++i) s += hex(data[i]);
        steps.push_back(s);
        wire.insert(wire.end(), data, data + n);
        return !fail;
    }
    bool encode(std::uint8_t b) {
        steps.push_back("enc" + hex(b));
        wire.push_back(b);
        return !fail;
    }
    static std::string hex(std::uint8_t b) {
        char buf[4];
        std::snprintf(buf, sizeof buf, " %02X", b);
        return buf;
    }
};

// Feeds the bytes as separate writes (the output flushes after each).
Recorder route(const std::vector<Bytes>& writes) {
    AlsaByteRouter router;
    Recorder rec;
    auto raw = [&](const std::uint8_t* d, std::size_t n) { return rec.raw(d, n); };
    auto enc = [&](std::uint8_t b) { return rec.encode(b); };
    for (const auto& w : writes) {
        for (auto b : w) EXPECT_TRUE(router.put(b, raw, enc));
        EXPECT_TRUE(router.flush(raw));
    }
    return rec;
}

TEST(AlsaByteRouter, ChoosesRawOrEncoderPerByte) {
    struct Case {
        const char* what;
        std::vector<Bytes> writes;
        std::vector<std::string> steps;
    } cases[] = {
        {"SysEx whole", {{0xF0, 0x7D, 0x10, 0x7E, 0xF7}}, {"raw F0 7D 10 7E F7"}},
        {"SysEx over two writes", {{0xF0, 0x7D}, {0x10, 0xF7}}, {"raw F0 7D", "raw 10 F7"}},
        {"real-time byte stays inside the fragment", {{0xF0, 0x01, 0xF8, 0x02, 0xF7}}, {"raw F0 01 F8 02 F7"}},
        {"short messages and running status",
         {{0x90, 0x40, 0x7F, 0x41, 0x00, 0xF8}},
         {"enc 90", "enc 40", "enc 7F", "enc 41", "enc 00", "enc F8"}},
        {"system common takes its data bytes, then running status ends",
         {{0xF2, 0x01, 0x02, 0x03, 0xF6, 0x04}},
         {"enc F2", "enc 01", "enc 02", "raw 03", "enc F6", "raw 04"}},
        {"data bytes with no message, before and after a SysEx",
         {{0x05, 0xF0, 0xF7, 0x06}},
         {"raw 05", "raw F0 F7", "raw 06"}},
        {"bytes with no event type", {{0xF7, 0xF4, 0xF9}}, {"raw F7", "raw F4", "raw F9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(route(c.writes).steps, c.steps);
    }
}

TEST(AlsaByteRouter, LongSysExLeavesInFragmentsOf256WithEveryByte) {
    Bytes dump(65536, 0x55);
    dump.front() = 0xF0;
    dump.back() = 0xF7;
    std::vector<Bytes> writes;
    for (std::size_t at = 0; at < dump.size(); at += 100)  // writes not aligned to fragments
        writes.emplace_back(dump.begin() + at, dump.begin() + std::min(at + 100, dump.size()));
    const Recorder rec = route(writes);
    EXPECT_EQ(rec.wire, dump);
    for (const auto& s : rec.steps) EXPECT_LE(s.size(), 3 + 3 * AlsaByteRouter::kFragment);
    EXPECT_EQ(rec.steps.front().substr(0, 6), "raw F0");
    EXPECT_EQ(rec.steps.back().substr(rec.steps.back().size() - 3), " F7");
}

TEST(AlsaByteRouter, AFailedSendIsReported) {
    AlsaByteRouter router;
    Recorder rec;
    rec.fail = true;
    auto raw = [&](const std::uint8_t* d, std::size_t n) { return rec.raw(d, n); };
    auto enc = [&](std::uint8_t b) { return rec.encode(b); };
    EXPECT_FALSE(router.put(0x90, raw, enc));
    EXPECT_TRUE(router.put(0xF0, raw, enc));  // nothing sent yet
    EXPECT_FALSE(router.flush(raw));
}

// A reset between two messages: the SysEx cut off before it leaves nothing
// behind to be glued to the next message's bytes.
TEST(AlsaByteRouter, AResetStartsTheNextMessageClean) {
    AlsaByteRouter router;
    Recorder rec;
    auto raw = [&](const std::uint8_t* d, std::size_t n) { return rec.raw(d, n); };
    auto enc = [&](std::uint8_t b) { return rec.encode(b); };
    for (std::uint8_t b : {0xF0, 0x7D, 0x01}) router.put(b, raw, enc);
    router.reset();
    for (std::uint8_t b : {0x90, 0x40, 0x7F}) router.put(b, raw, enc);
    EXPECT_TRUE(router.flush(raw));
    EXPECT_EQ(rec.steps, (std::vector<std::string>{"enc 90", "enc 40", "enc 7F"}));
}

}  // namespace
