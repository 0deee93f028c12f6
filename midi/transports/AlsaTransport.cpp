#include "midi/transports/AlsaTransport.h"
#include "midi/transports/AlsaByteRouter.h"

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>
#include <vector>

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace midi {

struct AlsaTransport::OwnClients {
    std::mutex mutex;
    std::multiset<int> ids;

    void add(int id) {
        std::lock_guard lock(mutex);
        ids.insert(id);
    }
    void remove(int id) {
        std::lock_guard lock(mutex);
        if (auto it = ids.find(id); it != ids.end()) ids.erase(it);
    }
    bool owns(int id) {
        std::lock_guard lock(mutex);
        return ids.count(id) > 0;
    }
};

namespace {

constexpr int kInputPools[] = {2000, 1000, 500};  // the kernel ignores values above its limit

void silent(const char*, int, const char*, int, const char*, ...) {}

snd_seq_t* openSeq(const std::string& name, int mode) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", mode, 0) < 0) return nullptr;
    snd_seq_set_client_name(seq, name.c_str());
    return seq;
}

// One sequencer client of ours with one port, subscribed to a port of
// another client.
class PortClient {
protected:
    explicit PortClient(std::shared_ptr<AlsaTransport::OwnClients> own) : own_(std::move(own)) {}
    ~PortClient() {
        if (seq_) {
            own_->remove(snd_seq_client_id(seq_));
            snd_seq_close(seq_);  // also removes our port and its subscription
        }
    }

    MMRESULT openClient(const std::string& name, int mode) {
        seq_ = openSeq(name, mode);
        if (!seq_) return MMSYSERR_NODRIVER;
        own_->add(snd_seq_client_id(seq_));
        return MMSYSERR_NOERROR;
    }

    // Our port, subscribed to `client:port`: an input takes what that port
    // sends, an output sends to it. Nonblocking from here on.
    MMRESULT connectPort(const std::string& name, bool input, int client, int port) {
        const unsigned caps = input ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                                    : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        port_ = snd_seq_create_simple_port(seq_, (name + (input ? " in" : " out")).c_str(), caps,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port_ < 0) return MMSYSERR_NOMEM;
        const int connected = input ? snd_seq_connect_from(seq_, port_, client, port)
                                    : snd_seq_connect_to(seq_, port_, client, port);
        if (connected < 0) return MIDIERR_NODEVICE;
        snd_seq_nonblock(seq_, 1);
        return MMSYSERR_NOERROR;
    }

    std::vector<pollfd> descriptors(short events) {
        std::vector<pollfd> fds(static_cast<std::size_t>(snd_seq_poll_descriptors_count(seq_, events)));
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), events);
        return fds;
    }

    snd_seq_t* seq_ = nullptr;
    int port_ = -1;

private:
    std::shared_ptr<AlsaTransport::OwnClients> own_;
};

class AlsaInput final : public InputPort, private PortClient {
public:
    AlsaInput(std::shared_ptr<AlsaTransport::OwnClients> own, InputSink& sink)
        : PortClient(std::move(own)), sink_(sink) {}

    MMRESULT open(const std::string& name, int client, int port) {
        if (MMRESULT r = openClient(name, SND_SEQ_OPEN_INPUT)) return r;
        raiseInputPool();
        // Room for the largest event a software client can send in one piece.
        snd_seq_set_input_buffer_size(seq_, 64 * 1024);
        if (MMRESULT r = connectPort(name, true, client, port)) return r;
        if (snd_midi_event_new(16, &decoder_) < 0) return MMSYSERR_NOMEM;
        snd_midi_event_no_status(decoder_, 1);  // every short message with its status byte
        stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0) return MMSYSERR_NOMEM;
        reader_ = std::thread([this] { readLoop(); });
        return MMSYSERR_NOERROR;
    }

    ~AlsaInput() override {
        if (reader_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
            reader_.join();
        }
        if (stopFd_ >= 0) ::close(stopFd_);
        if (decoder_) snd_midi_event_free(decoder_);
    }

