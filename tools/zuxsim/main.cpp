// zuxsim: stands in for the sequencer on a JACK server. It offers an output
// port that sends a dump file and an input port whose bytes go to a file, so
// the program can be tried and tested without the instrument.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <jack/jack.h>
#include <jack/midiport.h>

#include "midi/transports/JackStreams.h"

namespace {

const char* const kHelp = R"(Usage: zuxsim [OPTION]...
Acts as the sequencer on the running JACK server: offers the MIDI ports
NAME:out (the sequencer sends its dump) and NAME:in (it receives one).

  --name NAME          JACK client name (default: zuxsim)
  --send FILE          the dump to send: raw bytes, one or several SysEx
  --send-on-connect    send the dump whenever a port connects to NAME:out
  --chunk N            largest MIDI event sent, in bytes (default 256)
  --pace BYTES         send at most BYTES bytes a second, as hardware does
                       (3125 is the MIDI wire); default: as fast as JACK takes
  --receive-to FILE    append every byte arriving at NAME:in to FILE,
                       flushed as it arrives (the file is emptied at start)
  --physical           register both ports as physical, as a hardware MIDI
                       interface's are, so programs pace output to the wire
  --probe              exit 0 if a JACK server answers, 1 if not; no ports
  --help               show this text

While running, the dump is sent on the line "send" on standard input or on
the signal SIGUSR1. "quit", SIGINT or SIGTERM end the program. It never
starts a JACK server; JACK_DEFAULT_SERVER chooses which one it joins.
Exit status: 0 after quit, 1 on errors or when the server goes away.
)";

struct Options {
    std::string name = "zuxsim";
    std::string sendFile;
    bool sendOnConnect = false;
    std::size_t chunk = 256;
    double pace = 0;
    std::string receiveTo;
    bool physical = false;
    bool probe = false;
};

int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t quitting = 0;  // ends a paced send early

// Signal handlers and JACK's notification thread only post a letter here.
void post(char what) {
    const int saved = errno;
    [[maybe_unused]] auto n = ::write(wakePipe[1], &what, 1);
    errno = saved;
}

void onSignal(int sig) {
    if (sig != SIGUSR1) quitting = 1;
    post(sig == SIGUSR1 ? 's' : 'q');
}

void silent(const char*) {}

bool parse(int argc, char** argv, Options& o) {
    static const std::set<std::string> kWithValue = {"--name", "--send", "--chunk", "--pace",
                                                      "--receive-to"};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = nullptr;
        if (kWithValue.count(a)) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zuxsim: %s needs a value\n", a.c_str());
                return false;
            }
            v = argv[++i];
        }
        if (a == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (a == "--name") {
            o.name = v;
        } else if (a == "--send") {
            o.sendFile = v;
        } else if (a == "--send-on-connect") {
            o.sendOnConnect = true;
        } else if (a == "--chunk") {
            o.chunk = std::strtoul(v, nullptr, 10);
            if (o.chunk < 1 || o.chunk > 4096) {
                std::fprintf(stderr, "zuxsim: --chunk takes 1 to 4096\n");
                return false;
            }
        } else if (a == "--pace") {
            o.pace = std::strtod(v, nullptr);
            if (o.pace < 0) return false;
        } else if (a == "--receive-to") {
            o.receiveTo = v;
        } else if (a == "--physical") {
            o.physical = true;
        } else if (a == "--probe") {
            o.probe = true;
        } else {
            std::fprintf(stderr, "zuxsim: unknown option %s (see --help)\n", a.c_str());
            return false;
        }
    }
    return true;
}

struct Sim {
    jack_client_t* client = nullptr;
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    midi::jackstream::InStream inStream;
    midi::jackstream::OutStream outStream;
    std::atomic<bool> stop{false};

    explicit Sim(std::size_t chunk) : outStream(64 * 1024, chunk) {}

    static int process(jack_nframes_t frames, void* arg) {
        auto* sim = static_cast<Sim*>(arg);
        sim->inStream.process(jack_port_get_buffer(sim->in, frames));
        sim->outStream.process(jack_port_get_buffer(sim->out, frames));
        return 0;
    }
    static void shutdown(jack_status_t, const char*, void* arg) {
        static_cast<Sim*>(arg)->outStream.close();
        post('x');
    }
    static void connected(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
        auto* sim = static_cast<Sim*>(arg);
        if (connect && (jack_port_by_id(sim->client, a) == sim->out ||
                        jack_port_by_id(sim->client, b) == sim->out))
            post('c');
    }
};

