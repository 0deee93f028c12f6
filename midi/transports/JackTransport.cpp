#include "midi/transports/JackTransport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <jack/midiport.h>

#include "midi/Log.h"
#include "midi/transports/JackStreams.h"

namespace midi {

namespace {

// Clients whose server died and that are not closed yet. libjack must not
// be asked for a new client meanwhile: a failed open then makes the later
// close of the dead one crash inside the library. So a dead client is
// closed at once, and no new one is made before.
std::atomic<int> deadClients{0};

// Closing waits this long at most for the bytes a finished message left in
// the ring; JACK moves 32 KiB a cycle, so this is many cycles.
constexpr int kDrainLimitMs = 3000;

std::string statusWords(jack_status_t status) {
    static const std::pair<int, const char*> kWords[] = {
        {JackServerFailed, "cannot connect to the JACK server"},
        {JackServerError, "communication error with the JACK server"},
        {JackNoSuchClient, "no such client"},
        {JackInitFailure, "cannot initialise the client"},
        {JackShmFailure, "cannot reach the server's shared memory"},
        {JackVersionError, "the server speaks another protocol version"},
        {JackBackendError, "the server's backend failed"},
        {JackClientZombie, "the server dropped the client"},
        {JackNameNotUnique, "the client name is taken"},
        {JackInvalidOption, "an option is not valid"},
        {JackFailure, "the operation failed"},
    };
    std::string words;
    for (const auto& [bit, text] : kWords)
        if (status & bit) words += (words.empty() ? "" : ", ") + std::string(text);
    return words.empty() ? "JACK gave no reason" : "JACK: " + words;
}

// The library's own messages go to the diagnostic channel, not to stderr.
void routeLibraryMessages() {
    static const bool once = [] {
        jack_set_error_function([](const char* text) { qCDebug(zuxJack) << "libjack:" << text; });
        jack_set_info_function([](const char* text) { qCDebug(zuxJack) << "libjack:" << text; });
        return true;
    }();
    (void)once;
}

// jack2's libjack reads its metadata database (some 2 MB of memory, and
// time) even to find that no server runs. A jack2 server listens on a socket
// in /dev/shm, so look for that first. Other libjacks (PipeWire's, under
// pw-jack) and a promiscuous server are always asked.
bool noJack2Server() {
    if (std::strncmp(jack_get_version_string(), "1.9.", 4) != 0) return false;
    if (std::getenv("JACK_PROMISCUOUS_SERVER")) return false;
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    const std::string socket = "/dev/shm/jack_" + std::string(name && *name ? name : "default") + "_" +
                               std::to_string(getuid()) + "_0";
    struct stat st {};
    return stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode);
}

// PipeWire's bridge names the ALSA port it shows again in an alias,
// "alsa:seq:default:client_20:capture_0": "alsa:20:0".
std::string bridgedAlsaPort(jack_port_t* port) {
    const int size = jack_port_name_size();
    std::vector<char> a(static_cast<std::size_t>(size)), b(static_cast<std::size_t>(size));
    char* aliases[2] = {a.data(), b.data()};
    const int count = jack_port_get_aliases(port, aliases);
    for (int i = 0; i < count; ++i) {
        int client = -1, number = -1, end = 0;
        char kind[16] = {};
        if (std::sscanf(aliases[i], "alsa:seq:%*[^:]:client_%d:%15[a-z]_%d%n", &client, kind, &number,
                        &end) == 3 &&
            aliases[i][end] == '\0' && client >= 0 && number >= 0)
            return "alsa:" + std::to_string(client) + ":" + std::to_string(number);
    }
    return {};
}

// One MIDI port of ours, connected to another client's port, taking part in
// our client's cycles.
class JackPort : protected JackClient::Member {
protected:
    JackPort(std::shared_ptr<JackClient> client, std::string peer)
        : client_(std::move(client)), peer_(std::move(peer)) {}
    ~JackPort() override { close(); }

    // Leaves the cycles and removes our port. Each derived class calls it
    // first in its destructor, before the members its process() uses go.
    void close() {
        if (joined_) client_->leave(this);
        joined_ = false;
        if (port_) client_->unregisterPort(port_);
        port_ = nullptr;
    }

