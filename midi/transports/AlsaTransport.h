// MIDI ports of the ALSA sequencer, where every USB and hardware MIDI
// interface of a Linux machine appears.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/Transport.h"

namespace midi {

class AlsaTransport : public Transport {
public:
    // Null when the sequencer device cannot be opened; prints nothing.
    static std::unique_ptr<AlsaTransport> create(std::string clientName = "ZUX Filer");

    std::size_t inputCount() override;
    std::size_t outputCount() override;
    MMRESULT inputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT outputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT openInput(std::size_t index, InputSink& sink,
                       std::unique_ptr<InputPort>& port) override;
    MMRESULT openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) override;

    // Client numbers our open ports use; their ports are not listed.
    struct OwnClients;

private:
    explicit AlsaTransport(std::string clientName);
    struct Listed {
        int client = 0;
        int port = 0;
        std::string name;
        bool hardware = false;
    };
    std::vector<Listed> list(bool sources);

    std::string clientName_;
    std::shared_ptr<OwnClients> own_;
    std::mutex mutex_;
    std::vector<Listed> inputs_, outputs_;
};

}  // namespace midi
