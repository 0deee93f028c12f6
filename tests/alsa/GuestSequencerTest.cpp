// The kernel sequencer of the test guest (tools/alsa-vm/) as the ALSA tests
// rely on finding it. This binary only ever runs inside that guest, so a
// missing sequencer is a failure, never a reason to skip.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct SeqPort {
    int client;
    std::string clientName;
    bool kernel;
    std::string name;
    unsigned caps;
};

std::vector<SeqPort> allPorts(snd_seq_t* seq) {
    std::vector<SeqPort> ports;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq, port) >= 0)
            ports.push_back({id, snd_seq_client_info_get_name(client),
                             snd_seq_client_info_get_type(client) == SND_SEQ_KERNEL_CLIENT,
                             snd_seq_port_info_get_name(port), snd_seq_port_info_get_capability(port)});
    }
    return ports;
}

TEST(GuestSequencer, HasMidiThroughAndFourVirtualRawMidiPorts) {
    ASSERT_EQ(access("/dev/snd/seq", R_OK | W_OK), 0)
        << "no /dev/snd/seq: run this binary inside the guest, e.g. "
           "tools/alsa-vm/run-in-vm.sh ctest --test-dir build -L alsa";
    snd_seq_t* raw = nullptr;
    const int err = snd_seq_open(&raw, "default", SND_SEQ_OPEN_DUPLEX, 0);
    ASSERT_EQ(err, 0) << snd_strerror(err);
    const std::unique_ptr<snd_seq_t, int (*)(snd_seq_t*)> seq(raw, snd_seq_close);
    const auto ports = allPorts(seq.get());

    // Every one can be read from and written to by subscription, so the
    // program lists each as an input and as an output.
    const unsigned duplex = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ |
                            SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
    const struct {
        int client;
        const char* clientName;
        const char* portName;
    } expected[] = {
        {14, "Midi Through", "Midi Through Port-0"},
        {16, "Virtual Raw MIDI 0-0", "VirMIDI 0-0"},
        {17, "Virtual Raw MIDI 0-1", "VirMIDI 0-1"},
        {18, "Virtual Raw MIDI 0-2", "VirMIDI 0-2"},
        {19, "Virtual Raw MIDI 0-3", "VirMIDI 0-3"},
    };
    for (const auto& want : expected) {
        SCOPED_TRACE(want.portName);
        const SeqPort* found = nullptr;
        for (const auto& p : ports)
            if (p.name == want.portName) found = &p;
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->client, want.client);
        EXPECT_EQ(found->clientName, want.clientName);
        EXPECT_TRUE(found->kernel);
        EXPECT_EQ(found->caps & duplex, duplex);
    }
}

}  // namespace
