#include "midi/transports/SimulatedTransport.h"

#include <condition_variable>
#include <stdexcept>

namespace midi {

struct SimulatedTransport::State {
    struct End {
        Port port;
        bool removed = false;
    };
    struct In : End {
        InputSink* sink = nullptr;
    };
    struct Out : End {
        bool open = false;
        bool stalled = false;
        bool refusing = false;
        std::uint64_t cancels = 0;
        std::size_t writeCalls = 0;
        std::size_t discards = 0;
        std::vector<Arrival> arrivals;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<In> ins;
    std::vector<Out> outs;
    // Held while a sink is called, so closing an input waits for a call under way.
    std::mutex sinkMutex;
};

namespace {

using State = SimulatedTransport::State;

// Port ids are the index in the order added: "in:3", "out:0".
std::string idOf(Direction direction, std::size_t index) {
    return (direction == Direction::Input ? "in:" : "out:") + std::to_string(index);
}

// The index `id` names, if it is a port of that direction that is still there.
template <class Ends>
bool indexOf(const Ends& ends, Direction direction, const std::string& id, std::size_t& index) {
    for (std::size_t i = 0; i < ends.size(); ++i)
        if (idOf(direction, i) == id && !ends[i].removed) {
            index = i;
            return true;
        }
    return false;
}

// Calls `call` with the sink of input `index`; false when that input is not open.
template <class Call>
bool callSink(State& state, std::size_t index, Call&& call) {
    std::lock_guard sinkLock(state.sinkMutex);
    InputSink* sink = nullptr;
    {
        std::lock_guard lock(state.mutex);
        if (index < state.ins.size()) sink = state.ins[index].sink;
    }
    if (!sink) return false;
    call(*sink);
    return true;
}

// Sets one of output `index`'s conditions and wakes a write waiting on it.
template <class Value>
void setOutput(State& state, std::size_t index, Value State::Out::*field, Value value) {
    {
        std::lock_guard lock(state.mutex);
        if (index < state.outs.size()) state.outs[index].*field = value;
    }
    state.changed.notify_all();
}

template <class Ends>
std::vector<PortInfo> listOf(const Ends& ends, Direction direction) {
    std::vector<PortInfo> list;
    for (std::size_t i = 0; i < ends.size(); ++i) {
        if (ends[i].removed) continue;
        const SimulatedTransport::Port& p = ends[i].port;
        PortInfo info;
        info.id = idOf(direction, i);
        info.name = p.name;
        info.paced = p.paced;
        info.infoResult = p.infoResult;
        list.push_back(std::move(info));
    }
    return list;
}

class SimulatedInput : public InputPort {
public:
    SimulatedInput(std::shared_ptr<State> state, std::size_t index)
        : state_(std::move(state)), index_(index) {}
    ~SimulatedInput() override {
        std::lock_guard sinkLock(state_->sinkMutex);
        std::lock_guard lock(state_->mutex);
        state_->ins[index_].sink = nullptr;
    }

private:
    std::shared_ptr<State> state_;
    std::size_t index_;
};

class SimulatedOutput : public OutputPort {
public:
    SimulatedOutput(std::shared_ptr<State> state, std::size_t index)
        : state_(std::move(state)), index_(index) {}
    ~SimulatedOutput() override {
        std::lock_guard lock(state_->mutex);
        out().open = false;
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        std::unique_lock lock(state_->mutex);
        const std::uint64_t cancels = out().cancels;
        ++out().writeCalls;
        state_->changed.wait(lock, [&] {
            return !out().stalled || gone() || out().cancels != cancels;
        });
        if (gone() || out().stalled) return false;
        out().arrivals.push_back(
            {std::chrono::steady_clock::now(), std::vector<std::uint8_t>(data, data + size)});
        return true;
    }

    bool finish() override {
        std::lock_guard lock(state_->mutex);
        return !gone();
    }

    void discard() override {
        std::lock_guard lock(state_->mutex);
        ++out().discards;
    }

    void cancel() override {
        {
            std::lock_guard lock(state_->mutex);
            ++out().cancels;
        }
        state_->changed.notify_all();
    }

private:
    State::Out& out() { return state_->outs[index_]; }
    bool gone() { return out().removed || out().refusing; }

