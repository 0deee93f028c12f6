#include "midi/transports/AlsaTransport.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "midi/Log.h"
#include "midi/transports/AlsaByteRouter.h"

namespace midi {

namespace {

// Input pools to try, largest first: the kernel ignores a size above its
// limit without an error, so each is read back.
constexpr int kInputPools[] = {2000, 1000, 500};
// Room for the largest event a software client can send in one piece.
constexpr std::size_t kInputBuffer = 64 * 1024;

std::string errorText(int err) { return std::string("ALSA: ") + snd_strerror(err); }

// The library's own messages go to the diagnostic channel, not to stderr.
void libraryMessage(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    qCDebug(zuxAlsa).nospace() << "alsa-lib " << file << ":" << line << " " << function << ": " << text
                               << (err ? " (" : "") << (err ? snd_strerror(err) : "") << (err ? ")" : "");
}

std::string address(int client, int port) { return std::to_string(client) + ":" + std::to_string(port); }

// Who a port is: its numbers and its client's and its own name, so that a
// new client that got the numbers of one that left is not taken for it.
std::string identityOf(int client, int port, const std::string& clientName, const std::string& portName) {
    return address(client, port) + " " + clientName + "/" + portName;
}

// The identity of the port now at client:port; empty when there is none.
std::string identity(snd_seq_t* seq, int client, int port) {
    snd_seq_client_info_t* ci = nullptr;
    snd_seq_port_info_t* pi = nullptr;
    snd_seq_client_info_alloca(&ci);
    snd_seq_port_info_alloca(&pi);
    if (snd_seq_get_any_client_info(seq, client, ci) < 0 || snd_seq_get_any_port_info(seq, client, port, pi) < 0)
        return {};
    return identityOf(client, port, snd_seq_client_info_get_name(ci), snd_seq_port_info_get_name(pi));
}

bool parseAddress(const std::string& text, int& client, int& port) {
    int end = 0;
    return std::sscanf(text.c_str(), "%d:%d%n", &client, &port, &end) == 2 &&
           static_cast<std::size_t>(end) == text.size();
}

// Makes one of our ports, "in" or "out" (then "in-2" and so on).
int makePort(snd_seq_t* seq, bool input, std::string& reason) {
    const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
    const std::string base = input ? "in" : "out";
    snd_seq_port_info_t* info = nullptr;
    snd_seq_port_info_alloca(&info);
    for (int n = 1;; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        bool taken = false;
        snd_seq_port_info_set_client(info, snd_seq_client_id(seq));
        snd_seq_port_info_set_port(info, -1);
        while (snd_seq_query_next_port(seq, info) >= 0)
            taken = taken || name == snd_seq_port_info_get_name(info);
        if (taken) continue;
        const int port = snd_seq_create_simple_port(seq, name.c_str(), caps,
                                                    SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) reason = errorText(port);
        return port;
    }
}

// Checks that `port` is still the port it was listed as.
MMRESULT findListed(snd_seq_t* seq, const PortInfo& port, int& client, int& number) {
    if (!parseAddress(port.address, client, number)) return MIDIERR_PORTGONE;
    return identity(seq, client, number) == port.id ? MMSYSERR_NOERROR : MIDIERR_PORTGONE;
}

class AlsaInput final : public InputPort {
public:
    AlsaInput(std::shared_ptr<AlsaClient> client, int port) : client_(std::move(client)), port_(port) {}
    ~AlsaInput() override {
        client_->removeRoute(port_);
        client_->withSeq([&](snd_seq_t* seq) { return snd_seq_delete_simple_port(seq, port_); });
        qCDebug(zuxAlsa) << "closed input port" << port_;
    }

private:
    std::shared_ptr<AlsaClient> client_;
    const int port_;
};

// Sends to one destination, subscribed. A user-space receiver has no flow
// control: when its queue is full the kernel refuses the event (EAGAIN) and
// empties that queue at its next read, so the bytes are gone. Such a send
// fails; it is never retried as if nothing had happened. The engine paces
// every ALSA output to the wire, which such receivers keep up with.
class AlsaOutput final : public OutputPort {
public:
    AlsaOutput(std::shared_ptr<AlsaClient> client, int port, int destClient, int destPort)
        : client_(std::move(client)), port_(port), destClient_(destClient), destPort_(destPort) {
        snd_midi_event_new(16, &encoder_);
    }
    ~AlsaOutput() override {
        client_->withSeq([&](snd_seq_t* seq) {
            snd_seq_drop_output(seq);
            return snd_seq_delete_simple_port(seq, port_);
        });
        if (encoder_) snd_midi_event_free(encoder_);
        qCDebug(zuxAlsa) << "closed output port" << port_;
    }

