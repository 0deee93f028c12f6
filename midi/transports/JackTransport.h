// MIDI ports of a running JACK server (JACK itself, or PipeWire's JACK).
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/Transport.h"

namespace midi {

class JackTransport : public Transport {
public:
    // Null when no JACK server answers; never starts one, prints nothing.
    static std::unique_ptr<JackTransport> create(std::string clientName = "ZUX Filer");

    std::size_t inputCount() override;
    std::size_t outputCount() override;
    MMRESULT inputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT outputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT openInput(std::size_t index, InputSink& sink,
                       std::unique_ptr<InputPort>& port) override;
    MMRESULT openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) override;

    // Names of the clients our open ports use; their ports are not listed.
    struct OwnClients;

private:
    explicit JackTransport(std::string clientName);
    struct Listed {
        std::string name;  // "client:port"
        bool hardware = false;
    };
    std::vector<Listed> list(bool sources);

    std::string clientName_;
    std::shared_ptr<OwnClients> own_;
    std::mutex mutex_;
    std::vector<Listed> inputs_, outputs_;
};

}  // namespace midi
