#include "e2e/JackServer.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include <jack/jack.h>

#include "support/Wait.h"

namespace zuxtest {

std::string JackServer::jackdPath() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/jackd";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

JackServer::JackServer() {
    static std::atomic<int> counter{0};
    name_ = "zuxtest-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    dir_ = (std::filesystem::temp_directory_path() / name_).string();
    std::filesystem::create_directories(dir_);
    // The transports and the simulator join the server named here.
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
}

JackServer::~JackServer() {
    // A killed server leaves its shared memory (some 200 MB) behind; the next
    // server to start frees it, so start one briefly.
    if (killed_) start();
    jackd_.stop(SIGTERM);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    // A killed server leaves its semaphores and socket behind.
    const std::string mark = "_" + name_ + "_";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored))
        if (entry.path().filename().string().find(mark) != std::string::npos)
            std::filesystem::remove(entry.path(), ignored);
}

std::string JackServer::log() const {
    const Bytes text = readFile(dir_ + "/jackd.log");
    return std::string(text.begin(), text.end());
}

namespace {

bool jackdRunning() {
    std::error_code ignored;
    for (const auto& process : std::filesystem::directory_iterator("/proc", ignored)) {
        const Bytes comm = readFile(process.path().string() + "/comm");
        if (std::string(comm.begin(), comm.end()) == "jackd\n") return true;
    }
    return false;
}

}  // namespace

bool JackServer::start() {
    // The library complains on stderr at every probe before the server
    // answers; jackd's own log is in dir().
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    for (int attempt = 1;; ++attempt) {
        jackd_ = Child({PRIVATE_JACKD_PATH, name_}, dir_ + "/jackd.log");
        const bool answered = waitFor(
            [this] {
                if (!jackd_.running()) return true;  // it gave up
                jack_status_t status{};
                jack_client_t* c = jack_client_open("zuxtest-probe", JackNoStartServer, &status);
                if (!c) return false;
                jack_client_close(c);
                return true;
            },
            std::chrono::seconds(20));
        if (answered && jackd_.running()) return true;
        // Servers killed earlier (by the tests, or a crash) stay in JACK's
        // shared registry of servers while their process IDs look taken;
        // with eight there, no more start. With no jackd running at all, the
        // registry holds only such leftovers.
        if (attempt > 1 || log().find("Too many servers") == std::string::npos || jackdRunning()) return false;
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
            const std::string file = entry.path().filename().string();
            if (file == "jack-shm-registry" || file.rfind("jack-" + std::to_string(getuid()) + "-", 0) == 0 ||
                file.rfind("jack_db-", 0) == 0)
                std::filesystem::remove_all(entry.path(), ignored);
        }
    }
}

}  // namespace zuxtest
