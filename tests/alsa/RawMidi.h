// The far end of a virmidi port in the test guest: its rawmidi device,
// where a MIDI interface's cable would be. What is written here comes out
// of the sequencer port "VirMIDI 0-N"; what is sent to that port arrives here.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "support/Bytes.h"

namespace zuxtest {

class RawMidi {
public:
    explicit RawMidi(int device) {
        const std::string name = "hw:0," + std::to_string(device);
        error_ = snd_rawmidi_open(&in_, &out_, name.c_str(), SND_RAWMIDI_NONBLOCK);
        if (error_ < 0) return;
        // virmidi has no flow control into its buffer: a full one loses bytes.
        snd_rawmidi_params_t* params = nullptr;
        snd_rawmidi_params_alloca(&params);
        snd_rawmidi_params_current(in_, params);
        snd_rawmidi_params_set_buffer_size(in_, params, 256 * 1024);
        error_ = snd_rawmidi_params(in_, params);
        // Reading from the start: virmidi drops events until its rawmidi side
        // has been read or polled once.
        reader_ = std::thread([this] { readLoop(); });
    }
    ~RawMidi() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (in_) snd_rawmidi_close(in_);
        if (out_) snd_rawmidi_close(out_);
    }
    RawMidi(const RawMidi&) = delete;
    RawMidi& operator=(const RawMidi&) = delete;

    // 0, or the ALSA error of opening it.
    int error() const { return error_; }

    // Sends `bytes` down the cable, at most `bytesPerSecond` (0: at once).
    bool write(const Bytes& bytes, int bytesPerSecond) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size();) {
            const std::size_t n = std::min<std::size_t>(32, bytes.size() - at);
            const ssize_t written = snd_rawmidi_write(out_, bytes.data() + at, n);
            if (written == -EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            if (written < 0) return false;
            at += static_cast<std::size_t>(written);
            if (bytesPerSecond > 0)
                std::this_thread::sleep_until(start + std::chrono::microseconds(at * 1000000 / bytesPerSecond));
        }
        return snd_rawmidi_drain(out_) == 0;
    }

    // Everything that came out of the cable so far.
    Bytes received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void readLoop() {
        std::uint8_t buffer[4096];
        while (!stop_) {
            const ssize_t n = snd_rawmidi_read(in_, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard lock(mutex_);
                received_.insert(received_.end(), buffer, buffer + n);
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    snd_rawmidi_t* in_ = nullptr;
    snd_rawmidi_t* out_ = nullptr;
    int error_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Bytes received_;
    std::thread reader_;
};

}  // namespace zuxtest
