#include "midi/transports/SimulatedTransport.h"

#include <condition_variable>

namespace midi {

struct SimulatedTransport::State {
    struct In {
        Port port;
        InputSink* sink = nullptr;
    };
    struct Out {
        Port port;
        bool open = false;
        bool stalled = false;
        bool vanished = false;
        std::uint64_t cancels = 0;
        std::size_t writeCalls = 0;
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

// Calls `call` with the sink of input `index`; false when that input is not open.
template <class Call>
bool CallSink(State& state, std::size_t index, Call&& call) {
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
void SetOutputFlag(State& state, std::size_t index, bool State::Out::*flag, bool value) {
    {
        std::lock_guard lock(state.mutex);
        if (index < state.outs.size()) state.outs[index].*flag = value;
    }
    state.changed.notify_all();
}

// `ends` is the inputs or the outputs; the caller holds the mutex.
template <class Ends>
MMRESULT InfoOf(const Ends& ends, std::size_t index, PortInfo& info) {
    if (index >= ends.size()) return MMSYSERR_BADDEVICEID;
    const SimulatedTransport::Port& p = ends[index].port;
    if (p.infoResult != MMSYSERR_NOERROR) return p.infoResult;
    info = {p.name, p.hardware};
    return MMSYSERR_NOERROR;
}

class SimulatedInput : public InputPort {
public:
    SimulatedInput(std::shared_ptr<SimulatedTransport::State> state, std::size_t index)
        : state_(std::move(state)), index_(index) {}
    ~SimulatedInput() override {
        std::lock_guard sinkLock(state_->sinkMutex);
        std::lock_guard lock(state_->mutex);
        state_->ins[index_].sink = nullptr;
    }

private:
    std::shared_ptr<SimulatedTransport::State> state_;
    std::size_t index_;
};

class SimulatedOutput : public OutputPort {
public:
    SimulatedOutput(std::shared_ptr<SimulatedTransport::State> state, std::size_t index)
        : state_(std::move(state)), index_(index) {}
    ~SimulatedOutput() override {
        std::lock_guard lock(state_->mutex);
        state_->outs[index_].open = false;
    }

    bool write(const std::uint8_t* data, std::size_t size) override {
        std::unique_lock lock(state_->mutex);
        auto out = [&]() -> SimulatedTransport::State::Out& { return state_->outs[index_]; };
        const std::uint64_t cancels = out().cancels;
        ++out().writeCalls;
        state_->changed.wait(lock, [&] {
            return !out().stalled || out().vanished || out().cancels != cancels;
        });
        if (out().vanished || out().stalled) return false;
        out().arrivals.push_back(
            {std::chrono::steady_clock::now(), std::vector<std::uint8_t>(data, data + size)});
        return true;
    }

    void cancel() override {
        {
            std::lock_guard lock(state_->mutex);
            ++state_->outs[index_].cancels;
        }
        state_->changed.notify_all();
    }

private:
    std::shared_ptr<SimulatedTransport::State> state_;
    std::size_t index_;
};

}  // namespace

SimulatedTransport::SimulatedTransport() : state_(std::make_shared<State>()) {}
SimulatedTransport::~SimulatedTransport() = default;

void SimulatedTransport::addInput(Port port) {
    std::lock_guard lock(state_->mutex);
    state_->ins.push_back({std::move(port), nullptr});
}

void SimulatedTransport::addOutput(Port port) {
    std::lock_guard lock(state_->mutex);
    state_->outs.push_back({});
    state_->outs.back().port = std::move(port);
}

bool SimulatedTransport::inject(std::size_t index, const std::vector<std::uint8_t>& bytes) {
    return CallSink(*state_, index, [&](InputSink& sink) { sink.onBytes(bytes.data(), bytes.size()); });
}

bool SimulatedTransport::injectDataLost(std::size_t index) {
    return CallSink(*state_, index, [](InputSink& sink) { sink.onDataLost(); });
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

void SimulatedTransport::setOutputStalled(std::size_t index, bool stalled) {
    SetOutputFlag(*state_, index, &State::Out::stalled, stalled);
}

void SimulatedTransport::setOutputVanished(std::size_t index, bool vanished) {
    SetOutputFlag(*state_, index, &State::Out::vanished, vanished);
}

std::size_t SimulatedTransport::inputCount() {
    std::lock_guard lock(state_->mutex);
    return state_->ins.size();
}

std::size_t SimulatedTransport::outputCount() {
    std::lock_guard lock(state_->mutex);
    return state_->outs.size();
}

MMRESULT SimulatedTransport::inputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(state_->mutex);
    return InfoOf(state_->ins, index, info);
}

MMRESULT SimulatedTransport::outputInfo(std::size_t index, PortInfo& info) {
    std::lock_guard lock(state_->mutex);
    return InfoOf(state_->outs, index, info);
}

MMRESULT SimulatedTransport::openInput(std::size_t index, InputSink& sink,
                                       std::unique_ptr<InputPort>& port) {
    std::lock_guard lock(state_->mutex);
    if (index >= state_->ins.size()) return MMSYSERR_BADDEVICEID;
    State::In& in = state_->ins[index];
    if (in.port.openResult != MMSYSERR_NOERROR) return in.port.openResult;
    if (in.sink) return MMSYSERR_ALLOCATED;
    in.sink = &sink;
    port = std::make_unique<SimulatedInput>(state_, index);
    return MMSYSERR_NOERROR;
}

MMRESULT SimulatedTransport::openOutput(std::size_t index, std::unique_ptr<OutputPort>& port) {
    std::lock_guard lock(state_->mutex);
    if (index >= state_->outs.size()) return MMSYSERR_BADDEVICEID;
    State::Out& out = state_->outs[index];
    if (out.port.openResult != MMSYSERR_NOERROR) return out.port.openResult;
    if (out.open) return MMSYSERR_ALLOCATED;
    out.open = true;
    port = std::make_unique<SimulatedOutput>(state_, index);
    return MMSYSERR_NOERROR;
}

}  // namespace midi
