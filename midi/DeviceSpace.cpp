#include "midi/DeviceSpace.h"

#include <algorithm>
#include <mutex>
#include <set>
#include <tuple>
#include <vector>

namespace midi {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<Transport*> transports;
    std::set<std::tuple<int, Transport*, std::size_t>> openPorts;
};

// Never destroyed: a port may still be closed while the program exits.
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

std::vector<Transport*> installed() {
    std::lock_guard lock(registry().mutex);
    return registry().transports;
}

std::size_t countOf(Transport* t, Direction direction) {
    return direction == Direction::Input ? t->inputCount() : t->outputCount();
}

}  // namespace

void setTransports(std::initializer_list<Transport*> list) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.transports.assign(list.begin(), list.end());
    r.transports.erase(std::remove(r.transports.begin(), r.transports.end(), nullptr),
                       r.transports.end());
}

std::size_t portCount(Direction direction) {
    std::size_t total = 0;
    for (Transport* t : installed()) total += countOf(t, direction);
    return total;
}

MMRESULT findPort(Direction direction, std::uintptr_t id, PortRef& port) {
    for (Transport* t : installed()) {
        const std::size_t count = countOf(t, direction);
        if (id < count) {
            port = {t, static_cast<std::size_t>(id)};
            return MMSYSERR_NOERROR;
        }
        id -= count;
    }
    return MMSYSERR_BADDEVICEID;
}

bool claimPort(Direction direction, const PortRef& port) {
    std::lock_guard lock(registry().mutex);
    return registry().openPorts.emplace(static_cast<int>(direction), port.transport, port.index).second;
}

void releasePort(Direction direction, const PortRef& port) {
    std::lock_guard lock(registry().mutex);
    registry().openPorts.erase({static_cast<int>(direction), port.transport, port.index});
}

}  // namespace midi
