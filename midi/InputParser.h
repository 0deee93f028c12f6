// Turns an input port's raw byte stream into the messages an input handle
// delivers: SysEx bytes stored into the queued headers, short messages packed
// into one word. No threads and no locks here, so it can be tested and fuzzed
// on its own; the engine runs it on an input's delivery thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "midi/MidiApi.h"

namespace midi {

class InputParser {
public:
    // What the parser needs from its input handle.
    class Client {
    public:
        virtual ~Client() = default;
        // The first queued header, or nullptr when none is queued. Once it has
        // returned a header, that header stays first until the parser hands it
        // back through headerDone (or clear() is called).
        virtual MIDIHDR* frontHeader() = 0;
        // The front header leaves the queue: MIM_LONGDATA or MIM_LONGERROR.
        virtual void headerDone(MIDIHDR* header, UINT message) = 0;
        // MIM_DATA with a packed short message (status | d1 << 8 | d2 << 16),
        // or MIM_ERROR with a byte that fits no message.
        virtual void shortMessage(UINT message, DWORD packed) = 0;
    };

    void feed(const std::uint8_t* data, std::size_t size, Client& client);
    // Bytes were lost upstream: the queued header goes back as MIM_LONGERROR,
    // with what it holds of a SysEx under way; that SysEx's remaining bytes
    // are not taken for a new message.
    void dataLost(Client& client);
    // Forgets any message under way (input stopped or reset). The engine hands
    // the headers back itself.
    void clear();

private:
    void byte(std::uint8_t b, Client& client);
    void storeSysEx(std::uint8_t b, Client& client);
    void breakSysEx(Client& client);

    MIDIHDR* current_ = nullptr;  // the front header while the parser fills it
    bool inSysEx_ = false;
    std::uint8_t status_ = 0;     // running status, or the system common message under way
    std::uint8_t data_[2] = {};
    int have_ = 0;                // data bytes collected for status_
    int need_ = 0;                // data bytes status_ takes
};

}  // namespace midi
