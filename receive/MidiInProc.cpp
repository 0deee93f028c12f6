// The input callback. It runs on the MIDI engine's thread: no lock, no memory,
// no widget; each byte is stored before DataLen publishes it.
#include <algorithm>

#include "midi/TransferState.h"
#include "receive/Reception.h"
#include "receive/ReceptionSteps.h"

std::atomic<bool> DumpCut{false};
std::atomic<bool> InputDamaged{false};
std::atomic<bool> PortLost{false};

bool MarkerSeen() {
    return DataLen.load(std::memory_order_acquire) >= 4 && DataBuf[3] == 0x7E;
}

bool DumpFull() { return DataLen.load(std::memory_order_acquire) >= DataBlockSize; }

void MidiInProc(HMIDIIN hmi, UINT wMsg, DWORD_PTR, DWORD_PTR dwParam1, DWORD_PTR) {
    // A damaged buffer is not queued again: what it held is not the dump.
    if (wMsg == MIM_LONGERROR) InputDamaged.store(true, std::memory_order_release);
    if (wMsg == MIM_PORTGONE) PortLost.store(true, std::memory_order_release);
    if (wMsg != MIM_LONGDATA) return;
    auto* header = reinterpret_cast<MIDIHDR*>(dwParam1);
    const auto* bytes = reinterpret_cast<const unsigned char*>(header->lpData);
    const std::uint32_t recorded = header->dwBytesRecorded;

    // Only this thread writes DataLen while input runs.
    std::uint32_t len = DataLen.load(std::memory_order_relaxed);
    const std::uint32_t fits = std::min(recorded, DataBlockSize - len);
    for (std::uint32_t i = 0; i < fits; ++i) {
        DataBuf[len] = bytes[i];
        ++len;
        DataLen.store(len, std::memory_order_release);
    }
    if (fits < recorded) DumpCut.store(true, std::memory_order_relaxed);

    const std::int32_t count = LongDataCount.load(std::memory_order_relaxed);
    // A reception that is ending (stopped, damaged, its port gone) takes its
    // header back for good, so the teardown can close the port.
    const bool ending = StopRequest.load() != 0 || InputDamaged.load() || PortLost.load();
    if (count < 2 && !MarkerSeen() && !ending && len < DataBlockSize) {
        midiInPrepareHeader(hmi, header, sizeof(MIDIHDR));
        midiInAddBuffer(hmi, header, sizeof(MIDIHDR));
    }
    LongDataCount.store(count + 1, std::memory_order_release);
}