    MMRESULT open(bool input, std::string& reason) {
        port_ = client_->registerPort(input, reason);
        if (!port_) return MMSYSERR_NOMEM;
        if (!client_->join(this)) {
            reason = "too many MIDI ports of ours are open";
            return MMSYSERR_ALLOCATED;
        }
        joined_ = true;
        return client_->connectPort(port_, input, peer_, reason);
    }

    // The server went away, or the connection to the peer is gone (the peer
    // quit, or a patchbay removed it).
    bool gone() {
        if (client_->connected(port_, peer_)) return false;
        if (!goneLogged_.exchange(true))
            qCDebug(zuxJack) << "the port" << peer_.c_str() << "is gone"
                             << (client_->alive() ? "(disconnected)" : "(the server went away)");
        return true;
    }

    void* buffer(jack_nframes_t frames) { return jack_port_get_buffer(port_, frames); }

private:
    std::shared_ptr<JackClient> client_;
    const std::string peer_;
    jack_port_t* port_ = nullptr;
    bool joined_ = false;
    std::atomic<bool> goneLogged_{false};
};

class JackInput final : public InputPort, private JackPort {
public:
    JackInput(std::shared_ptr<JackClient> client, std::string source, InputSink& sink)
        : JackPort(std::move(client), std::move(source)), sink_(sink) {}

    MMRESULT open(std::string& reason) {
        if (MMRESULT r = JackPort::open(true, reason)) return r;
        reader_ = std::thread([this] { readLoop(); });
        return MMSYSERR_NOERROR;
    }

    ~JackInput() override {
        stop_.store(true, std::memory_order_release);
        stream_.wake();
        if (reader_.joinable()) reader_.join();
        close();
    }

private:
    void process(jack_nframes_t frames, bool cyclesMissed) override {
        stream_.process(buffer(frames), cyclesMissed);
    }
    void serverGone() override { stream_.wake(); }

    // The transport thread: hands the bytes on outside the real-time thread,
    // and notices a port that went away.
    void readLoop() {
        bool told = false;
        while (!stop_.load(std::memory_order_acquire)) {
            stream_.poll(
                100, [this](const std::uint8_t* data, std::size_t size) { sink_.onBytes(data, size); },
                [this] {
                    qCDebug(zuxJack) << "input: MIDI data was lost (a missed cycle, or the sender lost events)";
                    sink_.onDataLost();
                });
            if (!told && gone()) {
                told = true;
                sink_.onPortGone();
            }
        }
    }

    InputSink& sink_;
    jackstream::InStream stream_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

class JackOutput final : public OutputPort, private JackPort {
public:
    JackOutput(std::shared_ptr<JackClient> client, std::string destination)
        : JackPort(std::move(client), std::move(destination)) {}

    ~JackOutput() override { close(); }

    MMRESULT open(std::string& reason) { return JackPort::open(false, reason); }

    bool write(const std::uint8_t* data, std::size_t size) override {
        return !gone() && stream_.write(data, size) && !gone();
    }
    bool finish() override { return !gone() && stream_.drain(kDrainLimitMs) && !gone(); }
    void discard() override { stream_.discard(); }
    void cancel() override { stream_.cancel(); }

private:
    void process(jack_nframes_t frames, bool) override { stream_.process(buffer(frames)); }
    void serverGone() override { stream_.close(); }

