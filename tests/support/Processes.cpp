#include "support/Processes.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <utility>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Wait.h"

extern char** environ;

namespace zuxtest {

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
    if (!waitFor([this] { return !running(); }, std::chrono::seconds(5))) {
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

Child startSim(const std::string& name, const std::vector<std::string>& options,
               const std::string& logFile) {
    std::vector<std::string> argv = {ZUXSIM_PATH, "--name", name};
    argv.insert(argv.end(), options.begin(), options.end());
    // A log may be shared by several runs: only what this one writes counts.
    const std::size_t before = readFile(logFile).size();
    Child sim(argv, logFile);
    // Its ports can be connected once it is active, which it says.
    const bool ready = waitFor([&] {
        const Bytes log = readFile(logFile);
        return log.size() > before &&
               std::string(log.begin() + static_cast<long>(before), log.end()).find("zuxsim: ready") !=
                   std::string::npos;
    });
    if (!ready) ADD_FAILURE() << "the simulator " << name << " did not start; see " << logFile;
    return sim;
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

}  // namespace zuxtest
