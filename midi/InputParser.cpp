#include "midi/InputParser.h"

#include <atomic>

#include "midi/MessageLength.h"

namespace midi {

namespace {

DWORD pack(std::uint8_t status, const std::uint8_t* data, int count) {
    DWORD packed = status;
    if (count > 0) packed |= DWORD{data[0]} << 8;
    if (count > 1) packed |= DWORD{data[1]} << 16;
    return packed;
}

}  // namespace

void InputParser::feed(const std::uint8_t* data, std::size_t size, Client& client) {
    for (std::size_t i = 0; i < size; ++i) byte(data[i], client);
}

void InputParser::byte(std::uint8_t b, Client& client) {
    if (isRealTime(b)) {  // may come anywhere, even inside a SysEx
        client.shortMessage(MIM_DATA, b);
        return;
    }
    if (inSysEx_) {
        if (b < 0x80 || b == 0xF7) {
            storeSysEx(b, client);
            return;
        }
        breakSysEx(client);  // then the status byte counts as itself
    }
    if (b == 0xF0) {
        inSysEx_ = true;
        status_ = 0;
        have_ = 0;
        storeSysEx(b, client);
        return;
    }
    if (b >= 0x80) {
        const int need = dataBytesFor(b);
        have_ = 0;
        if (need < 0) {
            status_ = 0;
            client.shortMessage(MIM_ERROR, b);
        } else if (need == 0) {
            status_ = 0;
            client.shortMessage(MIM_DATA, b);
        } else {
            status_ = b;
            need_ = need;
        }
        return;
    }
    if (status_ == 0) {  // a data byte with no status to belong to
        client.shortMessage(MIM_ERROR, b);
        return;
    }
    data_[have_++] = b;
    if (have_ < need_) return;
    client.shortMessage(MIM_DATA, pack(status_, data_, have_));
    have_ = 0;
    if (status_ >= 0xF0) status_ = 0;  // system common messages set no running status
}

void InputParser::storeSysEx(std::uint8_t b, Client& client) {
    if (!current_) current_ = client.frontHeader();
    if (b == 0xF7) inSysEx_ = false;
    if (!current_) return;  // nowhere to put it: dropped
    MIDIHDR* h = current_;
    // The count is published after the byte: others may watch it rise.
    std::atomic_ref<DWORD> recorded(h->dwBytesRecorded);
    const DWORD n = recorded.load(std::memory_order_relaxed);
    if (n < h->dwBufferLength) {
        h->lpData[n] = static_cast<char>(b);
        recorded.store(n + 1, std::memory_order_release);
    }
    if (b == 0xF7 || n + 1 >= h->dwBufferLength) {
        current_ = nullptr;
        client.headerDone(h, MIM_LONGDATA);
    }
}

void InputParser::breakSysEx(Client& client) {
    inSysEx_ = false;
    if (!current_) current_ = client.frontHeader();
    if (!current_) return;
    MIDIHDR* h = current_;
    current_ = nullptr;
    client.headerDone(h, MIM_LONGERROR);
}

void InputParser::dataLost(Client& client) {
    // What was lost may have been part of the SysEx under way, or a whole
    // message between two: either way the header that would have held it
    // goes back damaged.
    breakSysEx(client);
    status_ = 0;
    have_ = 0;
}

void InputParser::clear() {
    current_ = nullptr;
    inSysEx_ = false;
    status_ = 0;
    have_ = 0;
}

}  // namespace midi
