#include "midi/transports/JackStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <jack/midiport.h>

#include "midi/MessageLength.h"

namespace midi::jackstream {

namespace {

constexpr std::size_t kLargestEvent = 4096;  // the process callback's stack copy
constexpr std::uint32_t kLostMarker = 0xFFFFFFFFu;

bool isStatus(std::uint8_t b) { return b >= 0x80; }

// Bytes in a message that starts with this status byte; 0 when it runs to
// the next status byte (SysEx, or data bytes carried over). An undefined
// status stands alone.
std::size_t shortLength(std::uint8_t status) {
    if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
    const int data = dataBytesFor(status);
    return data < 0 ? 1 : static_cast<std::size_t>(data) + 1;
}

// Posts unless a wake-up is already pending, so a semaphore nobody waits on
// does not pile up counts that would later turn a wait into a busy loop.
void postOnce(sem_t* sem) {
    int value = 0;
    if (sem_getvalue(sem, &value) == 0 && value > 0) return;
    sem_post(sem);
}

void waitMs(sem_t* sem, int ms) {
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (sem_clockwait(sem, CLOCK_MONOTONIC, &until) != 0 && errno == EINTR) {
    }
}

}  // namespace

std::size_t eventLength(const std::uint8_t* data, std::size_t size, std::size_t maxEvent) {
    const std::size_t limit = std::min(size, maxEvent);
    if (limit == 0) return 0;
    const std::size_t fixed = shortLength(data[0]);
    const std::size_t end = fixed ? std::min(fixed, limit) : limit;
    std::size_t n = 1;
    if (data[0] == 0xF7) return 1;
    while (n < end) {
        const std::uint8_t b = data[n];
        if (isStatus(b) && b != 0xF7) break;
        ++n;
        if (b == 0xF7) break;
    }
    return n;
}

// ---------------------------------------------------------------- OutStream

OutStream::OutStream(std::size_t ringBytes, std::size_t maxEvent)
    : ring_(ringBytes), maxEvent_(std::clamp<std::size_t>(maxEvent, 1, kLargestEvent)) {
    sem_init(&progress_, 0, 0);
}

OutStream::~OutStream() {
    sem_destroy(&progress_);
}

bool OutStream::write(const std::uint8_t* data, std::size_t size) {
    const std::uint32_t generation = cancelGeneration_.load(std::memory_order_acquire);
    while (size > 0) {
        if (closed() || cancelGeneration_.load(std::memory_order_acquire) != generation)
            return false;
        const std::size_t n = ring_.write(data, size);
        data += n;
        size -= n;
        if (size > 0) waitMs(&progress_, 50);
    }
    return true;
}

void OutStream::cancel() {
    cancelGeneration_.fetch_add(1, std::memory_order_acq_rel);
    sem_post(&progress_);
}

void OutStream::close() {
    closed_.store(true, std::memory_order_release);
    sem_post(&progress_);
}

bool OutStream::drain(int limitMs) {
    const std::uint32_t generation = cancelGeneration_.load(std::memory_order_acquire);
    const std::size_t target = ring_.written();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + limitMs;
    // The cycle that took the last bytes has to finish before the peer has
    // them: two more cycles after the ring gave them up.
    bool taken = false;
    std::uint64_t cyclesAfter = 0;
    for (int extra = 2; extra > 0;) {
        if (closed() || cancelGeneration_.load(std::memory_order_acquire) != generation) return false;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec * 1000LL + now.tv_nsec / 1000000 >= deadline) return false;
        const std::uint64_t cycles = cycles_.load(std::memory_order_acquire);
        if (ring_.consumed() >= target) {
            if (!taken) {
                taken = true;
                cyclesAfter = cycles;
            } else if (cycles != cyclesAfter) {
                cyclesAfter = cycles;
                --extra;
                continue;
            }
        }
        waitMs(&progress_, 20);
    }
    return true;
}

void OutStream::discard() {
    discardTo_.store(ring_.written(), std::memory_order_release);
}

