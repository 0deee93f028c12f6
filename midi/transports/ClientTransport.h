// A MIDI system reached through one client of ours, kept for the program's
// life: listing and opening need no fresh client, which other patchbays
// would see come and go. Only a client whose system went away (a JACK
// server that stopped) is made again, at the next use.
//
// A system supplies a Client class with:
//   static std::shared_ptr<Client> connect(const std::string& name, std::string& reason);
//       null when the system is not there; prints nothing
//   bool alive() const;
//   std::vector<PortInfo> list(Direction direction);
//   MMRESULT openInput(const PortInfo&, InputSink&, std::unique_ptr<InputPort>&, std::string& reason);
//   MMRESULT openOutput(const PortInfo&, std::unique_ptr<OutputPort>&, std::string& reason);
// Open ports hold a reference to their client, so it outlives them.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "midi/Transport.h"

namespace midi {

template <class Client>
class ClientTransport final : public Transport {
public:
    // Null when the system is not there.
    static std::unique_ptr<Transport> create(std::string key, std::string clientName) {
        std::string reason;
        auto client = Client::connect(clientName, reason);
        if (!client) return nullptr;
        return std::unique_ptr<Transport>(
            new ClientTransport(std::move(key), std::move(clientName), std::move(client)));
    }

    std::string key() const override { return key_; }

    std::vector<PortInfo> listPorts(Direction direction) override {
        std::string reason;
        auto c = client(reason);
        return c ? c->list(direction) : std::vector<PortInfo>{};
    }

    MMRESULT openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                       std::string& reason) override {
        auto c = client(reason);
        return c ? c->openInput(port, sink, opened, reason) : MIDIERR_PORTGONE;
    }

    MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                        std::string& reason) override {
        auto c = client(reason);
        return c ? c->openOutput(port, opened, reason) : MIDIERR_PORTGONE;
    }

private:
    ClientTransport(std::string key, std::string clientName, std::shared_ptr<Client> client)
        : key_(std::move(key)), clientName_(std::move(clientName)), client_(std::move(client)) {}

    std::shared_ptr<Client> client(std::string& reason) {
        std::lock_guard lock(mutex_);
        if (!client_ || !client_->alive()) {
            client_.reset();  // closed first, unless an open port still holds it
            client_ = Client::connect(clientName_, reason);
        }
        return client_;
    }

    const std::string key_;
    const std::string clientName_;
    std::mutex mutex_;
    std::shared_ptr<Client> client_;
};

}  // namespace midi
