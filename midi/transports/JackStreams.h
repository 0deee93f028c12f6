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
    // Waits until the queued bytes have been handed to the port, or until no
    // cycle has run for stallMs. Returns true when everything went out.
    bool drain(int stallMs);

    // Process callback: moves queued bytes into the port buffer as events,
    // as many as the cycle's buffer space takes.
    void process(void* portBuffer);

private:
    bool waitForCycle(int ms);

    SpscRing ring_;
    std::size_t maxEvent_;
    sem_t progress_;  // posted after each cycle and on close/cancel
    std::atomic<bool> closed_{false};
    std::atomic<std::uint32_t> cancelGeneration_{0};
    std::atomic<std::uint64_t> cycles_{0};
};

// Bytes from a JACK input port to a thread.
class InStream {
public:
    explicit InStream(std::size_t ringBytes = 256 * 1024);
    ~InStream();
    InStream(const InStream&) = delete;
    InStream& operator=(const InStream&) = delete;

    // Process callback: copies the cycle's events into the ring. A ring that
    // overflows drops events, and the reader hears of it before later bytes.
    void process(void* portBuffer);

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

    SpscRing ring_;
    sem_t available_;
    bool pendingLost_ = false;  // process callback only
    std::vector<std::uint8_t> chunk_;
    std::size_t chunkSize_ = 0;
};

}  // namespace midi::jackstream
