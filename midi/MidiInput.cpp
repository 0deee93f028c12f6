// Input handles: the header queue, the delivery thread that runs the parser
// and calls the callback, and the midiIn* calls.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/DeviceSpace.h"
#include "midi/HandleRegistry.h"
#include "midi/HeaderFlags.h"
#include "midi/InputParser.h"
#include "midi/Log.h"

namespace midi {

namespace {

class MidiIn final : public InputSink, private InputParser::Client {
public:
    MidiIn(PortClaim claim, MidiInCallback callback, DWORD_PTR instance)
        : claim_(std::move(claim)), callback_(callback), instance_(instance) {
        thread_ = std::thread([this] { deliver(); });
    }
    ~MidiIn() override {
        port_.reset();
        if (thread_.joinable()) shutDown(false);
    }

    HMIDIIN handle() { return reinterpret_cast<HMIDIIN>(this); }
    std::unique_ptr<InputPort>& port() { return port_; }

    // Transport thread.
    void onBytes(const std::uint8_t* data, std::size_t size) override {
        if (size > 0) post({Kind::Bytes, std::vector<std::uint8_t>(data, data + size)});
    }
    void onDataLost() override { post({Kind::DataLost, {}}); }
    void onPortGone() override { post({Kind::PortGone, {}}); }

    void announceOpen() { post({Kind::Open, {}}); }
    MMRESULT start() { return command(Kind::Start); }
    MMRESULT stop() { return command(Kind::Stop); }
    MMRESULT reset() { return command(Kind::Reset); }

    MMRESULT addBuffer(MIDIHDR& h) {
        if (!(MidiHdrFlags(h) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
        std::lock_guard lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        if (MidiHdrFlags(h) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
        std::atomic_ref<DWORD>(h.dwBytesRecorded).store(0, std::memory_order_relaxed);
        setHeaderFlags(h, MHDR_INQUEUE, MHDR_DONE);
        headers_.push_back(&h);
        return MMSYSERR_NOERROR;
    }

    MMRESULT close() {
        if (onDeliveryThread()) return MMSYSERR_ERROR;  // it cannot wait for itself
        {
            std::lock_guard lock(mutex_);
            if (closing_) return MMSYSERR_INVALHANDLE;
            if (!headers_.empty()) return MIDIERR_STILLPLAYING;
            closing_ = true;
        }
        port_.reset();  // from here on the transport calls no sink of ours
        shutDown(true);
        claim_ = PortClaim();
        return MMSYSERR_NOERROR;
    }

private:
    enum class Kind { Bytes, DataLost, PortGone, Open, Start, Stop, Reset, Close, QuietClose };
    struct Event {
        Kind kind;
        std::vector<std::uint8_t> bytes;
        std::uint64_t seq = 0;
    };

    bool onDeliveryThread() const { return std::this_thread::get_id() == thread_.get_id(); }

    std::uint64_t post(Event e) {
        std::lock_guard lock(mutex_);
        e.seq = ++posted_;
        events_.push_back(std::move(e));
        wake_.notify_one();
        return posted_;
    }

    // Runs a handle call on the delivery thread, in order with the input,
    // and waits until its callbacks have been made. From the delivery thread
    // itself (inside a callback) the call is queued and not waited for.
    MMRESULT command(Kind kind) {
        std::unique_lock lock(mutex_);
        if (closing_) return MMSYSERR_INVALHANDLE;
        const std::uint64_t seq = ++posted_;
        events_.push_back({kind, {}, seq});
        wake_.notify_one();
        if (onDeliveryThread()) return MMSYSERR_NOERROR;
        done_.wait(lock, [&] { return processed_ >= seq; });
        return MMSYSERR_NOERROR;
    }

    void shutDown(bool notify) {
        post({notify ? Kind::Close : Kind::QuietClose, {}});
        thread_.join();
    }

    void deliver() {
        for (;;) {
            Event e;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return !events_.empty(); });
                e = std::move(events_.front());
                events_.pop_front();
            }
            const bool last = handleEvent(e);
            {
                std::lock_guard lock(mutex_);
                processed_ = e.seq;
            }
            done_.notify_all();
            if (last) return;
        }
    }

    // Delivery thread; no lock held, so callbacks may call back into the handle.
    bool handleEvent(const Event& e) {
        switch (e.kind) {
        case Kind::Bytes:
            if (started_) parser_.feed(e.bytes.data(), e.bytes.size(), *this);
            break;  // before midiInStart input is dropped
        case Kind::DataLost:
            qCDebug(zuxEngine) << "input: bytes were lost upstream" << (started_ ? "" : "(not started)");
            if (started_) parser_.dataLost(*this);
            break;
        case Kind::PortGone:
            qCDebug(zuxEngine) << "input: the port is gone";
            call(MIM_PORTGONE, 0, 0);
            break;
        case Kind::Open: call(MIM_OPEN, 0, 0); break;
        case Kind::Start:
            if (!started_) {
                started_ = true;
                startTime_ = std::chrono::steady_clock::now();
                parser_.clear();
            }
            break;
        case Kind::Stop: {
            started_ = false;
            parser_.clear();
            MIDIHDR* h = frontHeader();
            if (h && h->dwBytesRecorded > 0) headerDone(h, MIM_LONGDATA);
            break;
        }
        case Kind::Reset: {
            started_ = false;
            parser_.clear();
            // Headers the callback queues again meanwhile stay queued.
            std::deque<MIDIHDR*> back;
            {
                std::lock_guard lock(mutex_);
                back.swap(headers_);
            }
            for (MIDIHDR* h : back) returnHeader(h, MIM_LONGDATA);
            break;
        }
        case Kind::Close: call(MIM_CLOSE, 0, 0); return true;
        case Kind::QuietClose: return true;
        }
        return false;
    }