    jackstream::OutStream stream_;
};

}  // namespace

std::shared_ptr<JackClient> JackClient::connect(const std::string& name, std::string& reason) {
    routeLibraryMessages();
    if (deadClients.load() > 0) {
        reason = "the connection to the JACK server that went away is still open";
        qCDebug(zuxJack) << "no new JACK client:" << reason.c_str();
        return nullptr;
    }
    if (noJack2Server()) {
        reason = "no JACK server is running";
        qCDebug(zuxJack) << "no JACK client:" << reason.c_str();
        return nullptr;
    }
    jack_status_t status{};
    jack_client_t* handle = jack_client_open(name.c_str(), JackNoStartServer, &status);
    if (!handle) {
        reason = statusWords(status);
        qCDebug(zuxJack) << "no JACK client:" << reason.c_str();
        return nullptr;
    }
    std::shared_ptr<JackClient> self(new JackClient);
    self->client_ = handle;
    self->closer_ = std::thread([raw = self.get()] { raw->closeWhenDead(); });
    jack_set_process_callback(handle, &JackClient::process, self.get());
    jack_on_info_shutdown(handle, &JackClient::shutdown, self.get());
    jack_set_xrun_callback(handle, &JackClient::xrun, self.get());
    if (jack_activate(handle) != 0) {
        reason = "JACK would not activate our client";
        qCDebug(zuxJack) << reason.c_str();
        return nullptr;
    }
    qCDebug(zuxJack) << "connected to the JACK server as" << jack_get_client_name(handle);
    return self;
}

JackClient::~JackClient() {
    {
        std::lock_guard lock(closerMutex_);
        quitting_ = true;
    }
    closerWake_.notify_all();
    if (closer_.joinable()) closer_.join();
    std::lock_guard lock(apiMutex_);
    if (client_) jack_client_close(client_);
}

// Closes the client as soon as its server has died. After the server died
// the library only tears down its own side, which returns at once.
void JackClient::closeWhenDead() {
    std::unique_lock wait(closerMutex_);
    closerWake_.wait(wait, [&] { return quitting_ || !alive(); });
    if (alive()) return;
    wait.unlock();
    std::lock_guard lock(apiMutex_);
    jack_client_close(client_);
    client_ = nullptr;
    --deadClients;
    qCDebug(zuxJack) << "the JACK server went away; our client is closed";
}

std::vector<PortInfo> JackClient::list(Direction direction) {
    std::vector<PortInfo> found;
    std::lock_guard lock(apiMutex_);
    if (!client_ || !alive()) return found;
    // Inputs of ours take what other clients' outputs send, and the reverse.
    const char** names = jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        direction == Direction::Input ? JackPortIsOutput : JackPortIsInput);
    for (const char** name = names; name && *name; ++name) {
        jack_port_t* port = jack_port_by_name(client_, *name);
        if (!port || jack_port_is_mine(client_, port)) continue;
        PortInfo info;
        info.id = info.name = *name;
        info.paced = (jack_port_flags(port) & JackPortIsPhysical) != 0;
        info.sameAs = bridgedAlsaPort(port);
        found.push_back(std::move(info));
    }
    if (names) jack_free(names);
    return found;
}

// The port called `name`, if it is still there and faces the right way.
bool JackClient::hasPort(const std::string& name, Direction direction) {
    std::lock_guard lock(apiMutex_);
    if (!client_ || !alive()) return false;
    jack_port_t* p = jack_port_by_name(client_, name.c_str());
    if (!p) return false;
    const int flags = jack_port_flags(p);
    return direction == Direction::Input ? (flags & JackPortIsOutput) : (flags & JackPortIsInput);
}

MMRESULT JackClient::openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                               std::string& reason) {
    if (!hasPort(port.id, Direction::Input)) return MIDIERR_PORTGONE;
    auto input = std::make_unique<JackInput>(shared_from_this(), port.id, sink);
    const MMRESULT result = input->open(reason);
    if (result == MMSYSERR_NOERROR) opened = std::move(input);
    return result;
}

MMRESULT JackClient::openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                                std::string& reason) {
    if (!hasPort(port.id, Direction::Output)) return MIDIERR_PORTGONE;
    auto output = std::make_unique<JackOutput>(shared_from_this(), port.id);
    const MMRESULT result = output->open(reason);
    if (result == MMSYSERR_NOERROR) opened = std::move(output);
    return result;
}

jack_port_t* JackClient::registerPort(bool input, std::string& reason) {
    std::lock_guard lock(apiMutex_);
    if (!client_ || !alive()) return nullptr;
    const std::string base = input ? "in" : "out";
    // "in", then "in-2" and so on while several are open.
    for (int n = 1; n <= static_cast<int>(kMembers) + 1; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        if (jack_port_t* port = jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                                   input ? JackPortIsInput : JackPortIsOutput, 0))
            return port;
        if (!alive()) break;
    }
    reason = "JACK refused to register a MIDI port";
    return nullptr;
}

