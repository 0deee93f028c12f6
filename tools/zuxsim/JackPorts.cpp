// The ports as a JACK client's: the process callback moves bytes between
// the ports and the lock-free streams; a thread records what comes in.

#include <atomic>
#include <cstdio>
#include <thread>

#include <jack/jack.h>
#include <jack/midiport.h>

#include "midi/transports/JackStreams.h"
#include "tools/zuxsim/Loop.h"
#include "tools/zuxsim/Ports.h"

namespace zuxsim {
namespace {

void silent(const char*) {}

void silenceJack() {
    jack_set_error_function(silent);
    jack_set_info_function(silent);
}

class JackPorts final : public Ports {
public:
    JackPorts(std::size_t chunk, Recorder& recorder) : outStream_(64 * 1024, chunk), recorder_(recorder) {}

    ~JackPorts() override {
        if (receiver_.joinable()) {
            stop_.store(true);
            recorder_.stop();
            inStream_.wake();
            receiver_.join();
        }
        if (client_) jack_client_close(client_);
    }

    bool open(const Options& o) {
        jack_status_t status{};
        client_ = jack_client_open(o.name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                   &status);
        if (!client_) {
            std::fprintf(stderr, "zuxsim: no JACK server answers (or the name %s is taken)\n", o.name.c_str());
            return false;
        }
        const unsigned long physical = o.physical ? JackPortIsPhysical : 0;
        in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput | physical, 0);
        out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput | physical, 0);
        jack_set_process_callback(client_, process, this);
        jack_on_info_shutdown(client_, shutdown, this);
        jack_set_port_connect_callback(client_, connected, this);
        if (!in_ || !out_ || jack_activate(client_) != 0) {
            std::fprintf(stderr, "zuxsim: cannot set up the JACK ports\n");
            return false;
        }
        receiver_ = std::thread([this] {
            while (!stop_.load())
                inStream_.poll(
                    100, [this](const std::uint8_t* data, std::size_t size) { recorder_.take(data, size); },
                    [this] { recorder_.lost(); });
        });
        return true;
    }

    std::string name() const override { return jack_get_client_name(client_); }
    bool write(const std::uint8_t* data, std::size_t size) override { return outStream_.write(data, size); }
    bool finish() override { return outStream_.drain(5000); }
    const char* goneText() const override { return "the JACK server went away"; }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackPorts*>(arg);
        self->inStream_.process(jack_port_get_buffer(self->in_, frames));
        self->outStream_.process(jack_port_get_buffer(self->out_, frames));
        return 0;
    }
    static void shutdown(jack_status_t, const char*, void* arg) {
        static_cast<JackPorts*>(arg)->outStream_.close();
        post(Event::Gone);
    }
    static void connected(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
        auto* self = static_cast<JackPorts*>(arg);
        if (connect && (jack_port_by_id(self->client_, a) == self->out_ ||
                        jack_port_by_id(self->client_, b) == self->out_))
            post(Event::Connected);
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    midi::jackstream::InStream inStream_;
    midi::jackstream::OutStream outStream_;
    Recorder& recorder_;
    std::atomic<bool> stop_{false};
    std::thread receiver_;
};

}  // namespace

std::unique_ptr<Ports> openJackPorts(const Options& o, Recorder& recorder) {
    silenceJack();
    auto ports = std::make_unique<JackPorts>(o.chunk, recorder);
    if (!ports->open(o)) return nullptr;
    return ports;
}

bool jackAnswers(const Options& o) {
    silenceJack();
    jack_status_t status{};
    jack_client_t* c = jack_client_open((o.name + "-probe").c_str(), JackNoStartServer, &status);
    if (!c) return false;
    jack_client_close(c);
    return true;
}

}  // namespace zuxsim
