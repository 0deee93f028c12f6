// MIDI ports of a running JACK server (JACK itself, or PipeWire's JACK),
// reached through one JACK client of ours.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <jack/jack.h>

#include "midi/Transport.h"

namespace midi {

class JackClient : public std::enable_shared_from_this<JackClient> {
public:
    // Null when no JACK server answers; never starts one, prints nothing.
    static std::shared_ptr<JackClient> connect(const std::string& name, std::string& reason);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    // False once the server has gone away.
    bool alive() const { return !shutdown_.load(std::memory_order_acquire); }
    std::vector<PortInfo> list(Direction direction);
    MMRESULT openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                       std::string& reason);
    MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                        std::string& reason);

    // What an open port of ours does: its share of each cycle, on the
    // real-time thread, and what it does when the server goes away.
    class Member {
    public:
        virtual ~Member() = default;
        // cyclesMissed: cycles were missed since the last call (an xrun), so
        // MIDI data of those cycles is lost.
        virtual void process(jack_nframes_t frames, bool cyclesMissed) = 0;
        virtual void serverGone() = 0;
    };

    // For our ports. Each call fails quietly once the server is gone.
    // Registers one of our MIDI ports; null when the server refused.
    jack_port_t* registerPort(bool input, std::string& reason);
    void unregisterPort(jack_port_t* port);
    // Connects our port to the port named `peer` (from it, for an input).
    MMRESULT connectPort(jack_port_t* port, bool input, const std::string& peer, std::string& reason);
    // The member takes part in the cycles from now on; false when all
    // places are taken. After leave() returns, the callback no longer uses it.
    bool join(Member* member);
    void leave(Member* member);
    // True while our port is connected to the port named `peer`.
    bool connected(jack_port_t* port, const std::string& peer);

private:
    JackClient() = default;
    bool hasPort(const std::string& name, Direction direction);
    void closeWhenDead();
    static int process(jack_nframes_t frames, void* arg);
    static void shutdown(jack_status_t code, const char* reason, void* arg);
    static int xrun(void* arg);

    static constexpr std::size_t kMembers = 16;

    // Every call into libjack but the process callback's is made with
    // apiMutex_ held, and none once client_ is null: a client whose server
    // died is closed at once (see closeWhenDead).
    std::mutex apiMutex_;
    jack_client_t* client_ = nullptr;
    std::atomic<bool> shutdown_{false};
    std::mutex closerMutex_;
    std::condition_variable closerWake_;
    bool quitting_ = false;
    std::thread closer_;
    std::atomic<std::uint32_t> xruns_{0};
    std::array<std::atomic<Member*>, kMembers> members_{};
    std::atomic<std::uint64_t> callbacks_{0};  // odd while the process callback runs
    std::mutex membersMutex_;                  // joining, leaving, telling of a shutdown

    // Process callback only.
    jack_nframes_t lastFrame_ = 0;
    bool haveLastFrame_ = false;
    std::uint32_t xrunsSeen_ = 0;
};

}  // namespace midi
