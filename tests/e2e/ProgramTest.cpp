// The whole program on a private JACK server, with the sequencer simulator as
// the instrument: the window offscreen, made as start-up makes it, driven
// through its buttons, port lists and real file dialogs.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/Unit1.h"
#include <jack/jack.h>

#include <QDBusConnectionInterface>

#include "e2e/JackServer.h"
#include "support/SessionBus.h"
#include "support/Bytes.h"
#include "support/Wait.h"
#include "midi/TransferState.h"
#include "midi/Transport.h"
#include "receive/Reception.h"
#include "support/AppFixture.h"
#include "support/Dialogs.h"
#include "support/QtPrinters.h"
#include "support/TestFiles.h"
#include "vcl/BitBtn.h"

using namespace zuxtest;

namespace {

constexpr int kLongWaitMs = 60000;  // generous: the machine is shared


class ProgramE2E : public zuxtest::AppFixture {
protected:
    // The window waits for startProgram, once the simulator's ports exist.
    void SetUp() override {
        if (JackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed";
        server_.emplace();
        ASSERT_TRUE(server_->start()) << "the private JACK server did not answer; it said:\n" << server_->log();
    }

    void TearDown() override { stopProgram(); }

    void beforeWindow() override { midi::installSystemTransports(); }

    // Starts the simulator as "zuxsim" with `options`, then the program, whose
    // port lists are filled at start-up.
    void startProgram(const std::vector<std::string>& options) {
        sim_ = startSimulator("zuxsim", options);
        openWindow();
    }

    // A simulator as JACK client `name`, once its ports exist.
    Child startSimulator(const std::string& name, const std::vector<std::string>& options) {
        return startSim(name, options, dir() + "/" + name + "-" + std::to_string(++starts_) + ".log");
    }

    // Connects two ports as a patchbay would.
    static bool connect(const std::string& from, const std::string& to) {
        jack_status_t status{};
        jack_client_t* patchbay = jack_client_open("patchbay", JackNoStartServer, &status);
        if (!patchbay) return false;
        const int rc = jack_connect(patchbay, from.c_str(), to.c_str());
        jack_client_close(patchbay);
        return rc == 0;
    }

    // As the program ends, then the simulator.
    void stopProgram() {
        closeWindow();
        midi::closeSystemTransports();
        sim_.stop(SIGTERM);
    }

    // Picks the entry called `name`, as a user would.
    static void choose(QComboBox* list, const QString& name) {
        const int index = list->findText(name);
        ASSERT_NE(index, -1) << name.toStdString() << " is not listed";
        AppFixture::choose(list, index);
    }

    static void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    std::string dir() const { return server_->dir(); }

    std::optional<JackServer> server_;  // declared first, so jackd is stopped last
    Child sim_;

private:
    int starts_ = 0;
};

TEST_F(ProgramE2E, ReceivedDumpIsSavedByteForByte) {
    const auto twoMessages = [] {
        auto first = sysex(3000, 2);
        first[3] = 0x01;  // not the end marker: the dump goes on with a second message
        const auto second = sysex(20000, 3);
        first.insert(first.end(), second.begin(), second.end());
        return first;
    }();
    struct Case {
        const char* what;
        std::vector<unsigned char> dump;
        std::vector<std::string> options;
    } cases[] = {
        {"one 65,536-byte SysEx", sysex(65536), {}},
        {"two SysEx, the first without the marker, in 100-byte events", twoMessages, {"--chunk", "100"}},
    };
    int n = 0;
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dumpFile = dir() + "/dump.syx";
        const QString saveAs = QString::fromStdString(dir() + "/backup" + std::to_string(++n) + ".ZUX");
        ASSERT_TRUE(zuxtest::writeFile(dumpFile, c.dump));
        auto options = c.options;
        options.insert(options.end(), {"--send", dumpFile});
        startProgram(options);
        if (HasFatalFailure()) return;
        choose(form->ComboBox2, "zuxsim:out");
        if (HasFatalFailure()) return;

        click(form->Button2);
        ASSERT_EQ(log(), QStringList{"RECEIVE:waiting"});
        zuxtest::typeIntoFileDialog(saveAs, kLongWaitMs);
        sim_.say("send");  // the user starts the dump on the sequencer
        EXPECT_TRUE(QTest::qWaitFor([&] { return log().size() >= 3; }, kLongWaitMs));

        EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting",
                                      QStringLiteral("RECEIVE:completed(%1byte)").arg(c.dump.size()),
                                      "RECEIVE:saved(" + saveAs + ")"}));
        EXPECT_EQ(readFile(saveAs.toStdString()), c.dump);
        EXPECT_TRUE(form->Button2->isEnabled());
        EXPECT_FALSE(form->BitBtn1->isEnabled());
        stopProgram();
    }
}

