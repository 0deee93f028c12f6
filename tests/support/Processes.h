// Child processes the tests start (a JACK server, the sequencer simulator),
// always stopped again, and the files they leave.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include "support/Bytes.h"

namespace zuxtest {

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

// The sequencer simulator as client `name` with `options`, logging to
// `logFile`, once it is ready (a test failure if it never is).
Child startSim(const std::string& name, const std::vector<std::string>& options,
               const std::string& logFile);

// The whole file; empty when it cannot be read.
Bytes readFile(const std::string& path);

}  // namespace zuxtest
