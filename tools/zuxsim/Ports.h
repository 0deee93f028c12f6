// The simulator's two ports, NAME:out and NAME:in, on one MIDI system. Each
// kind records what arrives at "in" on a thread of its own, and tells the
// main loop of connections to "out" and of losing the MIDI system by post().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/zuxsim/Options.h"
#include "tools/zuxsim/Recorder.h"

namespace zuxsim {

class Ports {
public:
    virtual ~Ports() = default;
    // The client as the ready line names it.
    virtual std::string name() const = 0;
    // Sends one piece of the dump (at most --chunk bytes) to whatever is
    // connected to "out"; false when it cannot go out whole.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // After the last write: true once every byte has gone out.
    virtual bool finish() = 0;
    // Why the main loop heard Event::Gone.
    virtual const char* goneText() const = 0;
};

// Each prints why it failed and returns null.
std::unique_ptr<Ports> openJackPorts(const Options& o, Recorder& recorder);
std::unique_ptr<Ports> openAlsaPorts(const Options& o, Recorder& recorder);

bool jackAnswers(const Options& o);
bool alsaSequencerOpens();

}  // namespace zuxsim
