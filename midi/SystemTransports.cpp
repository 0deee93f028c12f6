#include "midi/transports/AlsaTransport.h"
#include "midi/transports/ClientTransport.h"
#include "midi/transports/JackTransport.h"

namespace midi {

void installSystemTransports() {
    constexpr const char* kClientName = "ZUX Filer";
    // The MIDI systems found on this machine, in the order their ports are
    // listed: ALSA first, since every USB and hardware interface appears
    // there. Found once and kept for the life of the program: the engine
    // holds them, and nothing may tear them down behind an open port at exit.
    static const std::vector<Transport*> systems = {
        ClientTransport<AlsaClient>::create("alsa", kClientName).release(),
        ClientTransport<JackClient>::create("jack", kClientName).release(),
    };
    setTransports(systems);  // a system that is not there is null and left out
}

}  // namespace midi
