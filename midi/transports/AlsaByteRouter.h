// How the ALSA output carries a byte stream: a SysEx leaves as raw fragments
// of at most 256 bytes, exactly as given (the first starts with F0, the last
// ends with F7); short messages go through the sequencer's MIDI encoder; a
// byte no event type can carry (a data byte without a message, a stray F7,
// an undefined status) leaves raw too, since the encoder would drop it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/MessageLength.h"

namespace midi {

class AlsaByteRouter {
public:
    static constexpr std::size_t kFragment = 256;  // the sequencer's usual SysEx event size

    AlsaByteRouter() { fragment_.reserve(kFragment); }

    // raw(const uint8_t*, size_t) sends one raw event, encode(uint8_t) feeds
    // the encoder; each returns false when sending failed.
    template <typename Raw, typename Encode>
    bool put(std::uint8_t b, Raw&& raw, Encode&& encode) {
        if (inSysex_) {
            fragment_.push_back(b);  // real-time bytes included: the wire sees them unchanged
            if (b == 0xF7) inSysex_ = false;
            if (b == 0xF7 || fragment_.size() == kFragment) return flush(raw);
            return true;
        }
        if (b == 0xF0) {
            inSysex_ = true;
            runningStatus_ = false;
            commonData_ = 0;
            fragment_.assign(1, b);
            return true;
        }
        if (b == 0xF7 || b == 0xF4 || b == 0xF5 || b == 0xF9 || b == 0xFD) return raw(&b, 1);
        if (b >= 0x80 && !isRealTime(b)) {
            runningStatus_ = b < 0xF0;
            commonData_ = b >= 0xF0 ? std::max(0, dataBytesFor(b)) : 0;
        } else if (b < 0x80) {
            if (commonData_ > 0)
                --commonData_;
            else if (!runningStatus_)
                return raw(&b, 1);
        }
        return encode(b);
    }

    // Sends what there is of a SysEx under way; the next bytes continue it.
    template <typename Raw>
    bool flush(Raw&& raw) {
        if (fragment_.empty()) return true;
        const bool ok = raw(fragment_.data(), fragment_.size());
        fragment_.clear();
        return ok;
    }

    // Forgets a message under way, so the next byte starts clean (a reset).
    void reset() {
        fragment_.clear();
        inSysex_ = false;
        runningStatus_ = false;
        commonData_ = 0;
    }

private:
    std::vector<std::uint8_t> fragment_;
    bool inSysex_ = false;
    bool runningStatus_ = false;  // data bytes continue the last channel message
    int commonData_ = 0;          // data bytes a system common message still takes
};

}  // namespace midi