private:
    // The default pool drops a burst from a fast software client; an
    // out-of-range size is ignored without an error, so read it back.
    void raiseInputPool() {
        snd_seq_client_pool_t* pool = nullptr;
        snd_seq_client_pool_alloca(&pool);
        for (int size : kInputPools) {
            snd_seq_set_client_pool_input(seq_, static_cast<std::size_t>(size));
            if (snd_seq_get_client_pool(seq_, pool) == 0 &&
                snd_seq_client_pool_get_input_pool(pool) == static_cast<std::size_t>(size))
                return;
        }
    }

    void readLoop() {
        std::vector<pollfd> fds = descriptors(POLLIN);
        fds.push_back({stopFd_, POLLIN, 0});
        for (;;) {
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
            if (fds.back().revents & POLLIN) return;
            bool broken = false;
            for (std::size_t i = 0; i + 1 < fds.size(); ++i)
                if (fds[i].revents & (POLLERR | POLLNVAL)) broken = true;
            if (!readAvailable() || broken) {
                // The sequencer failed under us: stay silent until closed.
                fds.assign(1, {stopFd_, POLLIN, 0});
            }
        }
    }

    // Hands every queued event on; false on an error other than "empty".
    bool readAvailable() {
        for (;;) {
            snd_seq_event_t* ev = nullptr;
            const int r = snd_seq_event_input(seq_, &ev);
            if (r == -EAGAIN) return true;
            if (r == -ENOSPC) {
                // The kernel emptied our queue after an overrun: bytes are gone.
                sink_.onDataLost();
                continue;
            }
            if (r < 0) return false;
            if (ev) deliver(*ev);
        }
    }

    void deliver(const snd_seq_event_t& ev) {
        if (ev.type == SND_SEQ_EVENT_SYSEX) {
            if (ev.data.ext.len > 0)
                sink_.onBytes(static_cast<const std::uint8_t*>(ev.data.ext.ptr), ev.data.ext.len);
            return;
        }
        unsigned char bytes[16];
        const long n = snd_midi_event_decode(decoder_, bytes, sizeof bytes, &ev);
        if (n > 0) sink_.onBytes(bytes, static_cast<std::size_t>(n));  // non-MIDI events give n < 0
    }

    InputSink& sink_;
    snd_midi_event_t* decoder_ = nullptr;
    int stopFd_ = -1;
    std::thread reader_;
};

class AlsaOutput final : public OutputPort, private PortClient {
public:
    explicit AlsaOutput(std::shared_ptr<AlsaTransport::OwnClients> own) : PortClient(std::move(own)) {}

    MMRESULT open(const std::string& name, int client, int port) {
        if (MMRESULT r = openClient(name, SND_SEQ_OPEN_OUTPUT)) return r;
        if (MMRESULT r = connectPort(name, false, client, port)) return r;
        if (snd_midi_event_new(16, &encoder_) < 0) return MMSYSERR_NOMEM;
        destClient_ = client;
        destPort_ = port;
        fds_ = descriptors(POLLOUT);
        return MMSYSERR_NOERROR;
    }

    ~AlsaOutput() override {
        if (encoder_) snd_midi_event_free(encoder_);
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        generation_ = cancelGeneration_.load(std::memory_order_acquire);
        if (!destinationExists()) return false;
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
        return router_.flush(raw);
    }

    void cancel() override { cancelGeneration_.fetch_add(1, std::memory_order_acq_rel); }

private:
    // Queues one event and drains it into the kernel before returning.
    bool send(snd_seq_event_t& ev) {
        snd_seq_ev_set_source(&ev, port_);
        snd_seq_ev_set_subs(&ev);
        snd_seq_ev_set_direct(&ev);
        for (;;) {
            const int r = snd_seq_event_output(seq_, &ev);
            if (r >= 0) break;
            if (r != -EAGAIN || !waitWritable()) return false;
        }
        for (;;) {
            const int r = snd_seq_drain_output(seq_);
            if (r == 0) return true;
            if ((r > 0 || r == -EAGAIN) && waitWritable()) continue;
            return false;
        }
    }

