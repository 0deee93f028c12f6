// MIDI ports of the ALSA sequencer, where every USB and hardware MIDI
// interface of a Linux machine appears, reached through one sequencer
// client of ours.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/Transport.h"

struct _snd_seq;
struct snd_seq_event;

namespace midi {

class AlsaClient : public std::enable_shared_from_this<AlsaClient> {
public:
    // Null when the sequencer cannot be opened (most containers, some
    // desktops); prints nothing.
    static std::shared_ptr<AlsaClient> connect(const std::string& name, std::string& reason);
    ~AlsaClient();
    AlsaClient(const AlsaClient&) = delete;
    AlsaClient& operator=(const AlsaClient&) = delete;

    bool alive() const { return true; }
    std::vector<PortInfo> list(Direction direction);
    MMRESULT openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                       std::string& reason);
    MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                        std::string& reason);

    // For our ports. Every call on the sequencer handle but poll() is made
    // with the handle's lock held, from whichever thread.
    template <class Call>
    auto withSeq(Call&& call) {
        std::lock_guard lock(seqMutex_);
        return call(seq_);
    }
    int id() const { return id_; }
    // Our port that receives what `source` sends goes to `sink` until
    // removeRoute. Events are decoded on the reader thread.
    void addRoute(int ourPort, int sourceClient, int sourcePort, InputSink& sink);
    // Once it returns, the sink is not called again.
    void removeRoute(int ourPort);

private:
    AlsaClient() = default;
    void readLoop();
    void readAvailable();
    void dispatch(const snd_seq_event& ev);
    void announced(const snd_seq_event& ev);

    struct Route;
    _snd_seq* seq_ = nullptr;
    int id_ = -1;
    int announcePort_ = -1;
    int stopFd_ = -1;
    std::mutex seqMutex_;
    std::mutex routesMutex_;  // held while a sink is called
    std::map<int, std::unique_ptr<Route>> routes_;
    std::thread reader_;
};

}  // namespace midi