TEST_F(ProgramE2E, TransmittedFileArrivesByteForByte) {
    const std::string received = dir() + "/received.syx";
    startProgram({"--receive-to", received});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox1, "zuxsim:in");
    ASSERT_FALSE(HasFatalFailure());
    const auto dump = sysex(65536, 7);
    const std::string file = dir() + "/restore.ZUX";
    ASSERT_TRUE(zuxtest::writeFile(file, dump));

    zuxtest::typeIntoFileDialog(QString::fromStdString(file));
    click(form->Button1);  // returns once the transmission has ended

    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:completed(65536byte)"}));
    EXPECT_TRUE(waitFor([&] { return readFile(received).size() >= dump.size(); }));
    EXPECT_EQ(readFile(received), dump);
}

// Clients that come and go after the lists were made: TRANSMIT still goes
// to the port the user chose, never to the one that took its place.
TEST_F(ProgramE2E, TransmitReachesTheChosenPortWhileClientsComeAndGo) {
    Child aaa = startSimulator("aaa", {});
    Child bbb = startSimulator("bbb", {"--receive-to", dir() + "/bbb.syx"});
    startProgram({"--receive-to", dir() + "/zuxsim.syx"});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox1, "bbb:in");
    ASSERT_FALSE(HasFatalFailure());
    aaa.stop(SIGTERM);
    Child ccc = startSimulator("ccc", {});
    ASSERT_TRUE(waitFor([] {
        jack_status_t status{};
        jack_client_t* c = jack_client_open("look", JackNoStartServer, &status);
        const bool gone = c && !jack_port_by_name(c, "aaa:in");
        if (c) jack_client_close(c);
        return gone;
    }));

    const auto dump = sysex(3000, 9);
    const std::string file = dir() + "/restore.ZUX";
    ASSERT_TRUE(zuxtest::writeFile(file, dump));
    zuxtest::typeIntoFileDialog(QString::fromStdString(file));
    click(form->Button1);

    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:completed(3000byte)"}));
    EXPECT_TRUE(waitFor([&] { return readFile(dir() + "/bbb.syx").size() >= dump.size(); }));
    EXPECT_EQ(readFile(dir() + "/bbb.syx"), dump);
    EXPECT_TRUE(readFile(dir() + "/zuxsim.syx").empty());
}

// The program's icon in a dock, as a dock on the session bus hears it. Each
// test needs the process's first use of the session bus (ctest runs each
// test in a process of its own).
class TaskIconE2E : public ProgramE2E {
protected:
    void SetUp() override {
        ProgramE2E::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_TRUE(bus_.start()) << bus_.error().toStdString();
        bus_.exportAddress();
        QDBusConnection probe = bus_.connect(QStringLiteral("probe"));
        if (!probe.interface()->isServiceRegistered(QDBusConnection::sessionBus().baseService()))
            GTEST_SKIP() << "this process used another session bus before; run the test on its own";
        dock_ = std::make_unique<LauncherEntryRecorder>(bus_.connect(QStringLiteral("dock")));
        ASSERT_TRUE(dock_->subscribed());
    }
    QVariantList values(const char* property) const {
        QVariantList out;
        for (const auto& u : dock_->updates()) out << u.properties.value(QString::fromLatin1(property));
        return out;
    }

    PrivateSessionBus bus_;
    std::unique_ptr<LauncherEntryRecorder> dock_;
};

