#include "midi/transports/JackTransport.h"

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

#include <jack/jack.h>
#include <jack/midiport.h>

#include "midi/transports/JackStreams.h"

namespace midi {

struct JackTransport::OwnClients {
    std::mutex mutex;
    std::multiset<std::string> names;

    void add(const std::string& name) {
        std::lock_guard lock(mutex);
        names.insert(name);
    }
    void remove(const std::string& name) {
        std::lock_guard lock(mutex);
        if (auto it = names.find(name); it != names.end()) names.erase(it);
    }
    bool owns(const std::string& portName) {
        std::lock_guard lock(mutex);
        for (const auto& client : names)
            if (portName.size() > client.size() && portName.compare(0, client.size(), client) == 0 &&
                portName[client.size()] == ':')
                return true;
        return false;
    }
};

namespace {

void silent(const char*) {}

jack_client_t* openClient(const std::string& name) {
    jack_status_t status{};
    return jack_client_open(name.c_str(), JackNoStartServer, &status);
}

// One JACK client of ours with one MIDI port, connected to a port of another
// client. The derived class supplies the process work.
class PortClient {
public:
    virtual ~PortClient() = default;

protected:
    PortClient(std::shared_ptr<JackTransport::OwnClients> own) : own_(std::move(own)) {}

    // isInput: our port takes MIDI in (connected from peer) or sends it out.
    MMRESULT openPort(const std::string& clientName, const std::string& peer, bool isInput) {
        client_ = openClient(clientName);
        if (!client_) return MMSYSERR_NODRIVER;
        actualName_ = jack_get_client_name(client_);
        own_->add(actualName_);
        port_ = jack_port_register(client_, isInput ? "in" : "out", JACK_DEFAULT_MIDI_TYPE,
                                   isInput ? JackPortIsInput : JackPortIsOutput, 0);
        if (!port_) return MMSYSERR_NOMEM;
        jack_set_process_callback(client_, &PortClient::processThunk, this);
        jack_on_info_shutdown(client_, &PortClient::shutdownThunk, this);
        if (jack_activate(client_) != 0) return MMSYSERR_ERROR;
        const char* ours = jack_port_name(port_);
        const int rc = isInput ? jack_connect(client_, peer.c_str(), ours)
                               : jack_connect(client_, ours, peer.c_str());
        if (rc != 0 && rc != EEXIST) return MIDIERR_NODEVICE;
        connected_ = true;
        return MMSYSERR_NOERROR;
    }

    // Ends the client; the process callback does not run after this.
    void closeClient() {
        if (!client_) return;
        // After the server died the library only tears down its own side,
        // which returns at once.
        jack_client_close(client_);
        client_ = nullptr;
        own_->remove(actualName_);
    }

    bool gone() const { return gone_.load(std::memory_order_acquire); }

    virtual void process(void* portBuffer) = 0;
    virtual void onShutdown() {}

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    bool connected_ = false;

private:
    static int processThunk(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<PortClient*>(arg);
        self->process(jack_port_get_buffer(self->port_, frames));
        return 0;
    }
    static void shutdownThunk(jack_status_t, const char*, void* arg) {
        auto* self = static_cast<PortClient*>(arg);
        self->gone_.store(true, std::memory_order_release);
        self->onShutdown();
    }

    std::shared_ptr<JackTransport::OwnClients> own_;
    std::string actualName_;
    std::atomic<bool> gone_{false};
};

class JackInput final : public InputPort, private PortClient {
public:
    JackInput(std::shared_ptr<JackTransport::OwnClients> own, InputSink& sink)
        : PortClient(std::move(own)), sink_(sink) {}

    MMRESULT open(const std::string& clientName, const std::string& source) {
        reader_ = std::thread([this] { readLoop(); });
        return openPort(clientName, source, true);
    }

    ~JackInput() override {
        closeClient();
        stop_.store(true, std::memory_order_release);
        stream_.wake();
        if (reader_.joinable()) reader_.join();
    }

private:
    void process(void* portBuffer) override { stream_.process(portBuffer); }
    void onShutdown() override { stream_.wake(); }

