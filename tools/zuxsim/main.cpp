// zuxsim: stands in for the sequencer on a JACK server or the ALSA
// sequencer. It offers an output port that sends a dump file and an input
// port whose bytes go to a file, so the program can be tried and tested
// without the instrument.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/zuxsim/Loop.h"
#include "tools/zuxsim/Options.h"
#include "tools/zuxsim/Ports.h"
#include "tools/zuxsim/Recorder.h"

int main(int argc, char** argv) {
    using namespace zuxsim;
    Options o;
    if (!parse(argc, argv, o)) return 1;
    if (o.probe) return (o.alsa ? alsaSequencerOpens() : jackAnswers(o)) ? 0 : 1;

    std::vector<std::uint8_t> dump;
    if (!o.sendFile.empty()) {
        std::ifstream f(o.sendFile, std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "zuxsim: cannot read %s\n", o.sendFile.c_str());
            return 1;
        }
        dump.assign(std::istreambuf_iterator<char>(f), {});
    }
    std::FILE* received = nullptr;
    if (!o.receiveTo.empty() && !(received = std::fopen(o.receiveTo.c_str(), "wb"))) {
        std::fprintf(stderr, "zuxsim: cannot write %s\n", o.receiveTo.c_str());
        return 1;
    }
    if (!startEvents()) return 1;

    int rc = 1;
    {
        Recorder recorder(received, o.slowReaderMs);
        if (auto ports = o.alsa ? openAlsaPorts(o, recorder) : openJackPorts(o, recorder))
            rc = run(*ports, dump, o);
    }
    if (received) std::fclose(received);
    return rc;
}
