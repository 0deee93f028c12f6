#include "midi/transports/JackStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include <jack/midiport.h>

namespace midi::jackstream {

namespace {

constexpr std::size_t kLargestEvent = 4096;  // the process callback's stack copy
constexpr std::uint32_t kLostMarker = 0xFFFFFFFFu;

bool isStatus(std::uint8_t b) { return b >= 0x80; }

// Bytes in a message that starts with this status byte; 0 when it runs to
// the next status byte (SysEx, or data bytes carried over).
std::size_t shortLength(std::uint8_t status) {
    if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
    if (status >= 0xF8) return 1;
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0: return 2;
    case 0xF0: break;
    default: return 3;
    }
    switch (status) {
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;  // F4, F5, F6
    }
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

bool OutStream::waitForCycle(int ms) {
    const std::uint64_t before = cycles_.load(std::memory_order_acquire);
    for (int waited = 0; waited < ms && !closed(); waited += 50) {
        waitMs(&progress_, 50);
        if (cycles_.load(std::memory_order_acquire) != before) return true;
    }
    return false;
}

bool OutStream::drain(int stallMs) {
    while (ring_.readSpace() > 0)
        if (!waitForCycle(stallMs)) return false;
    // The cycle that took the last bytes has to finish before the peer has them.
    return waitForCycle(stallMs) && waitForCycle(stallMs);
}

void OutStream::process(void* portBuffer) {
    jack_midi_clear_buffer(portBuffer);
    std::uint8_t event[kLargestEvent];
    for (;;) {
        const std::size_t queued = ring_.readSpace();
        if (queued == 0) break;
        const std::size_t seen =
            ring_.peek(event, std::min(queued, maxEvent_));
        const std::size_t length = eventLength(event, seen, maxEvent_);
        // Asking for more than fits counts as a lost event at the receiver,
        // so stop here and leave the rest for the next cycle.
        if (length > jack_midi_max_event_size(portBuffer)) break;
        jack_midi_data_t* slot = jack_midi_event_reserve(portBuffer, 0, length);
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

void InStream::process(void* portBuffer) {
    bool wrote = false;
    auto markLoss = [&] {
        if (pendingLost_ && ring_.writeSpace() >= sizeof kLostMarker) {
            ring_.write(&kLostMarker, sizeof kLostMarker);
            pendingLost_ = false;
            wrote = true;
        }
    };
    if (jack_midi_get_lost_event_count(portBuffer) > 0) pendingLost_ = true;
    const std::uint32_t count = jack_midi_get_event_count(portBuffer);
    for (std::uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, portBuffer, i) != 0 || ev.size == 0) continue;
        markLoss();
        // Nothing may overtake the loss notice: drop until it is in the ring.
        if (pendingLost_) continue;
        const auto size = static_cast<std::uint32_t>(ev.size);
        if (ring_.writeSpace() < sizeof size + size) {
            pendingLost_ = true;
            continue;
        }
        ring_.write(&size, sizeof size);
        ring_.write(ev.buffer, size);
        wrote = true;
    }
    markLoss();
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
