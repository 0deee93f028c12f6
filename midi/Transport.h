// What the MIDI engine needs of a MIDI system: its ports, an input that
// delivers raw bytes, an output that takes raw bytes. One implementation per
// system (ALSA sequencer, JACK, the simulated ports of the tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiApi.h"

namespace midi {

enum class Direction { Input, Output };

// A port as its system lists it.
struct PortInfo {
    // Who the port is within its system: the same for as long as the port
    // exists and never that of another port, so an open reaches the port the
    // user chose or none.
    std::string id;
    std::string name;    // as the system names it, uncut
    bool paced = false;  // output goes no faster than the MIDI wire
    // How other systems refer to this port ("20:0" for an ALSA port), or empty.
    std::string address;
    // Where a system shows a port of another system again (PipeWire's bridge
    // shows ALSA ports as JACK ports): that system's key and the port's
    // address ("alsa:20:0"); otherwise empty.
    std::string sameAs;
    // Non-zero for a port the system lists but cannot describe: its
    // capability query fails with this result.
    MMRESULT infoResult = MMSYSERR_NOERROR;
};

// Receives an open input's bytes, on the transport's own thread, in order.
// Chunks may be of any size and split messages anywhere.
class InputSink {
public:
    virtual ~InputSink() = default;
    virtual void onBytes(const std::uint8_t* data, std::size_t size) = 0;
    // Bytes were lost at this point of the stream (an overrun, a missed JACK
    // cycle, a sender that lost events): the SysEx under way is damaged.
    virtual void onDataLost() = 0;
    // The port went away, or our connection to it was removed: nothing more
    // comes. Called once.
    virtual void onPortGone() = 0;
};

class InputPort {
public:
    // Closes the port; once it returns the sink is never called again.
    virtual ~InputPort() = default;
};

class OutputPort {
public:
    // Closes the port without waiting for bytes not yet out.
    virtual ~OutputPort() = default;
    // Hands bytes to the system, blocking while it cannot take more. False
    // when they may not all reach the port: it is gone, or its receiver could
    // not take them. After a false the message is lost.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // Waits until everything written has left for the port; false when some
    // of it did not, or when waiting was cancelled.
    virtual bool finish() = 0;
    // Drops what was written and has not left yet, and any message under
    // way, so the next write starts clean (a reset).
    virtual void discard() = 0;
    // Makes a write or finish blocked in another thread return soon.
    virtual void cancel() = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // A short name of the system ("alsa", "jack"); PortInfo::sameAs uses it.
    virtual std::string key() const = 0;
    virtual std::vector<PortInfo> listPorts(Direction direction) = 0;
    // Open the port `port.id` names: MIDIERR_PORTGONE when no port has that
    // id any more. `reason` gets the system's own words for a failure.
    virtual MMRESULT openInput(const PortInfo& port, InputSink& sink,
                               std::unique_ptr<InputPort>& opened, std::string& reason) = 0;
    virtual MMRESULT openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                                std::string& reason) = 0;
};

// The transports whose ports make up the device-ID space, in this order.
// Not owned. Tests install the simulated transport here. Forgets the last
// enumeration.
void setTransports(std::vector<Transport*> transports);

// Installs the real MIDI systems found on this machine (none found: no ports).
void installSystemTransports();
// Ends our clients of those systems, once no port of theirs is open: at exit.
void closeSystemTransports();

}  // namespace midi
