// The whole program on the test guest's real kernel sequencer: the window
// offscreen, made as start-up makes it, driven through its lists, buttons and
// real file dialogs. The instruments are virmidi ports, whose rawmidi side
// stands for the cable, and the simulator as a user-space sequencer client.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <csignal>
#include <optional>
#include <thread>

#include "alsa/RawMidi.h"
#include "app/Unit1.h"
#include "midi/TransferState.h"
#include "midi/Transport.h"
#include "midi/Wire.h"
#include "support/AppFixture.h"
#include "support/Bytes.h"
#include "support/Dialogs.h"
#include "support/Processes.h"
#include "support/TestFiles.h"
#include "support/Wait.h"
#include "vcl/BitBtn.h"
#include "support/MidiResults.h"

using namespace zuxtest;
using namespace std::chrono_literals;

namespace {

constexpr int kLongWaitMs = 120000;  // the guest's CPU is emulated, and shared
const char* const kKernelPorts[] = {"Midi Through Port-0", "VirMIDI 0-0", "VirMIDI 0-1", "VirMIDI 0-2",
                                    "VirMIDI 0-3"};

// A third sequencer client, as a patchbay: removes connections.
class Patchbay {
public:
    Patchbay() { snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0); }
    ~Patchbay() {
        if (seq_) snd_seq_close(seq_);
    }
    // The client called `name`, or -1.
    int client(const std::string& name) {
        snd_seq_client_info_t* info = nullptr;
        snd_seq_client_info_alloca(&info);
        snd_seq_client_info_set_client(info, -1);
        while (snd_seq_query_next_client(seq_, info) >= 0)
            if (name == snd_seq_client_info_get_name(info)) return snd_seq_client_info_get_client(info);
        return -1;
    }
    // The port of `client` called `name`.
    snd_seq_addr_t port(const std::string& clientName, const std::string& name) {
        const int id = client(clientName);
        snd_seq_port_info_t* info = nullptr;
        snd_seq_port_info_alloca(&info);
        snd_seq_port_info_set_client(info, id);
        snd_seq_port_info_set_port(info, -1);
        while (id >= 0 && snd_seq_query_next_port(seq_, info) >= 0)
            if (name == snd_seq_port_info_get_name(info)) return at(id, snd_seq_port_info_get_port(info));
        ADD_FAILURE() << "no port " << clientName << ":" << name;
        return at(255, 255);
    }
    // Removes the connection from port `from` to port `to`, as aconnect -d does.
    bool disconnect(snd_seq_addr_t from, snd_seq_addr_t to) {
        snd_seq_port_subscribe_t* sub = nullptr;
        snd_seq_port_subscribe_alloca(&sub);
        snd_seq_port_subscribe_set_sender(sub, &from);
        snd_seq_port_subscribe_set_dest(sub, &to);
        return snd_seq_unsubscribe_port(seq_, sub) == 0;
    }
    static snd_seq_addr_t at(int client, int port) {
        return {static_cast<unsigned char>(client), static_cast<unsigned char>(port)};
    }

private:
    snd_seq_t* seq_ = nullptr;
};

QStringList entries(QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
    return texts;
}

class AlsaProgram : public AppFixture {
protected:
    // Each test opens the window once its instruments are there.
    void SetUp() override {
        ASSERT_EQ(access("/dev/snd/seq", R_OK | W_OK), 0)
            << "no sequencer: these tests run in the guest (tools/alsa-vm/run-in-vm.sh ctest -L alsa)";
        ASSERT_TRUE(dir_.isValid());
    }
    void TearDown() override {
        closeWindow();
        midi::closeSystemTransports();
    }
    void beforeWindow() override { midi::installSystemTransports(); }