    // The transport thread: hands the bytes on outside the real-time thread.
    void readLoop() {
        while (!stop_.load(std::memory_order_acquire))
            stream_.poll(
                100, [this](const std::uint8_t* data, std::size_t size) { sink_.onBytes(data, size); },
                [this] { sink_.onDataLost(); });
    }

    InputSink& sink_;
    jackstream::InStream stream_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

class JackOutput final : public OutputPort, private PortClient {
public:
    explicit JackOutput(std::shared_ptr<JackTransport::OwnClients> own) : PortClient(std::move(own)) {}

    MMRESULT open(const std::string& clientName, const std::string& destination) {
        return openPort(clientName, destination, false);
    }

    ~JackOutput() override {
        // Bytes already accepted still go out: the caller counts them as sent.
        if (connected_ && !gone()) stream_.drain(2000);
        closeClient();
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        // A port that lost its peer (the other client quit) delivers nowhere.
        if (gone() || jack_port_connected(port_) <= 0) return false;
        return stream_.write(data, size) && !gone();
    }

    void cancel() override { stream_.cancel(); }

private:
    void process(void* portBuffer) override { stream_.process(portBuffer); }
    void onShutdown() override { stream_.close(); }

    jackstream::OutStream stream_;
};

}  // namespace

std::unique_ptr<JackTransport> JackTransport::create(std::string clientName) {
    // A missing server is the normal case on most machines: say nothing.
    jack_set_error_function(silent);
    jack_set_info_function(silent);
    jack_client_t* probe = openClient(clientName);
    if (!probe) return nullptr;
    jack_client_close(probe);
    return std::unique_ptr<JackTransport>(new JackTransport(std::move(clientName)));
}

JackTransport::JackTransport(std::string clientName)
    : clientName_(std::move(clientName)), own_(std::make_shared<OwnClients>()) {}

std::vector<JackTransport::Listed> JackTransport::list(bool sources) {
    std::vector<Listed> found;
    jack_client_t* client = openClient(clientName_);
    if (!client) return found;  // the server went away: no ports
    const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        sources ? JackPortIsOutput : JackPortIsInput);
    for (const char** name = names; name && *name; ++name) {
        if (own_->owns(*name)) continue;
        jack_port_t* port = jack_port_by_name(client, *name);
        if (!port) continue;
        found.push_back({*name, (jack_port_flags(port) & JackPortIsPhysical) != 0});
    }
    if (names) jack_free(names);
    jack_client_close(client);
    return found;
}

std::size_t JackTransport::inputCount() {
    auto found = list(true);
    std::lock_guard lock(mutex_);
    inputs_ = std::move(found);
    return inputs_.size();
}

std::size_t JackTransport::outputCount() {
    auto found = list(false);
    std::lock_guard lock(mutex_);
    outputs_ = std::move(found);
    return outputs_.size();
}

MMRESULT JackTransport::inputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(mutex_);
    if (index >= inputs_.size()) return MMSYSERR_BADDEVICEID;
    info = {inputs_[index].name, inputs_[index].hardware};
    return MMSYSERR_NOERROR;
}

MMRESULT JackTransport::outputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(mutex_);
    if (index >= outputs_.size()) return MMSYSERR_BADDEVICEID;
    info = {outputs_[index].name, outputs_[index].hardware};
    return MMSYSERR_NOERROR;
}

MMRESULT JackTransport::openInput(std::size_t index, InputSink& sink,
                                  std::unique_ptr<InputPort>& port) {
    std::string source;
    {
        std::lock_guard lock(mutex_);
        if (index >= inputs_.size()) return MMSYSERR_BADDEVICEID;
        source = inputs_[index].name;
    }
    auto input = std::make_unique<JackInput>(own_, sink);
    const MMRESULT result = input->open(clientName_, source);
    if (result == MMSYSERR_NOERROR) port = std::move(input);
    return result;
}

MMRESULT JackTransport::openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) {
    std::string destination;
    {
        std::lock_guard lock(mutex_);
        if (index >= outputs_.size()) return MMSYSERR_BADDEVICEID;
        destination = outputs_[index].name;
    }
    auto output = std::make_unique<JackOutput>(own_);
    const MMRESULT result = output->open(clientName_, destination);
    if (result == MMSYSERR_NOERROR) port = std::move(output);
    return result;
}

}  // namespace midi
