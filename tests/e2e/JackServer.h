// A private JACK server (dummy driver, no sound hardware) and the sequencer
// simulator, as child processes that the tests always stop again.
#pragma once

#include <string>

#include "support/Processes.h"

namespace zuxtest {

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
    // What jackd said, for a failure message.
    std::string log() const;

private:
    std::string name_;
    std::string dir_;
    Child jackd_;
    bool killed_ = false;
};

}  // namespace zuxtest
