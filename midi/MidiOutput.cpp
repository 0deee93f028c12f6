// Output handles: long messages go to a worker thread that hands them to the
// transport, paced to the wire for paced ports, and marks each header done
// once its last byte has left; and the midiOut* calls.
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
#include "midi/Log.h"
#include "midi/Wire.h"

namespace midi {

namespace {

using Clock = std::chrono::steady_clock;

// Small chunks keep a hardware port's kernel buffer shallow (about 4 KiB,
// and an overrun there is dropped silently) and a reset quick; software
// ports take larger ones as fast as they can.
constexpr std::size_t kPacedChunk = 32;
constexpr std::size_t kSoftwareChunk = 256;
// What a paced port may be given ahead of the wire: two chunks, 20 ms.
constexpr std::size_t kPacedBacklog = 2 * kPacedChunk;

// Paces from the last write, as if the port were the wire behind a buffer
// of kPacedBacklog bytes: a chunk leaves once the buffer has room for it.
// After a stall (a loaded machine, a stopped process, a suspend) nothing is
// made up for, so no stretch of time ever carries more than the wire does
// plus the backlog. While on time, the pace holds the wire rate exactly.
class WirePacer {
public:
    Clock::time_point due(std::size_t bytes) const {
        return wireFree_ + wireTime(bytes) - wireTime(kPacedBacklog);
    }
    void sent(std::size_t bytes) { wireFree_ = std::max(wireFree_, Clock::now()) + wireTime(bytes); }

private:
    Clock::time_point wireFree_{};
};

void setOffset(MIDIHDR& h, DWORD bytes) {
    std::atomic_ref<DWORD>(h.dwOffset).store(bytes, std::memory_order_release);
}

class MidiOut {
public:
    MidiOut(PortClaim claim, std::unique_ptr<OutputPort> port, bool paced)
        : claim_(std::move(claim)), port_(std::move(port)), paced_(paced) {
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

    MMRESULT longMsg(MIDIHDR& h) {
        if (!(MidiHdrFlags(h) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
        {
            std::lock_guard lock(mutex_);
            if (quit_) return MMSYSERR_INVALHANDLE;
            if (MidiHdrFlags(h) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
            setOffset(h, 0);
            setHeaderFlags(h, MHDR_INQUEUE, MHDR_DONE);
            pending_.push_back({&h, reinterpret_cast<const std::uint8_t*>(h.lpData),
                                h.dwBufferLength});
        }
        changed_.notify_all();
        return MMSYSERR_NOERROR;
    }

    // Abandons what is not sent yet, also what the system holds; once this
    // returns the worker no longer touches any header or its data.
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
        port_->discard();
        for (const Job& job : pending_) setHeaderFlags(*job.header, MHDR_DONE, MHDR_INQUEUE);
        pending_.clear();
        cancel_ = false;
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
        claim_ = PortClaim();
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
            changed_.wait(lock, [&] { return quit_ || (!pending_.empty() && !cancel_); });
            if (quit_) return;
            const Job job = pending_.front();
            busy_ = true;
            const bool sent = send(job, lock);
            busy_ = false;
            if (!cancel_) {
                // Done either way: a failed send comes back at once, its
                // dwOffset short of the length.
                if (!sent) qCDebug(zuxEngine) << "output: the send failed after" << job.header->dwOffset << "bytes";
                pending_.pop_front();
                setHeaderFlags(*job.header, MHDR_DONE, MHDR_INQUEUE);  // the last touch
            }
            changed_.notify_all();
        }
    }

    // Called and returns with the lock held; writes without it. dwOffset
    // reaches the length only once the port has the last byte.
    bool send(const Job& job, std::unique_lock<std::mutex>& lock) {
        const std::size_t chunk = paced_ ? kPacedChunk : kSoftwareChunk;
        for (std::size_t off = 0; off < job.size;) {
            const std::size_t n = std::min(chunk, job.size - off);
            if (paced_) changed_.wait_until(lock, pacer_.due(n), [&] { return cancel_; });
            if (cancel_) return false;
            lock.unlock();
            const bool ok = port_->write(job.data + off, n);
            lock.lock();
            if (!ok) return false;
            if (paced_) pacer_.sent(n);
            off += n;
            if (off < job.size) setOffset(*job.header, static_cast<DWORD>(off));
        }
        lock.unlock();
        const bool finished = port_->finish();
        lock.lock();
        if (!finished || cancel_) return false;
        setOffset(*job.header, static_cast<DWORD>(job.size));
        return true;
    }

    PortClaim claim_;
    std::unique_ptr<OutputPort> port_;
    const bool paced_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> pending_;  // the front one is being sent
    bool busy_ = false;
    bool cancel_ = false;
    bool quit_ = false;
    WirePacer pacer_;

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
    ListedPort listed;
    if (isMapper(uDeviceID)) {
        // The mapper plays through the first port listed.
        if (listedPort(Direction::Output, 0, listed) != MMSYSERR_NOERROR) return MIDIERR_NODEVICE;
    } else if (MMRESULT r = listedPort(Direction::Output, uDeviceID, listed)) {
        return r;
    }
    PortClaim claim(Direction::Output, listed);
    if (!claim) return MMSYSERR_ALLOCATED;

    std::unique_ptr<OutputPort> port;
    std::string reason;
    MMRESULT r = listed.transport->openOutput(listed.info, port, reason);
    if (r == MMSYSERR_NOERROR && !port) r = MMSYSERR_ERROR;
    qCDebug(zuxEngine).nospace() << "open output " << static_cast<int>(uDeviceID) << " \"" << listed.info.name.c_str()
                                 << "\": result " << r << (reason.empty() ? "" : ", ") << reason.c_str();
    setSystemReason(reason);
    if (r != MMSYSERR_NOERROR) return r;
    auto out = std::make_shared<MidiOut>(std::move(claim), std::move(port), listed.info.paced);
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
    return MMSYSERR_NOERROR;
}