    DWORD_PTR timestamp() const {
        if (!started_) return 0;
        return static_cast<DWORD_PTR>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - startTime_)
                                          .count());
    }

    void call(UINT message, DWORD_PTR p1, DWORD_PTR p2) {
        if (callback_) callback_(handle(), message, instance_, p1, p2);
    }

    void returnHeader(MIDIHDR* h, UINT message) {
        setHeaderFlags(*h, MHDR_DONE, MHDR_INQUEUE);
        call(message, reinterpret_cast<DWORD_PTR>(h), timestamp());
    }

    // InputParser::Client
    MIDIHDR* frontHeader() override {
        std::lock_guard lock(mutex_);
        return headers_.empty() ? nullptr : headers_.front();
    }
    void headerDone(MIDIHDR* h, UINT message) override {
        {
            std::lock_guard lock(mutex_);
            headers_.pop_front();  // h is the front: only this thread removes headers
        }
        returnHeader(h, message);
    }
    void shortMessage(UINT message, DWORD packed) override { call(message, packed, timestamp()); }

    PortClaim claim_;
    const MidiInCallback callback_;
    const DWORD_PTR instance_;
    std::unique_ptr<InputPort> port_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<Event> events_;
    std::deque<MIDIHDR*> headers_;
    std::uint64_t posted_ = 0;
    std::uint64_t processed_ = 0;
    bool closing_ = false;

    // Delivery thread only.
    InputParser parser_;
    bool started_ = false;
    std::chrono::steady_clock::time_point startTime_;

    std::thread thread_;  // last: starts once everything above exists
};

// Never destroyed, so a handle left open at exit is not torn down while
// other parts of the program are already gone.
HandleRegistry<MidiIn>& inputs() {
    static auto* registry = new HandleRegistry<MidiIn>;
    return *registry;
}

}  // namespace

}  // namespace midi

using namespace midi;

MMRESULT midiInOpen(LPHMIDIIN phmi, UINT uDeviceID, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
                    DWORD fdwOpen) {
    if (!phmi) return MMSYSERR_INVALPARAM;
    if (fdwOpen != CALLBACK_NULL && fdwOpen != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
    if (fdwOpen == CALLBACK_FUNCTION && dwCallback == 0) return MMSYSERR_INVALPARAM;
    if (isMapper(uDeviceID)) return MMSYSERR_BADDEVICEID;  // there is no input mapper
    ListedPort listed;
    if (MMRESULT r = listedPort(Direction::Input, uDeviceID, listed)) return r;
    PortClaim claim(Direction::Input, listed);
    if (!claim) return MMSYSERR_ALLOCATED;

    auto callback = fdwOpen == CALLBACK_FUNCTION ? reinterpret_cast<MidiInCallback>(dwCallback)
                                                 : nullptr;
    // Should the open throw, `in` and its claim go with the exception.
    auto in = std::make_shared<MidiIn>(std::move(claim), callback, dwInstance);
    std::string reason;
    MMRESULT r = listed.transport->openInput(listed.info, *in, in->port(), reason);
    if (r == MMSYSERR_NOERROR && !in->port()) r = MMSYSERR_ERROR;
    qCDebug(zuxEngine).nospace() << "open input " << uDeviceID << " \"" << listed.info.name.c_str()
                                 << "\": result " << r << (reason.empty() ? "" : ", ") << reason.c_str();
    setSystemReason(reason);
    if (r != MMSYSERR_NOERROR) return r;
    inputs().add(in);
    *phmi = in->handle();
    in->announceOpen();
    return MMSYSERR_NOERROR;
}

MMRESULT midiInPrepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    if (!inputs().find(hmi)) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pmh, cbmh) || !pmh->lpData || pmh->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    setHeaderFlags(*pmh, MHDR_PREPARED);  // preparing twice changes nothing
    return MMSYSERR_NOERROR;
}

MMRESULT midiInUnprepareHeader(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    if (!inputs().find(hmi)) return MMSYSERR_INVALHANDLE;
    return unprepareHeader(pmh, cbmh);
}

MMRESULT midiInAddBuffer(HMIDIIN hmi, LPMIDIHDR pmh, UINT cbmh) {
    auto in = inputs().find(hmi);
    if (!in) return MMSYSERR_INVALHANDLE;
    if (!validHeader(pmh, cbmh)) return MMSYSERR_INVALPARAM;
    return in->addBuffer(*pmh);
}

MMRESULT midiInStart(HMIDIIN hmi) {
    auto in = inputs().find(hmi);
    return in ? in->start() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInStop(HMIDIIN hmi) {
    auto in = inputs().find(hmi);
    return in ? in->stop() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInReset(HMIDIIN hmi) {
    auto in = inputs().find(hmi);
    return in ? in->reset() : MMSYSERR_INVALHANDLE;
}

MMRESULT midiInClose(HMIDIIN hmi) {
    auto in = inputs().find(hmi);
    if (!in) return MMSYSERR_INVALHANDLE;
    if (MMRESULT r = in->close()) return r;
    inputs().remove(hmi);
    return MMSYSERR_NOERROR;
}
