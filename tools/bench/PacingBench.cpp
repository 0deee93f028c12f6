// Sends one 65,536-byte long message through the engine to each PORT and
// times it until its receiver has written the last byte to FILE: the
// sequencer simulator on JACK, or `cat` on a virmidi port's rawmidi device in
// the ALSA test guest. A paced port should get the MIDI wire's 3,125 bytes/s,
// a software port far more. tools/bench/run.sh starts the receivers.
// Usage: zux_pacing_bench PORT FILE [PORT FILE]...
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiApi.h"
#include "midi/Transport.h"
#include "midi/Wire.h"

namespace {

using Clock = std::chrono::steady_clock;

bool findOutput(const std::string& name, UINT& id) {
    for (UINT i = 0, n = midiOutGetNumDevs(); i < n; ++i) {
        MIDIOUTCAPSA caps{};
        if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && name == caps.szPname) {
            id = i;
            return true;
        }
    }
    return false;
}

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path, ignored);
    return ignored ? 0 : size;
}

bool run(const std::string& port, const std::string& file) {
    std::vector<std::uint8_t> data(65536);
    data.front() = 0xF0;
    data[1] = 0x7D, data[2] = 0x10, data[3] = 0x7E;
    for (std::size_t i = 4; i + 1 < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i & 0x7F);
    data.back() = 0xF7;

    UINT id = 0;
    HMIDIOUT out = nullptr;
    if (!findOutput(port, id) || midiOutOpen(&out, id, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "%s: not listed or cannot open\n", port.c_str());
        return false;
    }
    const std::uintmax_t before = sizeOf(file);
    MIDIHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(data.data());
    hdr.dwBufferLength = static_cast<DWORD>(data.size());
    midiOutPrepareHeader(out, &hdr, sizeof hdr);
    const auto start = Clock::now();
    midiOutLongMsg(out, &hdr, sizeof hdr);
    const auto until = start + std::chrono::seconds(60);
    while (sizeOf(file) < before + data.size() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto arrived = Clock::now();
    while (!(MidiHdrFlags(hdr) & MHDR_DONE) && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    midiOutReset(out);
    midiOutUnprepareHeader(out, &hdr, sizeof hdr);
    midiOutClose(out);

    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> got{std::istreambuf_iterator<char>(in), {}};
    if (got.size() != before + data.size() || !std::equal(data.begin(), data.end(), got.begin() + before)) {
        std::fprintf(stderr, "%s: the bytes that arrived differ from those sent\n", port.c_str());
        return false;
    }
    const double seconds = std::chrono::duration<double>(arrived - start).count();
    const double rate = static_cast<double>(data.size()) / seconds;
    std::printf("%-16s %6zu bytes in %8.3f s = %12.0f bytes/s, %8.4f x wire\n", port.c_str(), data.size(),
                seconds, rate, rate / midi::kWireBytesPerSecond);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: %s PORT FILE [PORT FILE]...\n", argv[0]);
        return 2;
    }
    midi::installSystemTransports();
    bool ok = true;
    for (int i = 1; i + 1 < argc; i += 2) ok = run(argv[i], argv[i + 1]) && ok;
    midi::setTransports({});
    return ok ? 0 : 1;
}
