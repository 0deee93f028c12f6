// The simulator's command line.
#pragma once

#include <cstddef>
#include <string>

namespace zuxsim {

struct Options {
    std::string name = "zuxsim";
    std::string sendFile;
    bool sendOnConnect = false;
    std::size_t chunk = 256;
    double pace = 0;  // bytes a second; 0: as fast as the MIDI system takes
    std::string receiveTo;
    int slowReaderMs = 0;  // wait after each event read from "in"
    bool physical = false;
    bool probe = false;
};

// Fills `o` from the arguments; prints --help and exits, or prints why the
// arguments are wrong and returns false.
bool parse(int argc, char** argv, Options& o);

}  // namespace zuxsim