namespace {

class JackPortSink final : public EventSink {
public:
    explicit JackPortSink(void* buffer) : buffer_(buffer) { jack_midi_clear_buffer(buffer); }
    std::size_t maxEventSize() override { return jack_midi_max_event_size(buffer_); }
    std::uint8_t* reserve(std::size_t size) override { return jack_midi_event_reserve(buffer_, 0, size); }

private:
    void* buffer_;
};

class JackPortSource final : public EventSource {
public:
    explicit JackPortSource(void* buffer) : buffer_(buffer) {}
    std::uint32_t count() override { return jack_midi_get_event_count(buffer_); }
    bool event(std::uint32_t index, const std::uint8_t*& data, std::size_t& size) override {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, buffer_, index) != 0) return false;
        data = ev.buffer;
        size = ev.size;
        return true;
    }
    bool senderLost() override { return jack_midi_get_lost_event_count(buffer_) > 0; }

private:
    void* buffer_;
};

}  // namespace

void OutStream::process(void* portBuffer) {
    JackPortSink port(portBuffer);
    process(port);
}

void OutStream::process(EventSink& port) {
    const std::size_t discardTo = discardTo_.load(std::memory_order_acquire);
    const std::size_t at = ring_.consumed();
    if (discardTo > at) ring_.advance(discardTo - at);
    std::uint8_t event[kLargestEvent];
    for (;;) {
        const std::size_t queued = ring_.readSpace();
        if (queued == 0) break;
        const std::size_t seen =
            ring_.peek(event, std::min(queued, maxEvent_));
        const std::size_t length = eventLength(event, seen, maxEvent_);
        // Asking for more than fits counts as a lost event at the receiver,
        // so stop here and leave the rest for the next cycle.
        if (length > port.maxEventSize()) break;
        std::uint8_t* slot = port.reserve(length);
        if (!slot) break;
        std::memcpy(slot, event, length);
        ring_.advance(length);
    }
    cycles_.fetch_add(1, std::memory_order_acq_rel);
    postOnce(&progress_);
}

// ----------------------------------------------------------------- InStream

InStream::InStream(std::size_t ringBytes) : ring_(ringBytes), chunk_(4096) {
    sem_init(&available_, 0, 0);
}

InStream::~InStream() {
    sem_destroy(&available_);
}

// Writes a pending loss notice into the ring; true when it wrote one.
bool InStream::markLoss() {
    if (!pendingLost_ || ring_.writeSpace() < sizeof kLostMarker) return false;
    ring_.write(&kLostMarker, sizeof kLostMarker);
    pendingLost_ = false;
    return true;
}

void InStream::process(void* portBuffer, bool lostBefore) {
    JackPortSource port(portBuffer);
    process(port, lostBefore);
}

void InStream::process(EventSource& port, bool lostBefore) {
    // A sender loses the events that did not fit, and a smaller one after
    // them may still fit: the loss may lie anywhere in this cycle. So every
    // SysEx with a byte in it is damaged: a notice before and after each event.
    const bool senderLost = port.senderLost();
    if (lostBefore || senderLost) pendingLost_ = true;
    bool wrote = markLoss();
    const std::uint32_t count = port.count();
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* data = nullptr;
        std::size_t bytes = 0;
        if (!port.event(i, data, bytes) || bytes == 0) continue;
        wrote = markLoss() || wrote;
        // Nothing may overtake the loss notice: drop until it is in the ring.
        if (pendingLost_) continue;
        const auto size = static_cast<std::uint32_t>(bytes);
        if (ring_.writeSpace() < sizeof size + size) {
            pendingLost_ = true;
            continue;
        }
        ring_.write(&size, sizeof size);
        ring_.write(data, size);
        wrote = true;
        if (senderLost) pendingLost_ = true;
    }
    wrote = markLoss() || wrote;
    if (wrote) postOnce(&available_);
}

void InStream::wake() { sem_post(&available_); }

void InStream::waitForData(int ms) {
    if (ring_.readSpace() == 0) waitMs(&available_, ms);
}

InStream::Kind InStream::next() {
    std::uint32_t header = 0;
    const std::size_t queued = ring_.readSpace();
    if (queued < sizeof header) return None;
    ring_.peek(&header, sizeof header);
    if (header == kLostMarker) {
        ring_.advance(sizeof header);
        return Lost;
    }
    if (queued < sizeof header + header) return None;  // the callback is still writing it
    ring_.advance(sizeof header);
    if (chunk_.size() < header) chunk_.resize(header);
    ring_.read(chunk_.data(), header);
    chunkSize_ = header;
    return Bytes;
}

}  // namespace midi::jackstream
