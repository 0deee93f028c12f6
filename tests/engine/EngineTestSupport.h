// Helpers for the engine tests: a callback that records what it is given,
// headers over exactly sized buffers, a fixture with simulated ports.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/MidiApi.h"
#include "midi/transports/SimulatedTransport.h"
#include "support/Bytes.h"
#include "support/MidiResults.h"
#include "support/Wait.h"

namespace zuxtest {

// A header over its own buffer, sized exactly so that AddressSanitizer
// catches a byte stored past its end.
struct Header {
    explicit Header(std::size_t size) : data(std::make_unique<char[]>(size)) {
        hdr.lpData = data.get();
        hdr.dwBufferLength = static_cast<DWORD>(size);
    }
    std::unique_ptr<char[]> data;
    MIDIHDR hdr{};
};

struct Event {
    UINT message;
    DWORD_PTR param1;
    Bytes bytes;  // a returned header's recorded bytes
    std::thread::id thread;
};

// Records every callback. Pass `this` as the instance data.
class Recorder {
public:
    static void callback(HMIDIIN h, UINT message, DWORD_PTR instance, DWORD_PTR p1,
                              DWORD_PTR p2) {
        reinterpret_cast<Recorder*>(instance)->record(h, message, p1, p2);
    }
    DWORD_PTR instance() { return reinterpret_cast<DWORD_PTR>(this); }
    DWORD_PTR proc() { return reinterpret_cast<DWORD_PTR>(&callback); }

    // Runs inside the callback, after recording, on the engine's thread.
    std::function<void(HMIDIIN, UINT, MIDIHDR*)> onCall;

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<Event> of(UINT message) const {
        std::vector<Event> out;
        for (const Event& e : events())
            if (e.message == message) out.push_back(e);
        return out;
    }
    // Long-data and long-error returns in order, as (message, bytes).
    std::vector<std::pair<UINT, Bytes>> returns() const {
        std::vector<std::pair<UINT, Bytes>> out;
        for (const Event& e : events())
            if (e.message == MIM_LONGDATA || e.message == MIM_LONGERROR)
                out.emplace_back(e.message, e.bytes);
        return out;
    }
    std::vector<DWORD> shortMessages() const {
        std::vector<DWORD> out;
        for (const Event& e : of(MIM_DATA)) out.push_back(static_cast<DWORD>(e.param1));
        return out;
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return events_.size();
    }

private:
    void record(HMIDIIN h, UINT message, DWORD_PTR p1, DWORD_PTR) {
        Event e{message, p1, {}, std::this_thread::get_id()};
        MIDIHDR* hdr = nullptr;
        if (message == MIM_LONGDATA || message == MIM_LONGERROR) {
            hdr = reinterpret_cast<MIDIHDR*>(p1);
            e.bytes.assign(hdr->lpData, hdr->lpData + hdr->dwBytesRecorded);
        }
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        if (onCall) onCall(h, message, hdr);
    }

    mutable std::mutex mutex_;
    std::vector<Event> events_;
};

// Installs fresh simulated ports for one test and removes them afterwards.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override { midi::setTransports({&sim}); }
    void TearDown() override { midi::setTransports({}); }
    midi::SimulatedTransport sim;
};

}  // namespace zuxtest
