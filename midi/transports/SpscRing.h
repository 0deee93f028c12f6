// A byte ring for exactly one writer thread and one reader thread, lock-free
// and allocation-free after construction, so a real-time callback may use
// either end. The indices are atomics with acquire/release order, which also
// lets ThreadSanitizer check the hand-over.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>

#include <sys/mman.h>

namespace midi {

class SpscRing {
public:
    // Rounds the capacity up to a power of two.
    explicit SpscRing(std::size_t capacity) {
        while (size_ < capacity) size_ *= 2;
        data_ = std::make_unique<unsigned char[]>(size_);
        mlock(data_.get(), size_);  // best effort: keeps a real-time reader off page faults
    }
    ~SpscRing() { munlock(data_.get(), size_); }
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    std::size_t capacity() const { return size_; }
    // Bytes ever written and ever read; either side may look.
    std::size_t written() const { return head_.load(std::memory_order_acquire); }
    std::size_t consumed() const { return tail_.load(std::memory_order_acquire); }
    // Writer side.
    std::size_t writeSpace() const {
        return size_ - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
    }
    // Copies as much of data as fits; returns the count.
    std::size_t write(const void* data, std::size_t n) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        n = std::min(n, writeSpace());
        copyIn(head, static_cast<const unsigned char*>(data), n);
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Reader side.
    std::size_t readSpace() const {
        return head_.load(std::memory_order_acquire) - tail_.load(std::memory_order_relaxed);
    }
    // Copies up to n bytes without consuming them; returns the count.
    std::size_t peek(void* out, std::size_t n) const {
        n = std::min(n, readSpace());
        copyOut(tail_.load(std::memory_order_relaxed), static_cast<unsigned char*>(out), n);
        return n;
    }
    void advance(std::size_t n) {
        tail_.store(tail_.load(std::memory_order_relaxed) + std::min(n, readSpace()),
                    std::memory_order_release);
    }
    std::size_t read(void* out, std::size_t n) {
        n = peek(out, n);
        advance(n);
        return n;
    }

private:
    void copyIn(std::size_t at, const unsigned char* from, std::size_t n) {
        if (n == 0) return;
        const std::size_t offset = at & (size_ - 1);
        const std::size_t first = std::min(n, size_ - offset);
        std::memcpy(data_.get() + offset, from, first);
        std::memcpy(data_.get(), from + first, n - first);
    }
    void copyOut(std::size_t at, unsigned char* to, std::size_t n) const {
        if (n == 0) return;
        const std::size_t offset = at & (size_ - 1);
        const std::size_t first = std::min(n, size_ - offset);
        std::memcpy(to, data_.get() + offset, first);
        std::memcpy(to + first, data_.get(), n - first);
    }

    std::size_t size_ = 1;
    std::unique_ptr<unsigned char[]> data_;
    std::atomic<std::size_t> head_{0};  // bytes ever written
    std::atomic<std::size_t> tail_{0};  // bytes ever read
};

}  // namespace midi
