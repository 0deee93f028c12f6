// The ring between the JACK process callback and the transport thread: every
// byte arrives once and in order, across the wrap, with both ends busy.

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/transports/SpscRing.h"

namespace {

TEST(SpscRing, TwoThreadsPassEveryByteInOrderAcrossTheWrap) {
    midi::SpscRing ring(1000);  // rounded up to 1024; odd chunk sizes make every wrap offset occur
    ASSERT_EQ(ring.capacity(), 1024u);
    constexpr std::size_t total = 1 << 20;
    auto byteAt = [](std::size_t i) { return static_cast<unsigned char>((i * 7 + i / 251) & 0xFF); };

    std::thread writer([&] {
        std::vector<unsigned char> chunk(97);
        for (std::size_t sent = 0, step = 1; sent < total;) {
            const std::size_t n = std::min({step, chunk.size(), total - sent});
            for (std::size_t k = 0; k < n; ++k) chunk[k] = byteAt(sent + k);
            sent += ring.write(chunk.data(), n);  // may take fewer when full
            step = step % 97 + 1;
        }
    });
    std::vector<unsigned char> got;
    got.reserve(total);
    std::vector<unsigned char> buf(61);
    for (std::size_t step = 1; got.size() < total;) {
        const std::size_t n = ring.read(buf.data(), std::min(step, buf.size()));
        got.insert(got.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
        step = step % 61 + 1;
    }
    writer.join();

    EXPECT_EQ(ring.readSpace(), 0u);
    EXPECT_EQ(ring.writeSpace(), ring.capacity());
    for (std::size_t i = 0; i < total; ++i)
        if (got[i] != byteAt(i)) FAIL() << "first wrong byte at " << i;
}

TEST(SpscRing, PeekLeavesTheBytesAndAFullRingTakesNoMore) {
    midi::SpscRing ring(8);
    const unsigned char in[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(ring.write(in, 10), 8u);
    unsigned char out[8] = {};
    EXPECT_EQ(ring.peek(out, 3), 3u);
    EXPECT_EQ(ring.readSpace(), 8u);
    ring.advance(3);
    EXPECT_EQ(ring.write(in + 8, 2), 2u);  // wraps
    EXPECT_EQ(ring.read(out, 8), 7u);
    const unsigned char expected[7] = {4, 5, 6, 7, 8, 9, 10};
    EXPECT_TRUE(std::equal(out, out + 7, expected));
}

}  // namespace
