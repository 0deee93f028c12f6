#include "midi/DeviceSpace.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "midi/PortNames.h"

namespace midi {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<Transport*> transports;
    std::vector<ListedPort> listed[2];
    bool enumerated[2] = {false, false};
    std::set<std::tuple<int, Transport*, std::string>> claimed;
};

// Never destroyed: a port may still be closed while the program exits.
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

int slot(Direction direction) { return direction == Direction::Input ? 0 : 1; }

thread_local std::string systemReason;

// A port another system already lists (PipeWire's bridge shows ALSA ports
// again as JACK ports): the direct path is the one to offer.
bool shownElsewhere(const PortInfo& port, const std::vector<ListedPort>& listed) {
    if (port.sameAs.empty()) return false;
    return std::any_of(listed.begin(), listed.end(), [&](const ListedPort& other) {
        return !other.info.address.empty() &&
               port.sameAs == other.transport->key() + ":" + other.info.address;
    });
}

}  // namespace

void setTransports(std::vector<Transport*> list) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.transports = std::move(list);
    r.transports.erase(std::remove(r.transports.begin(), r.transports.end(), nullptr),
                       r.transports.end());
    for (int d : {0, 1}) {
        r.listed[d].clear();
        r.enumerated[d] = false;
    }
}

std::size_t enumerate(Direction direction) {
    std::vector<Transport*> transports;
    {
        std::lock_guard lock(registry().mutex);
        transports = registry().transports;
    }
    // Listing asks the systems, which may take a moment: no lock meanwhile.
    std::vector<ListedPort> found;
    for (Transport* t : transports)
        for (PortInfo& info : t->listPorts(direction))
            if (!shownElsewhere(info, found)) found.push_back({t, std::move(info), {}});

    std::vector<std::string> names;
    for (const ListedPort& p : found) names.push_back(p.info.name);
    const std::vector<std::string> shown = shownNames(names);
    for (std::size_t i = 0; i < found.size(); ++i) found[i].shownName = shown[i];

    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.listed[slot(direction)] = std::move(found);
    r.enumerated[slot(direction)] = true;
    return r.listed[slot(direction)].size();
}

MMRESULT listedPort(Direction direction, std::uintptr_t id, ListedPort& port) {
    bool enumerated = false;
    {
        std::lock_guard lock(registry().mutex);
        enumerated = registry().enumerated[slot(direction)];
    }
    if (!enumerated) enumerate(direction);
    std::lock_guard lock(registry().mutex);
    const auto& listed = registry().listed[slot(direction)];
    if (id >= listed.size()) return MMSYSERR_BADDEVICEID;
    port = listed[id];
    return MMSYSERR_NOERROR;
}

PortClaim::PortClaim(Direction direction, const ListedPort& port)
    : direction_(direction), transport_(port.transport), id_(port.info.id) {
    std::lock_guard lock(registry().mutex);
    if (!registry().claimed.emplace(slot(direction), transport_, id_).second) transport_ = nullptr;
}

PortClaim::~PortClaim() { release(); }

PortClaim::PortClaim(PortClaim&& other) noexcept { *this = std::move(other); }

PortClaim& PortClaim::operator=(PortClaim&& other) noexcept {
    if (this != &other) {
        release();
        direction_ = other.direction_;
        transport_ = std::exchange(other.transport_, nullptr);
        id_ = std::move(other.id_);
    }
    return *this;
}

void PortClaim::release() {
    if (!transport_) return;
    std::lock_guard lock(registry().mutex);
    registry().claimed.erase({slot(direction_), transport_, id_});
    transport_ = nullptr;
}

void setSystemReason(std::string reason) { systemReason = std::move(reason); }

}  // namespace midi

MMRESULT midiGetSystemReasonA(LPSTR pszText, UINT cchText) {
    if (!pszText || cchText == 0) return MMSYSERR_INVALPARAM;
    const std::string& reason = midi::systemReason;
    const std::size_t n = std::min<std::size_t>(reason.size(), cchText - 1);
    std::memcpy(pszText, reason.data(), n);
    pszText[n] = '\0';
    return MMSYSERR_NOERROR;
}
