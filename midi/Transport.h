// What the MIDI engine needs of a MIDI system: its ports, an input that
// delivers raw bytes, an output that takes raw bytes. One implementation per
// system (ALSA sequencer, JACK, the simulated ports of the tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "midi/MidiApi.h"

namespace midi {

struct PortInfo {
    std::string name;       // as the system names it; the engine cuts it to 31 characters
    bool hardware = false;  // a hardware port is paced to the MIDI wire on output
};

// Receives an open input's bytes, on the transport's own thread, in order.
// Chunks may be of any size and split messages anywhere.
class InputSink {
public:
    virtual ~InputSink() = default;
    virtual void onBytes(const std::uint8_t* data, std::size_t size) = 0;
    // Bytes were lost (a system buffer overran): the SysEx under way is damaged.
    virtual void onDataLost() = 0;
};

class InputPort {
public:
    // Closes the port; once it returns the sink is never called again.
    virtual ~InputPort() = default;
};

class OutputPort {
public:
    virtual ~OutputPort() = default;
    // Hands bytes to the system, blocking while it cannot take more.
    // Returns false once the port is gone; the bytes may then be lost.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Makes a write blocked in another thread return soon (reset, close).
    virtual void cancel() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // The counts are read before each enumeration and each open; index < count.
    virtual std::size_t inputCount() = 0;
    virtual std::size_t outputCount() = 0;
    virtual MMRESULT inputInfo(std::size_t index, PortInfo& info) = 0;
    virtual MMRESULT outputInfo(std::size_t index, PortInfo& info) = 0;
    virtual MMRESULT openInput(std::size_t index, InputSink& sink,
                               std::unique_ptr<InputPort>& port) = 0;
    virtual MMRESULT openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) = 0;
};

// The transports whose ports make up the device-ID space, in this order:
// device IDs 0..n-1 per direction run through the first transport's ports,
// then the next one's. Not owned. Tests install the simulated transport here.
void setTransports(std::initializer_list<Transport*> transports);

// Installs the real MIDI systems found on this machine (none found: no ports).
void installSystemTransports();

}  // namespace midi
