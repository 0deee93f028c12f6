// libFuzzer target for the input parser. The first three bytes shape the run:
//   [0] header size - 1 (1..256 bytes),
//   [1] bit 0: only [2] % 8 headers to fill, else a fresh one whenever asked;
//       bit 1: report lost bytes at some chunk boundaries,
//   [2] seed for the chunk sizes,
// and the rest is the byte stream. Headers sit in exactly sized heap buffers,
// so AddressSanitizer sees any byte stored outside one; a simple model of the
// stream checks that no SysEx byte that had a header to go to is lost.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <memory>
#include <vector>

#include "midi/InputParser.h"
#include "support/Bytes.h"

namespace {

using zuxtest::Bytes;

void check(bool ok) {
    if (!ok) std::abort();
}

struct Event {
    UINT message;
    DWORD packed;
    Bytes bytes;
    bool operator==(const Event&) const = default;
};

class Client : public midi::InputParser::Client {
public:
    Client(std::size_t headerSize, bool limited, int supply)
        : headerSize_(headerSize), limited_(limited), supply_(supply) {}
    ~Client() override {
        for (MIDIHDR* h : queue_) release(h);
    }

    MIDIHDR* frontHeader() override {
        if (queue_.empty() && (!limited_ || supply_-- > 0)) {
            auto* h = new MIDIHDR{};
            h->lpData = static_cast<char*>(std::malloc(headerSize_));
            h->dwBufferLength = static_cast<DWORD>(headerSize_);
            queue_.push_back(h);
        }
        return queue_.empty() ? nullptr : queue_.front();
    }
    void headerDone(MIDIHDR* h, UINT message) override {
        check(!queue_.empty() && queue_.front() == h);
        check(h->dwBytesRecorded <= h->dwBufferLength);
        check(message == MIM_LONGDATA || message == MIM_LONGERROR);
        Bytes bytes(h->lpData, h->lpData + h->dwBytesRecorded);
        // Handed back as done only when full or at the end of the message.
        if (message == MIM_LONGDATA)
            check(h->dwBytesRecorded == h->dwBufferLength ||
                  (!bytes.empty() && bytes.back() == 0xF7));
        stored_.insert(stored_.end(), bytes.begin(), bytes.end());
        events_.push_back({message, 0, std::move(bytes)});
        queue_.pop_front();
        release(h);
    }
    void shortMessage(UINT message, DWORD packed) override {
        check(message == MIM_DATA || message == MIM_ERROR);
        events_.push_back({message, packed, {}});
    }

    // Bytes stored so far, the header still being filled included.
    Bytes stored() const {
        Bytes all = stored_;
        if (!queue_.empty()) all.insert(all.end(), queue_.front()->lpData,
                                        queue_.front()->lpData + queue_.front()->dwBytesRecorded);
        return all;
    }
    const std::vector<Event>& events() const { return events_; }

private:
    static void release(MIDIHDR* h) {
        std::free(h->lpData);
        delete h;
    }

    std::size_t headerSize_;
    bool limited_;
    int supply_;
    std::deque<MIDIHDR*> queue_;
    std::vector<Event> events_;
    Bytes stored_;
};

// What the stream holds, by plain rules: SysEx bytes, damaged headers,
// real-time bytes.
struct Model {
    Bytes sysex;
    int broken = 0;
    int realTime = 0;
    bool in = false;

    void byte(std::uint8_t b) {
        if (b >= 0xF8) {
            ++realTime;
        } else if (in && (b < 0x80 || b == 0xF7)) {
            sysex.push_back(b);
            in = b != 0xF7;
        } else {
            if (in) ++broken;
            in = b == 0xF0;
            if (in) sysex.push_back(b);
        }
    }
    // A loss damages the header waiting for bytes, in a SysEx or between two.
    void lost() {
        ++broken;
        in = false;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t headerSize = 1 + data[0];
    const bool limited = data[1] & 1;
    const bool losses = data[1] & 2;
    std::uint32_t seed = data[2] * 2654435761u + 1;
    const std::uint8_t* stream = data + 3;
    const std::size_t length = size - 3;

    Client chunked(headerSize, limited, data[2] % 8);
    midi::InputParser parser;
    Model model;
    for (std::size_t off = 0; off < length;) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t n = std::min<std::size_t>(1 + (seed >> 16) % 64, length - off);
        parser.feed(stream + off, n, chunked);
        for (std::size_t i = 0; i < n; ++i) model.byte(stream[off + i]);
        off += n;
        if (losses && (seed >> 8) % 5 == 0) {
            parser.dataLost(chunked);
            model.lost();
        }
    }

    int realTime = 0, errors = 0;
    for (const Event& e : chunked.events()) {
        if (e.message == MIM_DATA && e.packed >= 0xF8 && e.packed <= 0xFF) ++realTime;
        if (e.message == MIM_LONGERROR) ++errors;
    }
    check(realTime == model.realTime);
    const Bytes stored = chunked.stored();
    if (limited) {
        check(stored.size() <= model.sysex.size());
        return 0;
    }
    // A header was always there, so every SysEx byte is stored, in order,
    // and each broken message came back as an error.
    check(stored == model.sysex);
    check(errors == model.broken);

    // How the stream is cut into chunks changes nothing.
    if (!losses) {
        Client whole(headerSize, false, 0);
        midi::InputParser once;
        once.feed(stream, length, whole);
        check(whole.events() == chunked.events());
    }
    return 0;
}
