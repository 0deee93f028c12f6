// A private JACK server (dummy driver, no sound hardware) and the sequencer
// simulator, as child processes that the tests always stop again.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace e2e {

// A child process, stopped (TERM, then KILL) when destroyed, and killed when
// the thread that made it ends (make children on the main thread only).
class Child {
public:
    Child() = default;
    Child(const std::vector<std::string>& argv, const std::string& logFile);
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&& other) noexcept;

    bool running();
    void signal(int sig);
    // Sends sig and waits for the end; KILL when it takes longer than 5 s.
    void stop(int sig);
    // Writes a line to the child's standard input.
    void say(const std::string& line);

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
};

// A unique server name (also put in JACK_DEFAULT_SERVER) and its jackd.
class JackServer {
public:
    // Empty when jackd is not installed.
    static std::string jackdPath();

    JackServer();
    ~JackServer();
    // Starts jackd and waits until it answers; false after 20 s.
    bool start();
    void kill() {
        jackd_.stop(9);
        killed_ = true;
    }
    const std::string& name() const { return name_; }
    const std::string& dir() const { return dir_; }  // a scratch folder for this server's tests

private:
    std::string name_;
    std::string dir_;
    Child jackd_;
    bool killed_ = false;
};

// The sequencer simulator as JACK client `name` with `options`, logging to
// `logFile`, once it is ready (a test failure if it never is).
Child startSim(const std::string& name, const std::vector<std::string>& options,
               const std::string& logFile);

// Waits for cond, checking every 10 ms; false after timeoutMs.
template <typename Cond>
bool waitFor(Cond&& cond, int timeoutMs = 20000);

std::vector<unsigned char> readFile(const std::string& path);
// One SysEx of `size` bytes in the test manufacturer's range: F0 7D 10 7E … F7.
std::vector<unsigned char> sysex(std::size_t size, unsigned seed = 1);

}  // namespace e2e

#include <chrono>
#include <thread>

template <typename Cond>
bool e2e::waitFor(Cond&& cond, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
