// From the last byte of a dump to "RECEIVE:completed": the window offscreen,
// RECEIVE clicked, a dump fed from another thread at a random moment of the
// 100 ms poll, N times. The design's floor is the teardown's 100 ms pause
// plus up to one 100 ms tick.
//   zux_reception_latency_bench RUNS          a simulated port, 65,536 bytes
//   zux_reception_latency_bench RUNS alsa     VirMIDI 0-1 of the ALSA test guest:
//                                             4,096 bytes down its rawmidi cable
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <alsa/asoundlib.h>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "midi/Transport.h"
#include "midi/transports/SimulatedTransport.h"
#include "receive/Reception.h"
#include "vcl/Application.h"
#include "vcl/FileDialogs.h"

namespace {

using Clock = std::chrono::steady_clock;

// Saving is not part of the figure: the dialog is answered with cancel.
class CancelledSave : public vcl::TSaveDialog {
public:
    using vcl::TSaveDialog::TSaveDialog;
    bool Execute() override { return false; }
};

template <typename Cond>
bool spinEvents(Cond cond, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

std::vector<std::uint8_t> markerDump(std::size_t size) {
    std::vector<std::uint8_t> dump(size);
    dump[0] = 0xF0, dump[1] = 0x7D, dump[2] = 0x10, dump[3] = 0x7E;
    for (std::size_t i = 4; i + 1 < dump.size(); ++i) dump[i] = static_cast<std::uint8_t>(i & 0x7F);
    dump.back() = 0xF7;
    return dump;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    const bool alsa = argc > 2 && std::string(argv[2]) == "alsa";
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::TApplication application(argc, argv);

    midi::SimulatedTransport sim;
    sim.addInput({.name = "Sim In"});
    snd_rawmidi_t* cable = nullptr;
    if (alsa) {
        if (snd_rawmidi_open(nullptr, &cable, "hw:0,1", 0) < 0) {
            std::fprintf(stderr, "no rawmidi hw:0,1: run this in the ALSA test guest\n");
            return 1;
        }
        midi::installSystemTransports();
    } else {
        midi::setTransports({&sim});
    }
    CreateMainWindow(application);
    TForm1* form = Form1;
    form->show();
    delete form->SaveDialog1;
    form->SaveDialog1 = new CancelledSave(form);
    const int entry = alsa ? form->ComboBox2->findText(QStringLiteral("VirMIDI 0-1")) : 0;
    if (entry < 0) {
        std::fprintf(stderr, "VirMIDI 0-1 is not listed\n");
        return 1;
    }
    form->ComboBox2->setCurrentIndex(entry);
    emit form->ComboBox2->activated(entry);
    const std::vector<std::uint8_t> dump = markerDump(alsa ? 4096 : 65536);
    const auto inputOpen = [&] { return alsa ? form->Timer1->isActive() : sim.inputOpen(0); };

    Clock::time_point completedAt{};
    QObject::connect(form->Memo1, &QPlainTextEdit::textChanged, [&] {
        if (form->Memo1->toPlainText().endsWith(QLatin1String("byte)")) &&
            form->Memo1->toPlainText().contains(QLatin1String("RECEIVE:completed")))
            completedAt = Clock::now();
    });

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> phaseUs(0, 100000);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        form->Memo1->clear();
        completedAt = {};
        form->Button2->click();
        if (!inputOpen()) {
            std::fprintf(stderr, "the input port did not open\n");
            return 1;
        }
        Clock::time_point lastByteAt{};
        std::thread feeder([&, delay = phaseUs(random)] {
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            if (alsa) {
                snd_rawmidi_write(cable, dump.data(), dump.size());
                snd_rawmidi_drain(cable);  // out of the cable: in the sequencer
                lastByteAt = Clock::now();
            } else {
                lastByteAt = Clock::now();  // the whole dump arrives as one chunk
                sim.inject(0, dump);
            }
        });
        const bool ended = spinEvents([&] { return form->Button2->isEnabled() && !inputOpen(); }, 10000);
        feeder.join();
        if (!ended || completedAt == Clock::time_point{}) {
            std::fprintf(stderr, "run %d: the reception did not complete\n", i + 1);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(completedAt - lastByteAt).count());
    }

    EndReceptionOnExit();
    if (cable) snd_rawmidi_close(cable);
    std::sort(ms.begin(), ms.end());
    const std::size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    std::printf("last byte to RECEIVE:completed (%s) over %d runs: median %.1f ms (min %.1f, max %.1f); "
                "floor 100 ms pause + up to one 100 ms tick = 100..200 ms\n",
                alsa ? "ALSA, VirMIDI 0-1" : "simulated port", runs, median, ms.front(), ms.back());
    midi::setTransports({});
    return 0;
}
