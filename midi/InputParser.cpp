#include "midi/InputParser.h"

namespace midi {

namespace {

// Data bytes a status byte takes; -1 for bytes that start no message.
int dataBytesFor(std::uint8_t status) {
    switch (status & 0xF0) {
    case 0x80: case 0x90: case 0xA0: case 0xB0: case 0xE0: return 2;
    case 0xC0: case 0xD0: return 1;
    default: break;
    }
    switch (status) {
    case 0xF1: case 0xF3: return 1;
    case 0xF2: return 2;
    case 0xF6: return 0;
    default: return -1;  // F4, F5 undefined; F7 without a SysEx
    }
}

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
    if (b >= 0xF8) {  // real time: may come anywhere, even inside a SysEx
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
    if (h->dwBytesRecorded < h->dwBufferLength) h->lpData[h->dwBytesRecorded++] = static_cast<char>(b);
    if (b == 0xF7 || h->dwBytesRecorded >= h->dwBufferLength) {
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
    if (inSysEx_) breakSysEx(client);
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
