// The ports as an ALSA sequencer client's. The sequencer delivers a direct
// event into each subscriber's queue before the write returns, so "out" needs
// no thread; a reader thread records what reaches "in" and watches "out" for
// new subscribers.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "tools/zuxsim/Loop.h"
#include "tools/zuxsim/Ports.h"

namespace zuxsim {
namespace {

void silent(const char*, int, const char*, int, const char*, ...) {}

using Address = std::pair<int, int>;  // client, port

class AlsaPorts final : public Ports {
public:
    explicit AlsaPorts(Recorder& recorder) : recorder_(recorder) {}

    ~AlsaPorts() override {
        if (reader_.joinable()) {
            stopping_.store(true);
            recorder_.stop();
            [[maybe_unused]] auto n = ::write(stopPipe_[1], "x", 1);
            reader_.join();
        }
        for (int fd : stopPipe_)
            if (fd >= 0) ::close(fd);
        if (decoder_) snd_midi_event_free(decoder_);
        if (seq_) snd_seq_close(seq_);
    }

    bool open(const Options& o) {
        // Nonblocking: a write to a full receiver fails with EAGAIN in either
        // mode, and a read must never hang whatever poll() said.
        const int opened = snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
        if (opened < 0) {
            seq_ = nullptr;
            std::fprintf(stderr, "zuxsim: cannot open the ALSA sequencer: %s\n", snd_strerror(opened));
            return false;
        }
        snd_seq_set_client_name(seq_, o.name.c_str());
        client_ = snd_seq_client_id(seq_);
        // Before anything arrives: a new size empties the queue.
        if (o.inputPool && !setInputPool(o.inputPool)) {
            std::fprintf(stderr, "zuxsim: the sequencer refused an input pool of %d cells\n", o.inputPool);
            return false;
        }
        // "out" first, so the ports are numbered as --help says.
        const unsigned type = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;
        out_ = snd_seq_create_simple_port(seq_, "out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, type);
        in_ = snd_seq_create_simple_port(seq_, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, type);
        // The sequencer tells a port's owner of a new subscription only when the
        // port takes events, which "out" does not; the system announce port
        // tells everyone. A hidden port of our own listens to it.
        news_ = snd_seq_create_simple_port(seq_, "announcements", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_NO_EXPORT,
                                           SND_SEQ_PORT_TYPE_APPLICATION);
        if (news_ >= 0) {
            const int c = snd_seq_connect_from(seq_, news_, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
            if (c < 0) news_ = c;
        }
        if (out_ < 0 || in_ < 0 || news_ < 0) {
            std::fprintf(stderr, "zuxsim: cannot create the sequencer ports: %s\n",
                         snd_strerror(std::min({out_, in_, news_})));
            return false;
        }
        if (snd_midi_event_new(16, &decoder_) < 0 || pipe2(stopPipe_, O_CLOEXEC) != 0) {
            std::fprintf(stderr, "zuxsim: out of memory\n");
            return false;
        }
        snd_midi_event_no_status(decoder_, 1);  // each short message with its status byte
        reader_ = std::thread([this] { readLoop(); });
        return true;
    }

    std::string name() const override {
        snd_seq_client_info_t* info = nullptr;
        snd_seq_client_info_alloca(&info);
        const std::string own = snd_seq_get_client_info(seq_, info) == 0 ? snd_seq_client_info_get_name(info) : "?";
        return own + " (client " + std::to_string(client_) + ")";
    }

    // Raw bytes as a SysEx event, whatever they hold: the sequencer passes a
    // SysEx event's bytes through untouched, so cutting anywhere is safe.
    bool write(const std::uint8_t* data, std::size_t size) override {
        snd_seq_event_t ev;
        snd_seq_ev_clear(&ev);
        snd_seq_ev_set_sysex(&ev, static_cast<unsigned>(size), const_cast<std::uint8_t*>(data));
        snd_seq_ev_set_source(&ev, out_);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        const int r = snd_seq_event_output_direct(seq_, &ev);
        if (r >= 0) return true;
        if (r == -EAGAIN || r == -ENOMEM)
            std::fprintf(stderr,
                         "zuxsim: a receiver's input queue was full: the sequencer refused the event and "
                         "empties that queue\n");
        else
            std::fprintf(stderr, "zuxsim: the sequencer refused an event: %s\n", snd_strerror(r));
        return false;
    }

    // Every event is in its receivers' queues once written.
    bool finish() override { return true; }
    const char* goneText() const override { return "the ALSA sequencer failed"; }

private:
    // The sequencer ignores a size it does not take, so read it back.
    bool setInputPool(int cells) {
        snd_seq_client_pool_t* pool = nullptr;
        snd_seq_client_pool_alloca(&pool);
        snd_seq_set_client_pool_input(seq_, static_cast<std::size_t>(cells));
        return snd_seq_get_client_pool(seq_, pool) == 0 &&
               snd_seq_client_pool_get_input_pool(pool) == static_cast<std::size_t>(cells);
    }

    void readLoop() {
        std::vector<pollfd> fds(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)) + 1);
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size() - 1), POLLIN);
        fds.back() = {stopPipe_[0], POLLIN, 0};
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
            if (fds.back().revents & POLLIN) return;
            const bool broken = std::any_of(fds.begin(), fds.end() - 1,
                                            [](const pollfd& p) { return p.revents & (POLLERR | POLLNVAL); });
            if (broken || !readAvailable()) break;
        }
        post(Event::Gone);
    }

    // One event per call to the sequencer, until none is left or we stop
    // (a sender may keep the queue full); false on an error other than "empty".
    bool readAvailable() {
        while (!stopping_.load()) {
            snd_seq_event_t* ev = nullptr;
            const int r = snd_seq_event_input(seq_, &ev);
            if (r == -EAGAIN) return true;
            if (r == -ENOSPC) {
                // Our queue overflowed and the kernel emptied it; news of a
                // subscription may have gone with the bytes.
                recorder_.lost();
                catchUpOnSubscribers();
                continue;
            }
            if (r < 0) return false;
            if (ev) handle(*ev);
        }
        return true;
    }

    void handle(const snd_seq_event_t& ev) {
        if (ev.dest.port == news_) {
            announcement(ev);
            return;
        }
        if (ev.dest.port != in_) return;
        if (ev.type == SND_SEQ_EVENT_SYSEX) {
            if (ev.data.ext.len > 0)
                recorder_.take(static_cast<const std::uint8_t*>(ev.data.ext.ptr), ev.data.ext.len);
            return;
        }
        std::uint8_t bytes[16];
        const long n = snd_midi_event_decode(decoder_, bytes, sizeof bytes, &ev);
        if (n > 0) recorder_.take(bytes, static_cast<std::size_t>(n));  // other events than MIDI give n < 0
    }

    // Keeps track of who reads "out"; each new subscription sends the dump.
    void announcement(const snd_seq_event_t& ev) {
        switch (ev.type) {
        case SND_SEQ_EVENT_PORT_SUBSCRIBED:
        case SND_SEQ_EVENT_PORT_UNSUBSCRIBED: {
            const snd_seq_connect_t& c = ev.data.connect;
            if (c.sender.client != client_ || c.sender.port != out_) return;
            if (ev.type == SND_SEQ_EVENT_PORT_UNSUBSCRIBED) {
                subscribers_.erase({c.dest.client, c.dest.port});
            } else {
                subscribers_.insert({c.dest.client, c.dest.port});
                post(Event::Connected);
            }
            return;
        }
        // A subscriber that goes away is not announced as unsubscribed.
        case SND_SEQ_EVENT_PORT_EXIT:
            subscribers_.erase({ev.data.addr.client, ev.data.addr.port});
            return;
        case SND_SEQ_EVENT_CLIENT_EXIT:
            std::erase_if(subscribers_, [&](const Address& a) { return a.first == ev.data.addr.client; });
            return;
        }
    }

    // After an overrun: whoever subscribed to "out" meanwhile counts as new.
    void catchUpOnSubscribers() {
        std::set<Address> now;
        snd_seq_query_subscribe_t* query = nullptr;
        snd_seq_query_subscribe_alloca(&query);
        const snd_seq_addr_t root{static_cast<unsigned char>(client_), static_cast<unsigned char>(out_)};
        snd_seq_query_subscribe_set_root(query, &root);
        snd_seq_query_subscribe_set_type(query, SND_SEQ_QUERY_SUBS_READ);
        snd_seq_query_subscribe_set_index(query, 0);
        while (snd_seq_query_port_subscribers(seq_, query) >= 0) {
            const snd_seq_addr_t* a = snd_seq_query_subscribe_get_addr(query);
            now.insert({a->client, a->port});
            snd_seq_query_subscribe_set_index(query, snd_seq_query_subscribe_get_index(query) + 1);
        }
        for (const Address& a : now)
            if (!subscribers_.count(a)) post(Event::Connected);
        subscribers_ = std::move(now);
    }

    Recorder& recorder_;
    snd_seq_t* seq_ = nullptr;
    int client_ = -1;
    int out_ = -1;
    int in_ = -1;
    int news_ = -1;
    snd_midi_event_t* decoder_ = nullptr;
    int stopPipe_[2] = {-1, -1};
    std::set<Address> subscribers_;  // of "out", as last heard; reader thread only
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Ports> openAlsaPorts(const Options& o, Recorder& recorder) {
    snd_lib_error_set_handler(silent);  // our own messages say what failed
    auto ports = std::make_unique<AlsaPorts>(recorder);
    if (!ports->open(o)) return nullptr;
    return ports;
}

bool alsaSequencerOpens() {
    snd_lib_error_set_handler(silent);
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) return false;
    snd_seq_close(seq);
    return true;
}

}  // namespace zuxsim