void JackClient::unregisterPort(jack_port_t* port) {
    std::lock_guard lock(apiMutex_);
    if (client_ && alive()) jack_port_unregister(client_, port);
}

MMRESULT JackClient::connectPort(jack_port_t* port, bool input, const std::string& peer, std::string& reason) {
    {
        std::lock_guard lock(apiMutex_);
        if (!client_ || !alive()) return MIDIERR_PORTGONE;
        const char* ours = jack_port_name(port);
        const int rc = input ? jack_connect(client_, peer.c_str(), ours) : jack_connect(client_, ours, peer.c_str());
        if (rc != 0 && rc != EEXIST) {
            if (!jack_port_by_name(client_, peer.c_str())) return MIDIERR_PORTGONE;
            reason = "JACK refused to connect " + peer + " (error " + std::to_string(rc) + ")";
            return MMSYSERR_ERROR;
        }
    }
    // Our copy of the graph shows the connection a moment later; until it
    // does, the port would look disconnected, that is gone.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!connected(port, peer)) {
        if (!alive() || std::chrono::steady_clock::now() > limit) {
            reason = "JACK did not connect " + peer;
            return alive() ? MMSYSERR_ERROR : MIDIERR_PORTGONE;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    qCDebug(zuxJack) << "connected" << (input ? "from" : "to") << peer.c_str();
    return MMSYSERR_NOERROR;
}

bool JackClient::join(Member* member) {
    std::lock_guard lock(membersMutex_);
    for (auto& slot : members_)
        if (!slot.load()) {
            slot.store(member);
            return true;
        }
    return false;
}

void JackClient::leave(Member* member) {
    {
        std::lock_guard lock(membersMutex_);
        for (auto& slot : members_)
            if (slot.load() == member) slot.store(nullptr);
    }
    // A callback under way may have picked the member up before: wait for
    // it to end (an odd count means one is running).
    const std::uint64_t seen = callbacks_.load();
    if (seen % 2 == 0) return;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (callbacks_.load() == seen && alive() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool JackClient::connected(jack_port_t* port, const std::string& peer) {
    std::lock_guard lock(apiMutex_);
    return client_ && alive() && jack_port_connected_to(port, peer.c_str()) > 0;
}

int JackClient::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    self->callbacks_.fetch_add(1);  // odd: members are in use
    // Each cycle starts `frames` after the one before; a larger step means
    // cycles went by without us, and their MIDI data with them.
    const jack_nframes_t now = jack_last_frame_time(self->client_);
    bool missed = self->haveLastFrame_ && now - self->lastFrame_ != frames;
    self->lastFrame_ = now;
    self->haveLastFrame_ = true;
    const std::uint32_t xruns = self->xruns_.load(std::memory_order_acquire);
    if (xruns != self->xrunsSeen_) {
        self->xrunsSeen_ = xruns;
        missed = true;
    }
    for (auto& slot : self->members_)
        if (Member* member = slot.load()) member->process(frames, missed);
    self->callbacks_.fetch_add(1);
    return 0;
}

void JackClient::shutdown(jack_status_t, const char*, void* arg) {
    auto* self = static_cast<JackClient*>(arg);
    {
        std::lock_guard lock(self->closerMutex_);
        if (!self->shutdown_.exchange(true)) ++deadClients;
    }
    self->closerWake_.notify_all();
    std::lock_guard lock(self->membersMutex_);
    for (auto& slot : self->members_)
        if (Member* member = slot.load()) member->serverGone();
}

// JACK tells of xruns on its notification thread, not the real-time one.
int JackClient::xrun(void* arg) {
    const std::uint32_t count = static_cast<JackClient*>(arg)->xruns_.fetch_add(1, std::memory_order_acq_rel) + 1;
    qCDebug(zuxJack) << "xrun" << count << "of our client: MIDI data of the cycles missed is lost";
    return 0;
}

}  // namespace midi
