#include "tools/zuxsim/Loop.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace zuxsim {
namespace {

int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t quitting = 0;  // ends a paced send early

void onSignal(int sig) {
    if (sig != SIGUSR1) quitting = 1;
    post(sig == SIGUSR1 ? Event::Send : Event::Quit);
}

bool sendDump(Ports& ports, const std::vector<std::uint8_t>& dump, const Options& o) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (sent < dump.size()) {
        if (quitting) return false;
        const std::size_t n = std::min(o.chunk, dump.size() - sent);
        if (!ports.write(dump.data() + sent, n)) return false;
        sent += n;
        if (o.pace > 0)
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(sent / o.pace)));
    }
    return ports.finish();
}

// Appends the letters for the complete command lines read from stdin.
void readCommands(const char* buf, ssize_t n, std::string& line, std::string& events) {
    for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
            line += buf[i];
            continue;
        }
        if (line == "send") events += static_cast<char>(Event::Send);
        else if (line == "quit") events += static_cast<char>(Event::Quit);
        else if (!line.empty()) std::fprintf(stderr, "zuxsim: commands are send, quit\n");
        line.clear();
    }
}

}  // namespace

void post(Event e) {
    const int saved = errno;
    const char what = static_cast<char>(e);
    [[maybe_unused]] auto n = ::write(wakePipe[1], &what, 1);
    errno = saved;
}

bool startEvents() {
    if (pipe2(wakePipe, O_CLOEXEC) != 0) return false;
    std::signal(SIGUSR1, onSignal);
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

int run(Ports& ports, const std::vector<std::uint8_t>& dump, const Options& o) {
    std::fprintf(stderr, "zuxsim: ready as %s (dump %zu bytes)\n", ports.name().c_str(), dump.size());
    bool stdinOpen = true;
    std::string line;
    for (;;) {
        pollfd fds[2] = {{wakePipe[0], POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
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
            readCommands(buf, n, line, events);
        }
        for (char e : events) {
            switch (static_cast<Event>(e)) {
            case Event::Quit:
                return 0;
            case Event::Gone:
                std::fprintf(stderr, "zuxsim: %s\n", ports.goneText());
                return 1;
            case Event::Connected:
                if (!o.sendOnConnect) break;
                [[fallthrough]];
            case Event::Send:
                if (sendDump(ports, dump, o))
                    std::fprintf(stderr, "zuxsim: sent %zu bytes\n", dump.size());
                else
                    std::fprintf(stderr, "zuxsim: sending failed\n");
                break;
            }
        }
    }
}

}  // namespace zuxsim