bool sendDump(Sim& sim, const std::vector<std::uint8_t>& dump, const Options& o) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (sent < dump.size()) {
        if (quitting) return false;
        const std::size_t n = std::min(o.chunk, dump.size() - sent);
        if (!sim.outStream.write(dump.data() + sent, n)) return false;
        sent += n;
        if (o.pace > 0)
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(sent / o.pace)));
    }
    return sim.outStream.drain(5000);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) return 1;
    jack_set_error_function(silent);
    jack_set_info_function(silent);

    if (o.probe) {
        jack_status_t status{};
        jack_client_t* c = jack_client_open((o.name + "-probe").c_str(), JackNoStartServer, &status);
        if (!c) return 1;
        jack_client_close(c);
        return 0;
    }

    std::vector<std::uint8_t> dump;
    if (!o.sendFile.empty()) {
        std::ifstream f(o.sendFile, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "zuxsim: cannot read %s\n", o.sendFile.c_str());
            return 1;
        }
        dump.assign(std::istreambuf_iterator<char>(f), {});
    }
    std::FILE* received = nullptr;
    if (!o.receiveTo.empty() && !(received = std::fopen(o.receiveTo.c_str(), "wb"))) {
        std::fprintf(stderr, "zuxsim: cannot write %s\n", o.receiveTo.c_str());
        return 1;
    }

    if (pipe2(wakePipe, O_CLOEXEC) != 0) return 1;
    std::signal(SIGUSR1, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);

    Sim sim(o.chunk);
    jack_status_t status{};
    sim.client = jack_client_open(o.name.c_str(), static_cast<jack_options_t>(JackNoStartServer | JackUseExactName),
                                  &status);
    if (!sim.client) {
        std::fprintf(stderr, "zuxsim: no JACK server answers (or the name %s is taken)\n", o.name.c_str());
        return 1;
    }
    const unsigned long physical = o.physical ? JackPortIsPhysical : 0;
    sim.in = jack_port_register(sim.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput | physical, 0);
    sim.out = jack_port_register(sim.client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput | physical, 0);
    jack_set_process_callback(sim.client, Sim::process, &sim);
    jack_on_info_shutdown(sim.client, Sim::shutdown, &sim);
    jack_set_port_connect_callback(sim.client, Sim::connected, &sim);
    if (!sim.in || !sim.out || jack_activate(sim.client) != 0) {
        std::fprintf(stderr, "zuxsim: cannot set up the JACK ports\n");
        jack_client_close(sim.client);
        return 1;
    }

    std::thread receiver([&] {
        while (!sim.stop.load())
            sim.inStream.poll(
                100,
                [&](const std::uint8_t* data, std::size_t size) {
                    if (!received) return;
                    std::fwrite(data, 1, size, received);
                    std::fflush(received);
                },
                [] { std::fprintf(stderr, "zuxsim: input overrun, bytes were lost\n"); });
    });

    std::fprintf(stderr, "zuxsim: ready as %s (dump %zu bytes)\n", jack_get_client_name(sim.client),
                 dump.size());
    int rc = 0;
    bool stdinOpen = true;
    std::string line;
    for (bool running = true; running;) {
        pollfd fds[2] = {{wakePipe[0], POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        std::string events;
        if (fds[0].revents & POLLIN) {
            char buf[64];
            const ssize_t n = ::read(wakePipe[0], buf, sizeof buf);
            if (n > 0) events.append(buf, static_cast<std::size_t>(n));
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char buf[256];
            const ssize_t n = ::read(0, buf, sizeof buf);
            if (n <= 0) stdinOpen = false;  // detached: signals still work
            for (ssize_t i = 0; i < n; ++i) {
                if (buf[i] != '\n') {
                    line += buf[i];
                    continue;
                }
                if (line == "send") events += 's';
                else if (line == "quit") events += 'q';
                else if (!line.empty()) std::fprintf(stderr, "zuxsim: commands are send, quit\n");
                line.clear();
            }
        }
        for (char e : events) {
            if (e == 'q') running = false;
            if (e == 'x') {
                std::fprintf(stderr, "zuxsim: the JACK server went away\n");
                rc = 1;
                running = false;
            }
            if (!running) break;
            if (e == 's' || (e == 'c' && o.sendOnConnect)) {
                if (sendDump(sim, dump, o))
                    std::fprintf(stderr, "zuxsim: sent %zu bytes\n", dump.size());
                else
                    std::fprintf(stderr, "zuxsim: sending failed\n");
            }
        }
    }

    sim.stop.store(true);
    sim.inStream.wake();
    receiver.join();
    jack_client_close(sim.client);
    if (received) std::fclose(received);
    return rc;
}
