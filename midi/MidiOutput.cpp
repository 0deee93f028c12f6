// Output handles: long messages go to a worker thread that hands them to the
// transport, paced for hardware ports, and marks each header done after its
// last byte; and the midiOut* calls.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/DeviceSpace.h"
#include "midi/HandleRegistry.h"
#include "midi/HeaderFlags.h"

namespace midi {

namespace {

using Clock = std::chrono::steady_clock;

// The MIDI wire: 31,250 baud, 10 bits a byte.
constexpr auto kWireByteTime = std::chrono::microseconds(320);
// Small chunks keep a hardware port's kernel buffer shallow and a reset quick;
// software ports take larger ones as fast as they can.
constexpr std::size_t kHardwareChunk = 32;
constexpr std::size_t kSoftwareChunk = 256;

class MidiOut {
public:
    MidiOut(PortRef ref, std::unique_ptr<OutputPort> port, bool hardware)
        : ref_(ref), port_(std::move(port)), hardware_(hardware) {
        thread_ = std::thread([this] { work(); });
    }
    ~MidiOut() {
        if (!thread_.joinable()) return;  // closed
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            cancel_ = true;
        }
        changed_.notify_all();
        port_->cancel();
        thread_.join();
    }

    HMIDIOUT handle() { return reinterpret_cast<HMIDIOUT>(this); }
    const PortRef& portRef() const { return ref_; }

    MMRESULT longMsg(MIDIHDR& h) {
        if (!(headerFlags(h) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
        {
            std::lock_guard lock(mutex_);
            if (quit_) return MMSYSERR_INVALHANDLE;
            if (headerFlags(h) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
            setHeaderFlags(h, MHDR_INQUEUE, MHDR_DONE);
            pending_.push_back({&h, reinterpret_cast<const std::uint8_t*>(h.lpData),
                                h.dwBufferLength});
        }
        changed_.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Abandons what is not sent yet; once this returns the worker no longer
    // touches any header or its data.
    MMRESULT reset() {
        std::unique_lock lock(mutex_);
        cancel_ = true;
        changed_.notify_all();
        while (busy_) {
            // Repeated: a write may have begun just after an earlier cancel.
            lock.unlock();
            port_->cancel();
            lock.lock();
            changed_.wait_for(lock, std::chrono::milliseconds(10), [&] { return !busy_; });
        }
        for (const Job& job : pending_) setHeaderFlags(*job.header, MHDR_DONE, MHDR_INQUEUE);
        pending_.clear();
        cancel_ = false;
        broken_ = false;
        return MMSYSERR_NOERROR;
    }

    MMRESULT close() {
        {
            std::lock_guard lock(mutex_);
            if (quit_) return MMSYSERR_INVALHANDLE;
            if (!pending_.empty()) return MIDIERR_STILLPLAYING;
            quit_ = true;
        }
        changed_.notify_all();
        thread_.join();
        port_.reset();
        return MMSYSERR_NOERROR;
    }

private:
    struct Job {
        MIDIHDR* header;
        const std::uint8_t* data;
        std::size_t size;
    };

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return quit_ || (!pending_.empty() && !cancel_ && !broken_); });
            if (quit_) return;
            const Job job = pending_.front();
            busy_ = true;
            const bool sent = send(job, lock);
            busy_ = false;
            if (sent && !cancel_) {
                pending_.pop_front();
                setHeaderFlags(*job.header, MHDR_DONE, MHDR_INQUEUE);  // the last touch
            } else if (!cancel_) {
                // The port is gone: the header stays undone, so the caller sees
                // the failure, until midiOutReset takes it back.
                broken_ = true;
            }
            changed_.notify_all();
        }
    }

    // Called and returns with the lock held; writes without it.
    bool send(const Job& job, std::unique_lock<std::mutex>& lock) {
        // Byte k of the message leaves no earlier than k byte times after the
        // wire is free, so a hardware port never gets more than the wire takes.
        const Clock::time_point base = std::max(Clock::now(), wireFree_);
        const std::size_t chunk = hardware_ ? kHardwareChunk : kSoftwareChunk;
        for (std::size_t off = 0; off < job.size;) {
            const std::size_t n = std::min(chunk, job.size - off);
            if (hardware_) {
                const Clock::time_point due = base + kWireByteTime * (off + n - 1);
                changed_.wait_until(lock, due, [&] { return cancel_; });
            }
            if (cancel_) return false;
            lock.unlock();
            const bool ok = port_->write(job.data + off, n);
            lock.lock();
            if (!ok) return false;
            off += n;
        }
        if (hardware_) wireFree_ = base + kWireByteTime * job.size;
        return true;
    }

    const PortRef ref_;
    std::unique_ptr<OutputPort> port_;
    const bool hardware_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> pending_;  // the front one is being sent
    bool busy_ = false;
    bool cancel_ = false;
    bool broken_ = false;
    bool quit_ = false;
    Clock::time_point wireFree_{};

    std::thread thread_;
};

// Never destroyed, so a handle left open at exit is not torn down while
// other parts of the program are already gone.
HandleRegistry<MidiOut>& outputs() {
    static auto* registry = new HandleRegistry<MidiOut>;
    return *registry;
}

}  // namespace

}  // namespace midi

using namespace midi;

MMRESULT midiOutOpen(LPHMIDIOUT phmo, UINT uDeviceID, DWORD_PTR /*dwCallback*/,
                     DWORD_PTR /*dwInstance*/, DWORD fdwOpen) {
    if (!phmo) return MMSYSERR_INVALPARAM;
    if (fdwOpen != CALLBACK_NULL) return MMSYSERR_INVALFLAG;
    std::uintptr_t id = uDeviceID;
    if (isMapper(id)) {
        if (portCount(Direction::Output) == 0) return MIDIERR_NODEVICE;
        id = 0;  // the mapper plays through the first port
    }
    PortRef ref;
    if (MMRESULT r = findPort(Direction::Output, id, ref)) return r;
    if (!claimPort(Direction::Output, ref)) return MMSYSERR_ALLOCATED;

    PortInfo info;
    // A port that cannot say what it is gets paced, which is always safe.
    const bool hardware =
        ref.transport->outputInfo(ref.index, info) != MMSYSERR_NOERROR || info.hardware;
    std::unique_ptr<OutputPort> port;
    MMRESULT r = ref.transport->openOutput(ref.index, port);
    if (r == MMSYSERR_NOERROR && !port) r = MMSYSERR_ERROR;
    if (r != MMSYSERR_NOERROR) {
        releasePort(Direction::Output, ref);
        return r;
    }
    auto out = std::make_shared<MidiOut>(ref, std::move(port), hardware);
    outputs().add(out);
    *phmo = out->handle();
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutPrepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (!outputs().find(hmo)) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pmh, cbmh) || !pmh->lpData) return MMSYSERR_INVALPARAM;
    setHeaderFlags(*pmh, MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutUnprepareHeader(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    if (!outputs().find(hmo)) return MMSYSERR_INVALHANDLE;
    return unprepareHeader(pmh, cbmh);
}

MMRESULT midiOutLongMsg(HMIDIOUT hmo, LPMIDIHDR pmh, UINT cbmh) {
    auto out = outputs().find(hmo);
    if (!out) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    return out->longMsg(*pmh);
}

MMRESULT midiOutReset(HMIDIOUT hmo) {
    auto out = outputs().find(hmo);
    return out ? out->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiOutClose(HMIDIOUT hmo) {
    auto out = outputs().find(hmo);
    if (!out) return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = out->close()) return r;
    outputs().remove(hmo);
    releasePort(Direction::Output, out->portRef());
    return MMSYSERR_NOERROR;
}