// A paced transmission: the bar rises with the bytes, about ten times a
// second at most, and is gone at the end.
TEST_F(TaskIconE2E, ATransmissionShowsRisingProgressThatEndsHidden) {
    startProgram({"--physical", "--receive-to", dir() + "/received.syx"});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox1, "zuxsim:in");
    ASSERT_FALSE(HasFatalFailure());
    const std::string file = dir() + "/restore.ZUX";
    ASSERT_TRUE(writeFile(file, sysex(8192, 11)));  // 2.6 s on the wire
    typeIntoFileDialog(QString::fromStdString(file));
    const auto start = std::chrono::steady_clock::now();
    click(form->Button1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(log().last(), "TRANSMIT:completed(8192byte)");
    dock_->settle(dock_->updates().size() + 1);

    const QVariantList progress = values("progress"), visible = values("progress-visible");
    ASSERT_GE(progress.size(), 4);
    EXPECT_EQ(visible.first(), true);
    EXPECT_EQ(visible.last(), false);
    EXPECT_DOUBLE_EQ(progress.first().toDouble(), 0.0);
    EXPECT_GT(progress.at(progress.size() - 2).toDouble(), 0.5);
    for (qsizetype i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i].toDouble(), progress[i - 1].toDouble());
    EXPECT_LE(progress.size(), seconds * 10 + 3);
    for (const auto& u : dock_->updates()) EXPECT_EQ(u.appUri, "application://" ZUX_APP_ID ".desktop");
}

// A reception shows the KiB gathered; once the dump is complete and waits
// for a name while the window is in the background, it asks for attention
// until the dialog closes.
TEST_F(TaskIconE2E, AReceptionShowsItsCountAndAsksForAttentionWhileTheDumpWaits) {
    const std::string dumpFile = dir() + "/dump.syx";
    ASSERT_TRUE(writeFile(dumpFile, sysex(8192, 12)));
    startProgram({"--send", dumpFile, "--pace", "wire"});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox2, "zuxsim:out");
    ASSERT_FALSE(HasFatalFailure());
    QWidget elsewhere;  // the window the user is in
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    ASSERT_FALSE(form->isActiveWindow());

    bool urgentWhileOpen = false;
    whenModal(
        [&](QWidget*) {
            urgentWhileOpen = dock_->waitForCount(1) && dock_->merged().value("urgent").toBool();
            typeIntoFileDialog(QString::fromStdString(dir() + "/backup.ZUX"));
        },
        isFileDialog, kLongWaitMs);
    click(form->Button2);
    sim_.say("send");
    EXPECT_TRUE(QTest::qWaitFor([&] { return log().size() >= 3; }, kLongWaitMs));
    EXPECT_EQ(log().last(), "RECEIVE:saved(" + QString::fromStdString(dir()) + "/backup.ZUX)");
    dock_->settle(dock_->updates().size() + 1);

    EXPECT_TRUE(urgentWhileOpen);
    QList<qint64> counts;
    for (const auto& u : dock_->updates())
        if (u.properties.value("count-visible").toBool()) counts << u.properties.value("count").toLongLong();
    ASSERT_GE(counts.size(), 3);
    EXPECT_EQ(counts.first(), 0);
    EXPECT_GE(counts.last(), 6);
    for (qsizetype i = 1; i < counts.size(); ++i) EXPECT_GE(counts[i], counts[i - 1]);
    const QVariantMap last = dock_->updates().last().properties;
    EXPECT_FALSE(last.value("urgent").toBool());
    EXPECT_FALSE(last.value("count-visible").toBool());
}