    bool valid() const { return encoder_ != nullptr; }

    bool write(const std::uint8_t* data, std::size_t size) override {
        if (!subscribed()) return false;
        auto raw = [this](const std::uint8_t* bytes, std::size_t n) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(n), const_cast<std::uint8_t*>(bytes));
            return send(ev);
        };
        auto encode = [this](std::uint8_t b) {
            snd_seq_event_t ev;
            snd_seq_ev_clear(&ev);
            const int done = snd_midi_event_encode_byte(encoder_, b, &ev);
            return done == 0 || (done > 0 && send(ev));
        };
        for (std::size_t i = 0; i < size; ++i)
            if (!router_.put(data[i], raw, encode)) return false;
        // What is here of a SysEx goes out now; the next write continues it.
        // Should the subscription have gone meanwhile, the bytes went nowhere.
        return router_.flush(raw) && subscribed();
    }

    bool finish() override { return subscribed(); }

    void discard() override {
        router_.reset();
        snd_midi_event_reset_encode(encoder_);
        client_->withSeq([](snd_seq_t* seq) { return snd_seq_drop_output(seq); });
    }

    void cancel() override {}  // nothing here waits

private:
    // Our subscription to the destination is there: it goes with the port
    // (unplugged, its program ended) and when a patchbay removes it.
    bool subscribed() {
        const bool there = client_->withSeq([&](snd_seq_t* seq) {
            snd_seq_port_subscribe_t* sub = nullptr;
            snd_seq_port_subscribe_alloca(&sub);
            const snd_seq_addr_t sender{static_cast<unsigned char>(client_->id()), static_cast<unsigned char>(port_)};
            const snd_seq_addr_t dest{static_cast<unsigned char>(destClient_), static_cast<unsigned char>(destPort_)};
            snd_seq_port_subscribe_set_sender(sub, &sender);
            snd_seq_port_subscribe_set_dest(sub, &dest);
            return snd_seq_get_port_subscription(seq, sub) == 0;
        });
        if (!there && !goneLogged_) {
            goneLogged_ = true;
            qCDebug(zuxAlsa).nospace() << "output to " << destClient_ << ":" << destPort_
                                       << ": the port or our connection to it is gone";
        }
        return there;
    }

    // Queues one event and hands it to the kernel before returning.
    bool send(snd_seq_event_t& ev) {
        return client_->withSeq([&](snd_seq_t* seq) {
            snd_seq_ev_set_source(&ev, port_);
            snd_seq_ev_set_subs(&ev);
            snd_seq_ev_set_direct(&ev);
            int r = snd_seq_event_output(seq, &ev);
            if (r >= 0) r = snd_seq_drain_output(seq);
            if (r == 0) return true;
            // EAGAIN: the receiver's queue is full and it has lost bytes.
            qCDebug(zuxAlsa).nospace() << "output to " << destClient_ << ":" << destPort_ << " failed: "
                                       << (r > 0 ? "not all sent" : snd_strerror(r));
            snd_seq_drop_output(seq);
            return false;
        });
    }

    std::shared_ptr<AlsaClient> client_;
    const int port_;
    const int destClient_, destPort_;
    snd_midi_event_t* encoder_ = nullptr;
    AlsaByteRouter router_;
    bool goneLogged_ = false;
};

}  // namespace

// An open input: where its events go, decoded.
struct AlsaClient::Route {
    int sourceClient = -1, sourcePort = -1;
    InputSink* sink = nullptr;
    snd_midi_event_t* decoder = nullptr;
    bool gone = false;
    ~Route() {
        if (decoder) snd_midi_event_free(decoder);
    }
};