    bool waitWritable() {
        if (cancelGeneration_.load(std::memory_order_acquire) != generation_) return false;
        if (poll(fds_.data(), fds_.size(), 50) < 0 && errno != EINTR) return false;
        return cancelGeneration_.load(std::memory_order_acquire) == generation_ && destinationExists();
    }

    bool destinationExists() {
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca(&info);
        return snd_seq_get_any_port_info(seq_, destClient_, destPort_, info) == 0;
    }

    snd_midi_event_t* encoder_ = nullptr;
    std::vector<pollfd> fds_;
    int destClient_ = -1, destPort_ = -1;
    AlsaByteRouter router_;
    std::atomic<std::uint32_t> cancelGeneration_{0};
    std::uint32_t generation_ = 0;
};

}  // namespace

std::unique_ptr<AlsaTransport> AlsaTransport::create(std::string clientName) {
    // Most containers and some desktops have no sequencer: say nothing then.
    const int fd = ::open("/dev/snd/seq", O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    ::close(fd);
    snd_lib_error_set_handler(silent);
    snd_seq_t* probe = openSeq(clientName, SND_SEQ_OPEN_DUPLEX);
    if (!probe) return nullptr;
    snd_seq_close(probe);
    return std::unique_ptr<AlsaTransport>(new AlsaTransport(std::move(clientName)));
}

AlsaTransport::AlsaTransport(std::string clientName)
    : clientName_(std::move(clientName)), own_(std::make_shared<OwnClients>()) {}

std::vector<AlsaTransport::Listed> AlsaTransport::list(bool sources) {
    std::vector<Listed> found;
    snd_seq_t* seq = openSeq(clientName_, SND_SEQ_OPEN_DUPLEX);
    if (!seq) return found;
    const unsigned need = sources ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                  : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == SND_SEQ_CLIENT_SYSTEM || id == snd_seq_client_id(seq) || own_->owns(id)) continue;
        const bool kernel = snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & need) != need || (caps & SND_SEQ_PORT_CAP_NO_EXPORT)) continue;
            found.push_back({id, snd_seq_port_info_get_port(port), snd_seq_port_info_get_name(port), kernel});
        }
    }
    snd_seq_close(seq);
    return found;
}

std::size_t AlsaTransport::inputCount() {
    auto found = list(true);
    std::lock_guard lock(mutex_);
    inputs_ = std::move(found);
    return inputs_.size();
}

std::size_t AlsaTransport::outputCount() {
    auto found = list(false);
    std::lock_guard lock(mutex_);
    outputs_ = std::move(found);
    return outputs_.size();
}

MMRESULT AlsaTransport::inputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(mutex_);
    if (index >= inputs_.size()) return MMSYSERR_BADDEVICEID;
    info = {inputs_[index].name, inputs_[index].hardware};
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaTransport::outputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(mutex_);
    if (index >= outputs_.size()) return MMSYSERR_BADDEVICEID;
    info = {outputs_[index].name, outputs_[index].hardware};
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaTransport::openInput(std::size_t index, InputSink& sink,
                                  std::unique_ptr<InputPort>& port) {
    Listed source;
    {
        std::lock_guard lock(mutex_);
        if (index >= inputs_.size()) return MMSYSERR_BADDEVICEID;
        source = inputs_[index];
    }
    auto input = std::make_unique<AlsaInput>(own_, sink);
    const MMRESULT result = input->open(clientName_, source.client, source.port);
    if (result == MMSYSERR_NOERROR) port = std::move(input);
    return result;
}

MMRESULT AlsaTransport::openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) {
    Listed destination;
    {
        std::lock_guard lock(mutex_);
        if (index >= outputs_.size()) return MMSYSERR_BADDEVICEID;
        destination = outputs_[index];
    }
    auto output = std::make_unique<AlsaOutput>(own_);
    const MMRESULT result = output->open(clientName_, destination.client, destination.port);
    if (result == MMSYSERR_NOERROR) port = std::move(output);
    return result;
}

}  // namespace midi