    // The simulator as sequencer client `name`, once it is ready.
    Child simulator(const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), "--alsa");
        return startSim(name, options, path(name + ".log"));
    }

    static void choose(QComboBox* list, const QString& name) {
        const int index = list->findText(name);
        ASSERT_NE(index, -1) << name.toStdString() << " is not listed; the list: "
                             << entries(list).join(", ").toStdString();
        AppFixture::choose(list, index);
    }
    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    bool waitForLines(int count) {
        return QTest::qWaitFor([&] { return log().size() >= count; }, kLongWaitMs);
    }
    std::string path(const std::string& name) const { return dir_.filePath(QString::fromStdString(name)).toStdString(); }

    QTemporaryDir dir_;
};

TEST_F(AlsaProgram, ListsHoldEveryPortOnceAndNeverOurOwn) {
    Child sim = simulator("zuxsim", {});
    openWindow();
    const QStringList kernel(std::begin(kKernelPorts), std::end(kKernelPorts));
    // Client 0, "System", has no port to offer; ports come by client number.
    const QStringList ins = kernel + QStringList{"zuxsim:out"};
    const QStringList outs = kernel + QStringList{"zuxsim:in", "MIDI Mapper"};
    EXPECT_EQ(entries(form->ComboBox2), ins);
    EXPECT_EQ(entries(form->ComboBox1), outs);

    // While our own ports are open, a count still leaves them out.
    choose(form->ComboBox2, "VirMIDI 0-0");
    click(form->Button2);
    ASSERT_EQ(log(), QStringList{"RECEIVE:waiting"});
    const UINT inputs = midiInGetNumDevs();
    EXPECT_EQ(inputs, 6u);
    for (UINT id = 0; id < inputs; ++id) {
        MIDIINCAPSA caps{};
        ASSERT_MM(midiInGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_EQ(QString(caps.szPname).indexOf("ZUX Filer"), -1) << caps.szPname;
    }
    click(form->BitBtn1);
    EXPECT_TRUE(waitForLines(2));
}

struct KernelReception {
    const char* name;
    Bytes dump;
    bool stop = false;  // STOP once the dump is under way
    QStringList lines;  // after "RECEIVE:waiting"; "%f" is the file
};

void PrintTo(const KernelReception& c, std::ostream* os) { *os << c.name; }

class ReceiveFromAKernelPort : public AlsaProgram, public ::testing::WithParamInterface<KernelReception> {};

// The cable of VirMIDI 0-1 carries the dump at the wire's pace.
TEST_P(ReceiveFromAKernelPort, AsTheWindowPromises) {
    const KernelReception& c = GetParam();
    RawMidi cable(1);
    ASSERT_EQ(cable.error(), 0) << snd_strerror(cable.error());
    openWindow();
    choose(form->ComboBox2, "VirMIDI 0-1");
    const QString file = QString::fromStdString(path("backup.ZUX"));
    typeIntoFileDialog(file, kLongWaitMs);

    click(form->Button2);
    ASSERT_EQ(log(), QStringList{"RECEIVE:waiting"});
    std::thread sequencer([&] { EXPECT_TRUE(cable.write(c.dump, midi::kWireBytesPerSecond)); });
    if (c.stop) {
        QTest::qWait(1500);  // a fifth of the dump
        click(form->BitBtn1);
    }
    EXPECT_TRUE(waitForLines(1 + c.lines.size()));
    sequencer.join();

    QStringList expected{"RECEIVE:waiting"};
    for (const QString& line : c.lines) expected << QString(line).replace("%f", file);
    EXPECT_EQ(log(), expected);
    if (c.stop)
        EXPECT_FALSE(QFile::exists(file));
    else
        EXPECT_EQ(readFile(file.toStdString()), c.dump);
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    , ReceiveFromAKernelPort,
    ::testing::Values(
        KernelReception{.name = "TwoMessagesOf64KiB",
                        .dump = join(sysex(30000, 1, 0x01), sysex(35536, 2, 0x02)),
                        .lines = {"RECEIVE:completed(65536byte)", "RECEIVE:saved(%f)"}},
        KernelReception{.name = "MarkerDump",
                        .dump = sysex(1000, 3, 0x7E),
                        .lines = {"RECEIVE:completed(1000byte)", "RECEIVE:saved(%f)"}},
        KernelReception{.name = "StoppedMidway", .dump = sysex(20000, 4, 0x01), .stop = true,
                        .lines = {"RECEIVE:canceled"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A user-space sender: the simulator. Paced, every byte arrives. Unpaced, the
// kernel may drop what our queue cannot hold; then the dump is never saved
// as if whole.
TEST_F(AlsaProgram, ReceiveFromAUserClientSavesWholeOrSaysDataWasLost) {
    const Bytes dump = sysex(65536, 5);
    ASSERT_TRUE(writeFile(path("dump.syx"), dump));
    for (const char* pace : {"31250", "0"}) {
        SCOPED_TRACE(std::string("pace ") + pace);
        const bool paced = std::string(pace) != "0";
        Child sim = simulator(paced ? "paced" : "unpaced", {"--send", path("dump.syx"), "--pace", pace});
        openWindow();
        choose(form->ComboBox2, QString(paced ? "paced" : "unpaced") + ":out");
        const QString file = QString::fromStdString(path(std::string(paced ? "paced" : "unpaced") + ".ZUX"));
        typeIntoFileDialog(file, kLongWaitMs);
        click(form->Button2);
        sim.say("send");  // the user starts the dump on the sequencer
        EXPECT_TRUE(waitForLines(2));
        QTest::qWait(300);  // a save has its second line by now

        const QStringList lines = log();
        if (lines.value(1) == "RECEIVE:data was lost, try again") {
            EXPECT_FALSE(paced) << "the paced dump lost data";
            EXPECT_EQ(lines.size(), 2);
            EXPECT_FALSE(QFile::exists(file));
        } else {
            EXPECT_EQ(lines, (QStringList{"RECEIVE:waiting", "RECEIVE:completed(65536byte)", "RECEIVE:saved(" + file + ")"}));
            EXPECT_EQ(readFile(file.toStdString()), dump);
        }
        closeWindow();
    }
}

// Hardware pacing: the 64 KiB take about 21 s on the wire, as on a real cable.
TEST_F(AlsaProgram, TransmitToAKernelPortArrivesByteForByteAtTheWiresPace) {
    RawMidi cable(2);
    ASSERT_EQ(cable.error(), 0) << snd_strerror(cable.error());
    openWindow();
    choose(form->ComboBox1, "VirMIDI 0-2");
    const Bytes dump = sysex(65536, 6);
    ASSERT_TRUE(writeFile(path("restore.ZUX"), dump));

    typeIntoFileDialog(QString::fromStdString(path("restore.ZUX")));
    const auto start = std::chrono::steady_clock::now();
    click(form->Button1);  // returns once the transmission has ended
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:completed(65536byte)"}));
    EXPECT_TRUE(waitFor([&] { return cable.received().size() >= dump.size(); }, 10s));
    EXPECT_EQ(cable.received(), dump);
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("64 KiB to VirMIDI 0-2 took %.2f s; the wire takes %.2f s\n", seconds,
                std::chrono::duration<double>(midi::wireTime(dump.size())).count());
}

// A user-space receiver has no flow control: when it falls behind, the
// kernel refuses our events and empties its queue. Every byte arrives, or
// the log says the send failed; never "completed" with bytes missing.
TEST_F(AlsaProgram, TransmitToASlowUserClientNeverClaimsWhatDidNotArrive) {
    const Bytes dump = sysex(8192, 7);
    ASSERT_TRUE(writeFile(path("restore.ZUX"), dump));
    for (const char* delay : {"1", "100"}) {
        SCOPED_TRACE(std::string("reads every ") + delay + " ms");
        const std::string received = path(std::string("received-") + delay + ".syx");
        Child sim = simulator("reader", {"--receive-to", received, "--slow-reader", delay});
        openWindow();
        choose(form->ComboBox1, "reader:in");
        typeIntoFileDialog(QString::fromStdString(path("restore.ZUX")));
        click(form->Button1);

        const QStringList lines = log();
        ASSERT_EQ(lines.size(), 3) << lines.join(" / ").toStdString();
        if (lines.last() == "TRANSMIT:completed(8192byte)") {
            EXPECT_TRUE(waitFor([&] { return readFile(received).size() >= dump.size(); }, 30s));
            EXPECT_EQ(readFile(received), dump);
        } else {
            EXPECT_EQ(lines.last(), "TRANSMIT:failed to send the data");
        }
        // Ten events a second is far behind the wire: this one must fail.
        if (std::string(delay) == "100") {
            EXPECT_EQ(lines.last(), "TRANSMIT:failed to send the data");
        }
        sim.stop(SIGTERM);
        closeWindow();
    }
}

// A patchbay removes our connection while a dump goes out: what follows
// would go nowhere, so the transmission fails.
TEST_F(AlsaProgram, TransmitFailsWhenItsConnectionIsRemoved) {
    RawMidi cable(3);
    ASSERT_EQ(cable.error(), 0) << snd_strerror(cable.error());
    openWindow();
    choose(form->ComboBox1, "VirMIDI 0-3");
    const Bytes dump = sysex(16384, 8);
    ASSERT_TRUE(writeFile(path("restore.ZUX"), dump));

    Patchbay patchbay;
    QTimer cut;
    cut.setSingleShot(true);
    bool removed = false;
    QObject::connect(&cut, &QTimer::timeout, [&] {
        removed = patchbay.disconnect(patchbay.port("ZUX Filer", "out"), Patchbay::at(19, 0));
    });
    cut.start(1500);
    typeIntoFileDialog(QString::fromStdString(path("restore.ZUX")));
    click(form->Button1);

    EXPECT_TRUE(removed);
    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:failed to send the data"}));
    EXPECT_LT(cable.received().size(), dump.size());
}

// The sender goes away mid-dump, or a patchbay removes our connection: the
// reception ends on its own, saving nothing.
TEST_F(AlsaProgram, AReceptionWhosePortGoesAwayEndsAsPortLost) {
    const Bytes dump = sysex(16384, 9, 0x01);
    ASSERT_TRUE(writeFile(path("dump.syx"), dump));
    for (bool quits : {true, false}) {
        SCOPED_TRACE(quits ? "the sender quits" : "the connection is removed");
        Child sim = simulator("sender", {"--send", path("dump.syx"), "--pace", "wire"});
        openWindow();
        choose(form->ComboBox2, "sender:out");
        typeIntoFileDialog(QString::fromStdString(path("never.ZUX")), kLongWaitMs);
        click(form->Button2);
        sim.say("send");
        QTest::qWait(1500);
        if (quits) {
            sim.stop(SIGKILL);
        } else {
            Patchbay patchbay;
            EXPECT_TRUE(patchbay.disconnect(patchbay.port("sender", "out"), patchbay.port("ZUX Filer", "in")));
        }
        EXPECT_TRUE(waitForLines(2));
        EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:the port was lost"}));
        EXPECT_FALSE(QFile::exists(QString::fromStdString(path("never.ZUX"))));
        closeWindow();
    }
}

// The sequencer gives a client number that was freed to the next client. A
// device ID listed for the old one must not reach the new one.
TEST_F(AlsaProgram, AnIdNeverReachesAClientThatGotTheNumberOfOneThatLeft) {
    std::optional<Child> first(simulator("first", {}));
    openWindow();
    choose(form->ComboBox1, "first:in");
    first->stop(SIGTERM);
    first.reset();
    const std::string received = path("second.syx");
    Child second = simulator("second", {"--receive-to", received});
    ASSERT_TRUE(writeFile(path("restore.ZUX"), sysex(100, 10)));

    BoxSeen box;
    answerMessageBox(box);
    typeIntoFileDialog(QString::fromStdString(path("restore.ZUX")));
    click(form->Button1);

    EXPECT_EQ(box.text, "The MIDI port is no longer available.");
    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:canceled"}));
    QTest::qWait(500);
    EXPECT_TRUE(readFile(received).empty());
}

}  // namespace