std::shared_ptr<AlsaClient> AlsaClient::connect(const std::string& name, std::string& reason) {
    // Most containers and some desktops have no sequencer: then alsa-lib need
    // not read its configuration (half a megabyte) to say so.
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        reason = std::string("ALSA: /dev/snd/seq: ") + std::strerror(errno);
        qCDebug(zuxAlsa) << "no sequencer:" << reason.c_str();
        return nullptr;
    }
    snd_lib_error_set_handler(libraryMessage);
    snd_seq_t* seq = nullptr;
    if (int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK); err < 0) {
        reason = errorText(err);
        qCDebug(zuxAlsa) << "no sequencer:" << reason.c_str();
        return nullptr;
    }
    std::shared_ptr<AlsaClient> self(new AlsaClient);
    self->seq_ = seq;
    self->id_ = snd_seq_client_id(seq);
    snd_seq_set_client_name(seq, name.c_str());

    // The default pool drops a burst from a fast software sender.
    snd_seq_client_pool_t* pool = nullptr;
    snd_seq_client_pool_alloca(&pool);
    for (int size : kInputPools) {
        snd_seq_set_client_pool_input(seq, static_cast<std::size_t>(size));
        if (snd_seq_get_client_pool(seq, pool) == 0 &&
            snd_seq_client_pool_get_input_pool(pool) == static_cast<std::size_t>(size))
            break;
    }
    snd_seq_set_input_buffer_size(seq, kInputBuffer);

    // Ports and subscriptions that come and go are announced by the system.
    self->announcePort_ = snd_seq_create_simple_port(seq, "announcements",
                                                     SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                     SND_SEQ_PORT_TYPE_APPLICATION);
    if (self->announcePort_ >= 0)
        snd_seq_connect_from(seq, self->announcePort_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    self->stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (self->stopFd_ < 0) {
        reason = "cannot make an event descriptor";
        return nullptr;
    }
    self->reader_ = std::thread([raw = self.get()] { raw->readLoop(); });
    qCDebug(zuxAlsa) << "connected to the sequencer as client" << self->id_;
    return self;
}

AlsaClient::~AlsaClient() {
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    if (stopFd_ >= 0) ::close(stopFd_);
    if (seq_) snd_seq_close(seq_);  // also removes our ports and their subscriptions
}

std::vector<PortInfo> AlsaClient::list(Direction direction) {
    const unsigned need = direction == Direction::Input ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                                        : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    std::vector<PortInfo> found;
    withSeq([&](snd_seq_t* seq) {
        snd_seq_client_info_t* client = nullptr;
        snd_seq_port_info_t* port = nullptr;
        snd_seq_client_info_alloca(&client);
        snd_seq_port_info_alloca(&port);
        snd_seq_client_info_set_client(client, -1);
        while (snd_seq_query_next_client(seq, client) >= 0) {
            const int id = snd_seq_client_info_get_client(client);
            if (id == SND_SEQ_CLIENT_SYSTEM || id == id_) continue;
            const bool kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
            snd_seq_port_info_set_client(port, id);
            snd_seq_port_info_set_port(port, -1);
            while (snd_seq_query_next_port(seq, port) >= 0) {
                const unsigned caps = snd_seq_port_info_get_capability(port);
                if ((caps & need) != need || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
                const int number = snd_seq_port_info_get_port(port);
                const std::string clientName = snd_seq_client_info_get_name(client);
                const std::string portName = snd_seq_port_info_get_name(port);
                PortInfo info;
                info.address = address(id, number);
                info.id = identityOf(id, number, clientName, portName);
                // A hardware port's name says which device it is; a program's
                // ports are often just "out" or "MIDI 1", so its name goes first.
                info.name = kernel ? portName : clientName + ":" + portName;
                // Every output is paced: hardware drops an overrun silently,
                // and a user-space receiver has no flow control at all.
                info.paced = direction == Direction::Output || kernel;
                found.push_back(std::move(info));
            }
        }
        return 0;
    });
    return found;
}

MMRESULT AlsaClient::openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                               std::string& reason) {
    int client = -1, number = -1, ours = -1;
    const MMRESULT result = withSeq([&](snd_seq_t* seq) -> MMRESULT {
        if (MMRESULT r = findListed(seq, port, client, number)) return r;
        ours = makePort(seq, true, reason);
        if (ours < 0) return MMSYSERR_NOMEM;
        return MMSYSERR_NOERROR;
    });
    if (result != MMSYSERR_NOERROR) return result;
    auto input = std::make_unique<AlsaInput>(shared_from_this(), ours);
    // Routed before the subscription exists, so no event finds no route.
    addRoute(ours, client, number, sink);
    if (int err = withSeq([&](snd_seq_t* seq) { return snd_seq_connect_from(seq, ours, client, number); }); err < 0) {
        reason = errorText(err);
        return err == -ENOENT || err == -ENXIO ? MIDIERR_PORTGONE : MMSYSERR_ERROR;
    }
    qCDebug(zuxAlsa) << "input port" << ours << "connected from" << port.id.c_str();
    opened = std::move(input);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaClient::openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened, std::string& reason) {
    int client = -1, number = -1, ours = -1;
    const MMRESULT result = withSeq([&](snd_seq_t* seq) -> MMRESULT {
        if (MMRESULT r = findListed(seq, port, client, number)) return r;
        ours = makePort(seq, false, reason);
        return ours < 0 ? MMSYSERR_NOMEM : MMSYSERR_NOERROR;
    });
    if (result != MMSYSERR_NOERROR) return result;
    auto output = std::make_unique<AlsaOutput>(shared_from_this(), ours, client, number);
    if (!output->valid()) return MMSYSERR_NOMEM;
    if (int err = withSeq([&](snd_seq_t* seq) { return snd_seq_connect_to(seq, ours, client, number); }); err < 0) {
        reason = errorText(err);
        return err == -ENOENT || err == -ENXIO ? MIDIERR_PORTGONE : MMSYSERR_ERROR;
    }
    qCDebug(zuxAlsa) << "output port" << ours << "connected to" << port.id.c_str();
    opened = std::move(output);
    return MMSYSERR_NOERROR;
}