    std::shared_ptr<State> state_;
    std::size_t index_;
};

}  // namespace

SimulatedTransport::SimulatedTransport(std::string key)
    : key_(std::move(key)), state_(std::make_shared<State>()) {}
SimulatedTransport::~SimulatedTransport() = default;

std::size_t SimulatedTransport::addInput(Port port) {
    std::lock_guard lock(state_->mutex);
    state_->ins.push_back({});
    state_->ins.back().port = std::move(port);
    return state_->ins.size() - 1;
}

std::size_t SimulatedTransport::addOutput(Port port) {
    std::lock_guard lock(state_->mutex);
    state_->outs.push_back({});
    state_->outs.back().port = std::move(port);
    return state_->outs.size() - 1;
}

void SimulatedTransport::removeInput(std::size_t index) {
    {
        std::lock_guard lock(state_->mutex);
        if (index >= state_->ins.size() || state_->ins[index].removed) return;
        state_->ins[index].removed = true;
    }
    callSink(*state_, index, [](InputSink& sink) { sink.onPortGone(); });
}

void SimulatedTransport::removeOutput(std::size_t index) {
    {
        std::lock_guard lock(state_->mutex);
        if (index < state_->outs.size()) state_->outs[index].removed = true;
    }
    state_->changed.notify_all();
}

bool SimulatedTransport::inject(std::size_t index, const std::vector<std::uint8_t>& bytes) {
    return callSink(*state_, index, [&](InputSink& sink) { sink.onBytes(bytes.data(), bytes.size()); });
}

bool SimulatedTransport::injectDataLost(std::size_t index) {
    return callSink(*state_, index, [](InputSink& sink) { sink.onDataLost(); });
}

bool SimulatedTransport::inputOpen(std::size_t index) const {
    std::lock_guard lock(state_->mutex);
    return index < state_->ins.size() && state_->ins[index].sink;
}

std::vector<SimulatedTransport::Arrival> SimulatedTransport::captured(std::size_t index) const {
    std::lock_guard lock(state_->mutex);
    return index < state_->outs.size() ? state_->outs[index].arrivals : std::vector<Arrival>{};
}

std::vector<std::uint8_t> SimulatedTransport::capturedBytes(std::size_t index) const {
    std::vector<std::uint8_t> all;
    for (const Arrival& a : captured(index)) all.insert(all.end(), a.bytes.begin(), a.bytes.end());
    return all;
}

bool SimulatedTransport::outputOpen(std::size_t index) const {
    std::lock_guard lock(state_->mutex);
    return index < state_->outs.size() && state_->outs[index].open;
}

std::size_t SimulatedTransport::writeCalls(std::size_t index) const {
    std::lock_guard lock(state_->mutex);
    return index < state_->outs.size() ? state_->outs[index].writeCalls : 0;
}

std::size_t SimulatedTransport::discards(std::size_t index) const {
    std::lock_guard lock(state_->mutex);
    return index < state_->outs.size() ? state_->outs[index].discards : 0;
}

void SimulatedTransport::setOutputStalled(std::size_t index, bool stalled) {
    setOutput(*state_, index, &State::Out::stalled, stalled);
}

void SimulatedTransport::setOutputRefusing(std::size_t index, bool refusing) {
    setOutput(*state_, index, &State::Out::refusing, refusing);
}

std::string SimulatedTransport::key() const { return key_; }

std::vector<PortInfo> SimulatedTransport::listPorts(Direction direction) {
    std::lock_guard lock(state_->mutex);
    return direction == Direction::Input ? listOf(state_->ins, direction)
                                         : listOf(state_->outs, direction);
}

MMRESULT SimulatedTransport::openInput(const PortInfo& port, InputSink& sink,
                                       std::unique_ptr<InputPort>& opened, std::string& reason) {
    std::lock_guard lock(state_->mutex);
    std::size_t index = 0;
    if (!indexOf(state_->ins, Direction::Input, port.id, index)) return MIDIERR_PORTGONE;
    State::In& in = state_->ins[index];
    if (in.port.openThrows) throw std::runtime_error("the simulated port failed to open");
    if (in.port.openResult != MMSYSERR_NOERROR) {
        reason = in.port.openReason;
        return in.port.openResult;
    }
    if (in.sink) return MMSYSERR_ALLOCATED;
    in.sink = &sink;
    opened = std::make_unique<SimulatedInput>(state_, index);
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedTransport::openOutput(const PortInfo& port, std::unique_ptr<OutputPort>& opened,
                                        std::string& reason) {
    std::lock_guard lock(state_->mutex);
    std::size_t index = 0;
    if (!indexOf(state_->outs, Direction::Output, port.id, index)) return MIDIERR_PORTGONE;
    State::Out& out = state_->outs[index];
    if (out.port.openThrows) throw std::runtime_error("the simulated port failed to open");
    if (out.port.openResult != MMSYSERR_NOERROR) {
        reason = out.port.openReason;
        return out.port.openResult;
    }
    if (out.open) return MMSYSERR_ALLOCATED;
    out.open = true;
    opened = std::make_unique<SimulatedOutput>(state_, index);
    return MMSYSERR_NOERROR;
}

}  // namespace midi
