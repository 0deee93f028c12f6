// In-process MIDI ports for tests: scripted names, failing queries and opens,
// injected input, captured output.
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
        bool hardware = false;
        MMRESULT infoResult = MMSYSERR_NOERROR;  // non-zero: the capability query fails
        MMRESULT openResult = MMSYSERR_NOERROR;  // non-zero: opening fails with it
    };
    struct Arrival {
        std::chrono::steady_clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    SimulatedTransport();
    ~SimulatedTransport() override;

    void addInput(Port port);
    void addOutput(Port port);

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
    // A stalled port takes no byte until cancelled; a vanished one refuses all.
    void setOutputStalled(std::size_t index, bool stalled);
    void setOutputVanished(std::size_t index, bool vanished);

    std::size_t inputCount() override;
    std::size_t outputCount() override;
    MMRESULT inputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT outputInfo(std::size_t index, PortInfo& info) override;
    MMRESULT openInput(std::size_t index, InputSink& sink,
                       std::unique_ptr<InputPort>& port) override;
    MMRESULT openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) override;

    struct State;  // shared with the open ports, which may outlive a test's transport

private:
    std::shared_ptr<State> state_;
};

}  // namespace midi
