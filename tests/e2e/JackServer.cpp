#include "e2e/JackServer.h"

#include <atomic>

#include <gtest/gtest.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <jack/jack.h>

extern char** environ;

namespace e2e {

Child::Child(const std::vector<std::string>& argv, const std::string& logFile) {
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return;
    // Everything the child needs is made before fork: after it, in a process
    // with threads, only async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Dies with the test process, also when that one is killed (a test
        // timeout), so no server outlives the tests.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log < 0 || dup2(in[0], 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0) _exit(127);
        execve(args[0], args.data(), environ);
        _exit(127);
    }
    ::close(in[0]);
    stdin_ = in[1];
}

Child::~Child() { stop(SIGTERM); }

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
    if (this != &other) {
        stop(SIGTERM);
        pid_ = std::exchange(other.pid_, -1);
        stdin_ = std::exchange(other.stdin_, -1);
    }
    return *this;
}

bool Child::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void Child::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

void Child::stop(int sig) {
    if (stdin_ >= 0) {
        ::close(stdin_);
        stdin_ = -1;
    }
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    if (!waitFor([this] { return !running(); }, 5000)) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

void Child::say(const std::string& line) {
    if (stdin_ < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] auto n = ::write(stdin_, text.data(), text.size());
}

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

bool JackServer::start() {
    // The library complains on stderr at every probe before the server
    // answers; jackd's own log is in dir().
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jackd_ = Child({PRIVATE_JACKD_PATH, name_}, dir_ + "/jackd.log");
    return waitFor(
        [] {
            jack_status_t status{};
            jack_client_t* c = jack_client_open("zuxtest-probe", JackNoStartServer, &status);
            if (!c) return false;
            jack_client_close(c);
            return true;
        },
        20000);
}

Child startSim(const std::string& name, const std::vector<std::string>& options,
               const std::string& logFile) {
    std::vector<std::string> argv = {ZUXSIM_PATH, "--name", name};
    argv.insert(argv.end(), options.begin(), options.end());
    Child sim(argv, logFile);
    // Its ports can be connected once it is active, which it says.
    const bool ready = waitFor([&] {
        const auto log = readFile(logFile);
        return std::string(log.begin(), log.end()).find("zuxsim: ready") != std::string::npos;
    });
    if (!ready) ADD_FAILURE() << "the simulator " << name << " did not start; see " << logFile;
    return sim;
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

std::vector<unsigned char> sysex(std::size_t size, unsigned seed) {
    std::vector<unsigned char> bytes(size);
    bytes[0] = 0xF0;
    bytes[1] = 0x7D;
    bytes[2] = 0x10;
    bytes[3] = 0x7E;
    unsigned x = seed;
    for (std::size_t i = 4; i + 1 < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<unsigned char>((x >> 16) & 0x7F);
    }
    bytes[size - 1] = 0xF7;
    return bytes;
}

}  // namespace e2e