// The server dies mid-dump: the reception ends on its own with a line that
// says why, and saves nothing.
TEST_F(ProgramE2E, ServerKilledDuringReceptionEndsItAsPortLost) {
    // A short first message shows that bytes flow; the long second one is
    // still under way when the server dies.
    auto dump = sysex(300, 2);
    dump[3] = 0x01;
    const auto second = sysex(65536 - 300, 3);
    dump.insert(dump.end(), second.begin(), second.end());
    const std::string dumpFile = dir() + "/dump.syx";
    ASSERT_TRUE(zuxtest::writeFile(dumpFile, dump));
    startProgram({"--send", dumpFile, "--pace", "wire"});  // about 21 s on the wire
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox2, "zuxsim:out");
    ASSERT_FALSE(HasFatalFailure());

    click(form->Button2);
    sim_.say("send");
    ASSERT_TRUE(QTest::qWaitFor([] { return DataLen.load() == 300; }, kLongWaitMs));
    QTest::qWait(500);
    server_->kill();

    EXPECT_TRUE(QTest::qWaitFor([&] { return log().size() >= 2; }, kLongWaitMs));
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:the port was lost"}));
    EXPECT_EQ(QDir(QString::fromStdString(dir())).entryList({"*.ZUX"}, QDir::Files), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_TRUE(form->Button3->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
}

// Our process stalls mid-dump (a loaded machine, a debugger, a suspend):
// JACK goes on without us and the cycles we missed take their MIDI data
// with them. The dump has a hole, so it is not saved.
TEST_F(ProgramE2E, CyclesMissedDuringAReceptionLoseTheDump) {
    const auto dump = sysex(65536, 5);
    const std::string dumpFile = dir() + "/dump.syx";
    ASSERT_TRUE(zuxtest::writeFile(dumpFile, dump));
    startProgram({"--send", dumpFile, "--pace", "31250"});  // ten times the wire: about 2 s
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox2, "zuxsim:out");
    ASSERT_FALSE(HasFatalFailure());
    const QString saveAs = QString::fromStdString(dir() + "/never.ZUX");
    zuxtest::typeIntoFileDialog(saveAs, kLongWaitMs);  // should it complete

    // A second receiver shows when the SysEx is well under way.
    const std::string monitored = dir() + "/monitor.syx";
    Child monitor = startSimulator("monitor", {"--receive-to", monitored});
    ASSERT_TRUE(connect("zuxsim:out", "monitor:in"));
    click(form->Button2);
    sim_.say("send");
    ASSERT_TRUE(waitFor([&] { return readFile(monitored).size() >= 8000; }, std::chrono::milliseconds(kLongWaitMs)));
    // Stopped as a whole for a moment, as the kernel stops a process.
    Child stopper({"/bin/sh", "-c", "kill -STOP " + std::to_string(getpid()) + "; sleep 0.5; kill -CONT " +
                                        std::to_string(getpid())},
                  dir() + "/stopper.log");
    EXPECT_TRUE(QTest::qWaitFor([&] { return log().size() >= 2; }, kLongWaitMs));
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:data was lost, try again"}));
    EXPECT_FALSE(QFile::exists(saveAs));
    EXPECT_TRUE(form->Button2->isEnabled());
}

// The server dies while a file goes out to a hardware port at the wire's
// pace: the transmission reports the failure at once, rather than after the
// wire time of the whole file (21 s) and its margin.
TEST_F(ProgramE2E, ServerKilledDuringTransmissionReportsFailureAtOnce) {
    const std::string received = dir() + "/received.syx";
    startProgram({"--physical", "--receive-to", received});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox1, "zuxsim:in");
    ASSERT_FALSE(HasFatalFailure());
    const std::string file = dir() + "/restore.ZUX";
    ASSERT_TRUE(zuxtest::writeFile(file, sysex(65536)));

    // Kills the server once about two seconds' worth of bytes have arrived.
    std::optional<std::chrono::steady_clock::time_point> killedAt;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!killedAt && readFile(received).size() >= 6000) {
            server_->kill();
            killedAt = std::chrono::steady_clock::now();
        }
    });
    watch.start();
    zuxtest::typeIntoFileDialog(QString::fromStdString(file));
    click(form->Button1);  // returns once the transmission has given up
    watch.stop();

    ASSERT_TRUE(killedAt) << "the transmission ended before the server was killed: "
                          << log().join(" / ").toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - *killedAt, std::chrono::seconds(10));
    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:failed to send the data"}));
    EXPECT_LT(readFile(received).size(), 65536u);
    // The window takes clicks again.
    EXPECT_TRUE(form->Button1->isEnabled());
    click(form->Button3);
    EXPECT_EQ(log(), QStringList{});
}

}  // namespace
