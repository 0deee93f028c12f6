// In-process MIDI ports for tests: scripted names, failing queries and opens,
// ports that come and go, injected input, captured output.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/Transport.h"

namespace midi {

class SimulatedTransport : public Transport {
public:
    struct Port {
        std::string name;
        bool paced = false;                      // as a hardware port
        MMRESULT infoResult = MMSYSERR_NOERROR;  // non-zero: the capability query fails with it
        MMRESULT openResult = MMSYSERR_NOERROR;  // non-zero: opening fails with it
        std::string openReason;                  // the system's words for a failed open
        bool openThrows = false;                 // opening throws std::runtime_error
    };
    struct Arrival {
        std::chrono::steady_clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    explicit SimulatedTransport(std::string key = "sim");
    ~SimulatedTransport() override;

    // A port's index is its place in the order ports were added, and stays
    // so when ports are removed. Returns it.
    std::size_t addInput(Port port);
    std::size_t addOutput(Port port);
    // The port goes away, as when unplugged: it is no longer listed, it
    // cannot be opened, an open input hears of it, an open output refuses
    // every byte.
    void removeInput(std::size_t index);
    void removeOutput(std::size_t index);

    // Feeds bytes to input port `index` as one chunk, from the calling thread.
    // Returns false when that port is not open.
    bool inject(std::size_t index, const std::vector<std::uint8_t>& bytes);
    // Reports lost bytes on input port `index`, as an overrun would.
    bool injectDataLost(std::size_t index);
    bool inputOpen(std::size_t index) const;

    // Every chunk output port `index` was given, with its arrival time.
    std::vector<Arrival> captured(std::size_t index) const;
    std::vector<std::uint8_t> capturedBytes(std::size_t index) const;
    bool outputOpen(std::size_t index) const;
    // Calls of write() on output port `index`, also those that took nothing.
    std::size_t writeCalls(std::size_t index) const;
    // A stalled port takes no byte until cancelled or freed again.
    void setOutputStalled(std::size_t index, bool stalled);
    // A port whose receiver drops what it is given: every write fails.
    void setOutputRefusing(std::size_t index, bool refusing);
    // Calls of discard() on output port `index`.
    std::size_t discards(std::size_t index) const;

    std::string key() const override;
    std::vector<PortInfo> listPorts(Direction direction) override;
    MMRESULT openInput(const PortInfo& port, InputSink& sink, std::unique_ptr<InputPort>& opened,
                       std::string& reason) override;
    MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                        std::string& reason) override;

    struct State;  // shared with the open ports, which may outlive a test's transport

private:
    std::string key_;
    std::shared_ptr<State> state_;
};

}  // namespace midi
