// Sends one 65,536-byte long message to a paced and to a software simulated
// port and prints the rate each port got, against the MIDI wire's 3,125
// bytes/s. A paced port should show a ratio of 1 (the first 64 bytes go at
// once, the rest at the wire's pace); a software port far above it.
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "midi/MidiApi.h"
#include "midi/transports/SimulatedTransport.h"
#include "midi/Wire.h"

namespace {

bool run(midi::SimulatedTransport& sim, UINT id, const char* label) {
    std::vector<std::uint8_t> data(65536);
    data.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i & 0x7F);
    data.back() = 0xF7;

    HMIDIOUT out = nullptr;
    if (midiOutOpen(&out, id, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "%s: cannot open\n", label);
        return false;
    }
    MIDIHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<DWORD>(data.size());
    midiOutPrepareHeader(out, &hdr, sizeof hdr);
    const auto start = std::chrono::steady_clock::now();
    midiOutLongMsg(out, &hdr, sizeof hdr);
    while (!(MidiHdrFlags(hdr) & MHDR_DONE)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    midiOutUnprepareHeader(out, &hdr, sizeof hdr);
    midiOutClose(out);

    const auto arrivals = sim.captured(id);
    // The rate the port saw: from the call until the last byte has gone
    // out on a wire that took it the moment it arrived (one byte time after).
    const double seconds =
        std::chrono::duration<double>(arrivals.back().at - start).count() + 1.0 / midi::kWireBytesPerSecond;
    const double rate = static_cast<double>(data.size()) / seconds;
    std::printf("%-9s %6zu bytes in %8.3f s = %12.0f bytes/s, %8.4f x wire, %zu writes\n", label,
                data.size(), seconds, rate, rate / midi::kWireBytesPerSecond, arrivals.size());
    return sim.capturedBytes(id) == data;
}

}  // namespace

int main() {
    midi::SimulatedTransport sim;
    sim.addOutput({.name = "hardware", .paced = true});
    sim.addOutput({.name = "software"});
    midi::setTransports({&sim});
    const bool ok = run(sim, 1, "software") && run(sim, 0, "hardware");
    midi::setTransports({});
    if (!ok) std::fprintf(stderr, "bytes differ from those sent\n");
    return ok ? 0 : 1;
}
