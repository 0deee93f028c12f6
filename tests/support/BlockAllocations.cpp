// Replaces the global array allocation functions for the test binaries. A
// block is an array of DataBlockSize bytes taken without exceptions, as
// TakeBlock does; every array goes through the single-object functions, so
// the sanitizers see each allocation paired with its release.
#include "support/BlockAllocations.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <new>
#include <set>

#include "midi/TransferState.h"

namespace {

std::atomic<int> failNext{0};

struct Live {
    std::mutex mutex;
    std::set<void*> blocks;
};

Live& live() {
    static auto* l = new Live;  // never destroyed: releases may come at exit
    return *l;
}

void forget(void* p) {
    if (!p) return;
    Live& l = live();
    std::lock_guard lock(l.mutex);
    l.blocks.erase(p);
}

}  // namespace

namespace zuxtest {

void failNextBlockTakes(int count) { failNext.store(count); }

int liveBlocks() {
    Live& l = live();
    std::lock_guard lock(l.mutex);
    return static_cast<int>(l.blocks.size());
}

}  // namespace zuxtest

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    const bool block = size == DataBlockSize;
    if (block) {
        int left = failNext.load();
        while (left > 0 && !failNext.compare_exchange_weak(left, left - 1)) {
        }
        if (left > 0) return nullptr;
    }
    void* p = ::operator new(size, tag);
    if (block && p) {
        Live& l = live();
        std::lock_guard lock(l.mutex);
        l.blocks.insert(p);
    }
    return p;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void operator delete[](void* p) noexcept {
    forget(p);
    ::operator delete(p);
}

void operator delete[](void* p, std::size_t) noexcept { operator delete[](p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete[](p); }