void AlsaClient::addRoute(int ourPort, int sourceClient, int sourcePort, InputSink& sink) {
    auto route = std::make_unique<Route>();
    route->sourceClient = sourceClient;
    route->sourcePort = sourcePort;
    route->sink = &sink;
    if (snd_midi_event_new(16, &route->decoder) == 0)
        snd_midi_event_no_status(route->decoder, 1);  // every short message with its status byte
    std::lock_guard lock(routesMutex_);
    routes_[ourPort] = std::move(route);
}

void AlsaClient::removeRoute(int ourPort) {
    std::unique_ptr<Route> gone;
    std::lock_guard lock(routesMutex_);
    if (auto it = routes_.find(ourPort); it != routes_.end()) {
        gone = std::move(it->second);
        routes_.erase(it);
    }
}

void AlsaClient::readLoop() {
    std::vector<pollfd> fds = withSeq([](snd_seq_t* seq) {
        std::vector<pollfd> f(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq, POLLIN)));
        snd_seq_poll_descriptors(seq, f.data(), static_cast<unsigned>(f.size()), POLLIN);
        return f;
    });
    fds.push_back({stopFd_, POLLIN, 0});
    for (;;) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds.back().revents & POLLIN) return;
        readAvailable();
    }
}

// Hands every queued event on.
void AlsaClient::readAvailable() {
    std::lock_guard lock(seqMutex_);
    for (;;) {
        snd_seq_event_t* ev = nullptr;
        const int r = snd_seq_event_input(seq_, &ev);
        if (r == -EAGAIN) return;
        if (r == -ENOSPC) {
            // The kernel emptied our queue after an overrun: bytes are gone,
            // from whichever port they came.
            qCDebug(zuxAlsa) << "input overrun: the sequencer dropped events";
            std::lock_guard routesLock(routesMutex_);
            for (auto& [port, route] : routes_) route->sink->onDataLost();
            continue;
        }
        if (r < 0) {
            qCDebug(zuxAlsa) << "reading events failed:" << snd_strerror(r);
            return;
        }
        if (ev) dispatch(*ev);
    }
}

void AlsaClient::dispatch(const snd_seq_event_t& ev) {
    if (ev.dest.port == announcePort_) return announced(ev);
    std::lock_guard lock(routesMutex_);
    auto it = routes_.find(ev.dest.port);
    if (it == routes_.end()) return;
    Route& route = *it->second;
    if (ev.type == SND_SEQ_EVENT_SYSEX) {
        if (ev.data.ext.len > 0)
            route.sink->onBytes(static_cast<const std::uint8_t*>(ev.data.ext.ptr), ev.data.ext.len);
        return;
    }
    if (!route.decoder) return;
    unsigned char bytes[16];
    const long n = snd_midi_event_decode(route.decoder, bytes, sizeof bytes, &ev);
    if (n > 0) route.sink->onBytes(bytes, static_cast<std::size_t>(n));  // non-MIDI events give n < 0
}

// A source that left, or our subscription to it removed: its input is gone.
void AlsaClient::announced(const snd_seq_event_t& ev) {
    std::lock_guard lock(routesMutex_);
    for (auto& [ours, route] : routes_) {
        bool gone = false;
        switch (ev.type) {
        case SND_SEQ_EVENT_CLIENT_EXIT: gone = ev.data.addr.client == route->sourceClient; break;
        case SND_SEQ_EVENT_PORT_EXIT:
            gone = ev.data.addr.client == route->sourceClient && ev.data.addr.port == route->sourcePort;
            break;
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED:
            gone = ev.data.connect.sender.client == route->sourceClient &&
                   ev.data.connect.sender.port == route->sourcePort && ev.data.connect.dest.client == id_ &&
                   ev.data.connect.dest.port == ours;
            break;
        default: break;
        }
        if (gone && !route->gone) {
            route->gone = true;
            qCDebug(zuxAlsa).nospace() << "input from " << route->sourceClient << ":" << route->sourcePort
                                       << " is gone (event " << ev.type << ")";
            route->sink->onPortGone();
        }
    }
}

}  // namespace midi
