#include "tools/zuxsim/Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "midi/Wire.h"

namespace zuxsim {
namespace {

const char* const kHelp = R"(Usage: zuxsim [OPTION]...
Acts as the sequencer on the running JACK server, or with --alsa on the ALSA
sequencer: offers the MIDI ports NAME:out (the sequencer sends its dump) and
NAME:in (it receives one).

  --alsa               be an ALSA sequencer client (ports 0 "out" and 1 "in")
                       instead of a JACK client
  --name NAME          client name (default: zuxsim)
  --send FILE          the dump to send: raw bytes, one or several SysEx
  --send-on-connect    send the dump whenever a port connects to NAME:out
  --chunk N            largest MIDI event sent, in bytes (default 256)
  --pace BYTES         send at most BYTES bytes a second, as hardware does
                       ("wire": the MIDI wire's 3,125); default: as fast as
                       JACK or the ALSA sequencer takes
  --receive-to FILE    append every byte arriving at NAME:in to FILE,
                       flushed as it arrives (the file is emptied at start)
  --slow-reader MS     wait MS milliseconds after each event read from
                       NAME:in, as a receiver that falls behind does
  --input-pool N       ALSA only: room in the client's input queue, in cells
                       of 28 bytes (1 to 2000; a 256-byte SysEx event takes
                       11); default: the sequencer's own
  --physical           JACK only: register both ports as physical, as a
                       hardware MIDI interface's are, so programs pace output
                       to the wire (an ALSA client's ports never are)
  --probe              exit 0 if a JACK server answers (with --alsa: if the
                       ALSA sequencer opens), 1 if not; no ports
  --help               show this text

While running, the dump is sent on the line "send" on standard input or on
the signal SIGUSR1. "quit", SIGINT or SIGTERM end the program. It never
starts a JACK server; JACK_DEFAULT_SERVER chooses which one it joins.
The ALSA sequencer hands each event straight to the receivers' queues and
has no flow control: when a receiver's queue is full, the event is refused
and that queue is emptied, so the send stops and reports that it failed.
Exit status: 0 after quit, 1 on errors, when the JACK server goes away or
when the ALSA sequencer fails.
)";

// A whole decimal number in [lo, hi], or false.
bool number(const char* text, long lo, long hi, long& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtol(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && out >= lo && out <= hi;
}

}  // namespace

bool parse(int argc, char** argv, Options& o) {
    static const std::set<std::string> kWithValue = {"--name",       "--send",        "--chunk",     "--pace",
                                                      "--receive-to", "--slow-reader", "--input-pool"};
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
        long n = 0;
        if (a == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (a == "--alsa") {
            o.alsa = true;
        } else if (a == "--name") {
            o.name = v;
        } else if (a == "--send") {
            o.sendFile = v;
        } else if (a == "--send-on-connect") {
            o.sendOnConnect = true;
        } else if (a == "--chunk") {
            if (!number(v, 1, 4096, n)) {
                std::fprintf(stderr, "zuxsim: --chunk takes 1 to 4096\n");
                return false;
            }
            o.chunk = static_cast<std::size_t>(n);
        } else if (a == "--pace" && std::string(v) == "wire") {
            o.pace = midi::kWireBytesPerSecond;
        } else if (a == "--pace") {
            char* end = nullptr;
            o.pace = std::strtod(v, &end);
            if (end == v || *end != '\0' || !(o.pace >= 0)) {
                std::fprintf(stderr, "zuxsim: --pace takes a number of bytes a second\n");
                return false;
            }
        } else if (a == "--receive-to") {
            o.receiveTo = v;
        } else if (a == "--slow-reader") {
            if (!number(v, 0, 600000, n)) {
                std::fprintf(stderr, "zuxsim: --slow-reader takes 0 to 600000 milliseconds\n");
                return false;
            }
            o.slowReaderMs = static_cast<int>(n);
        } else if (a == "--input-pool") {
            if (!number(v, 1, 2000, n)) {
                std::fprintf(stderr, "zuxsim: --input-pool takes 1 to 2000 cells\n");
                return false;
            }
            o.inputPool = static_cast<int>(n);
        } else if (a == "--physical") {
            o.physical = true;
        } else if (a == "--probe") {
            o.probe = true;
        } else {
            std::fprintf(stderr, "zuxsim: unknown option %s (see --help)\n", a.c_str());
            return false;
        }
    }
    if (o.alsa && o.physical) {
        std::fprintf(stderr, "zuxsim: --physical is for JACK only: an ALSA client's ports are never hardware ports\n");
        return false;
    }
    if (!o.alsa && o.inputPool) {
        std::fprintf(stderr, "zuxsim: --input-pool is for --alsa only\n");
        return false;
    }
    return true;
}

}  // namespace zuxsim
