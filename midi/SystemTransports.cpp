#include <memory>
#include <vector>

#include "midi/transports/AlsaTransport.h"
#include "midi/transports/ClientTransport.h"
#include "midi/transports/JackTransport.h"

namespace midi {

namespace {

// Found once and kept until the program ends: the engine holds them.
std::vector<std::unique_ptr<Transport>>& systems() {
    static auto* found = new std::vector<std::unique_ptr<Transport>>;
    return *found;
}

}  // namespace

void installSystemTransports() {
    constexpr const char* kClientName = "ZUX Filer";
    auto& found = systems();
    if (found.empty()) {
        // In the order their ports are listed: ALSA first, since every USB
        // and hardware interface appears there. A system that is not there
        // is left out.
        if (auto alsa = ClientTransport<AlsaClient>::create("alsa", kClientName)) found.push_back(std::move(alsa));
        if (auto jack = ClientTransport<JackClient>::create("jack", kClientName)) found.push_back(std::move(jack));
    }
    std::vector<Transport*> installed;
    for (const auto& system : found) installed.push_back(system.get());
    setTransports(installed);
}

void closeSystemTransports() {
    setTransports({});
    // Our clients leave their systems as a program should: a JACK server
    // whose client just vanished may hang when it is stopped next.
    systems().clear();
}

}  // namespace midi
