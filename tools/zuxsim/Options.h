// The simulator's command line.
#pragma once

#include <cstddef>
#include <string>

namespace zuxsim {

struct Options {
    std::string name = "zuxsim";
    bool alsa = false;  // an ALSA sequencer client instead of a JACK one
    std::string sendFile;
    bool sendOnConnect = false;
    std::size_t chunk = 256;
    double pace = 0;  // bytes a second; 0: as fast as the MIDI system takes
    std::string receiveTo;
    int slowReaderMs = 0;  // wait after each event read from "in"
    int inputPool = 0;     // ALSA input pool in cells; 0: the sequencer's default
    bool physical = false;
    bool probe = false;
};

// Fills `o` from the arguments; prints --help and exits, or prints why the
// arguments are wrong and returns false.
bool parse(int argc, char** argv, Options& o);

}  // namespace zuxsim
