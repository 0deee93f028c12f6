// Byte streams between a normal thread and a JACK MIDI port: the process
// callback side touches only a lock-free ring buffer, so it never blocks,
// locks or allocates. Shared by the JACK transport and the simulator.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <semaphore.h>
#include <vector>

#include "midi/transports/SpscRing.h"

namespace midi::jackstream {

// The length of the MIDI event that starts at data[0], at most maxEvent bytes:
// a real-time byte alone, a short message up to its length, a SysEx fragment
// up to and including F7. An event ends before the next status byte, so each
// event starts where a receiver expects one.
std::size_t eventLength(const std::uint8_t* data, std::size_t size, std::size_t maxEvent);

// One cycle's buffer of a JACK output port, or a test's stand-in for it.
class EventSink {
public:
    virtual std::size_t maxEventSize() = 0;
    // Room for one event of `size` bytes; null when the buffer is full.
    virtual std::uint8_t* reserve(std::size_t size) = 0;

protected:
    ~EventSink() = default;
};

// One cycle's events at a JACK input port, or a test's stand-in for them.
class EventSource {
public:
    virtual std::uint32_t count() = 0;
    // False for an event that cannot be read.
    virtual bool event(std::uint32_t index, const std::uint8_t*& data, std::size_t& size) = 0;
    // The sender lost events in this cycle: they did not fit its buffer.
    virtual bool senderLost() = 0;

protected:
    ~EventSource() = default;
};

// Bytes from a thread to a JACK output port.
class OutStream {
public:
    // maxEvent: the largest event it writes; bytes beyond it are split.
    explicit OutStream(std::size_t ringBytes = 32 * 1024, std::size_t maxEvent = 256);
    ~OutStream();
    OutStream(const OutStream&) = delete;
    OutStream& operator=(const OutStream&) = delete;

    // Queues all bytes, blocking while the ring is full. Returns false when
    // the stream was closed or cancel() was called during the call.
    bool write(const std::uint8_t* data, std::size_t size);
    void cancel();
    // Makes every write return false, now and later (the server went away).
    void close();
    bool closed() const { return closed_.load(std::memory_order_acquire); }
    // Waits until every byte written so far has been handed to the port and
    // that cycle is over. False when the stream was closed or cancelled
    // meanwhile, or after limitMs in all: it never hangs.
    bool drain(int limitMs);
    // Drops every byte written so far that the port has not taken yet.
    void discard();

    // Process callback: moves queued bytes into the port buffer as events,
    // as many as the cycle's buffer space takes.
    void process(void* portBuffer);
    void process(EventSink& port);

private:
    SpscRing ring_;
    std::size_t maxEvent_;
    sem_t progress_;  // posted after each cycle and on close/cancel
    std::atomic<bool> closed_{false};
    std::atomic<std::uint32_t> cancelGeneration_{0};
    std::atomic<std::uint64_t> cycles_{0};
    std::atomic<std::size_t> discardTo_{0};  // the callback drops bytes up to here
};

// Bytes from a JACK input port to a thread.
class InStream {
public:
    explicit InStream(std::size_t ringBytes = 256 * 1024);
    ~InStream();
    InStream(const InStream&) = delete;
    InStream& operator=(const InStream&) = delete;

    // Process callback: copies the cycle's events into the ring. Losses are
    // put in the stream where they happened, for the reader to hear of in
    // order with the bytes: cycles missed since the last call (lostBefore),
    // events the sender lost in this cycle, a ring that overflows.
    void process(void* portBuffer, bool lostBefore = false);
    void process(EventSource& port, bool lostBefore);

    // Reader side: waits up to ms for data (or a wake()), then hands what is
    // there to onBytes(data, size) and onLost() in order.
    template <typename OnBytes, typename OnLost>
    void poll(int ms, OnBytes&& onBytes, OnLost&& onLost) {
        waitForData(ms);
        while (auto kind = next()) {
            if (kind == Lost)
                onLost();
            else
                onBytes(chunk_.data(), chunkSize_);
        }
    }
    // Makes a waiting poll() return soon.
    void wake();

private:
    enum Kind { None = 0, Bytes, Lost };
    void waitForData(int ms);
    Kind next();
    bool markLoss();

    SpscRing ring_;
    sem_t available_;
    bool pendingLost_ = false;  // process callback only
    std::vector<std::uint8_t> chunk_;
    std::size_t chunkSize_ = 0;
};

}  // namespace midi::jackstream
