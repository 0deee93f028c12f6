// The whole program on a private JACK server, with the sequencer simulator as
// the instrument: the window offscreen, made as start-up makes it, driven
// through its buttons, port lists and real file dialogs.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/Unit1.h"
#include "e2e/JackServer.h"
#include "midi/TransferState.h"
#include "midi/Transport.h"
#include "receive/Reception.h"
#include "support/AppFixture.h"
#include "support/Dialogs.h"
#include "support/QtPrinters.h"
#include "support/TestFiles.h"
#include "vcl/BitBtn.h"

using namespace e2e;

namespace {

constexpr int kLongWaitMs = 60000;  // generous: the machine is shared

std::string readText(const std::string& path) {
    std::ifstream f(path);
    std::stringstream text;
    text << f.rdbuf();
    return text.str();
}

class ProgramE2E : public zuxtest::AppFixture {
protected:
    // The window waits for startProgram, once the simulator's ports exist.
    void SetUp() override {
        if (JackServer::jackdPath().empty()) GTEST_SKIP() << "jackd is not installed";
        server_.emplace();
        ASSERT_TRUE(server_->start()) << "the private JACK server did not answer";
    }

    void TearDown() override { stopProgram(); }

    void beforeWindow() override { midi::installSystemTransports(); }

    // Starts the simulator as "zuxsim" with `options`, then the program, whose
    // port lists are filled at start-up.
    void startProgram(const std::vector<std::string>& options) {
        const std::string log = dir() + "/zuxsim-" + std::to_string(++starts_) + ".log";
        sim_ = startSim("zuxsim", options, log);
        ASSERT_TRUE(waitFor([&] { return readText(log).find("zuxsim: ready") != std::string::npos; }))
            << readText(log);
        openWindow();
    }

    // As the program ends, then the simulator.
    void stopProgram() {
        closeWindow();
        midi::setTransports({});
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

// The server dies mid-dump: the reception waits as on a silent port, the
// window goes on, and STOP still ends it.
TEST_F(ProgramE2E, ServerKilledDuringReceptionStopEndsIt) {
    // A short first message shows that bytes flow; the long second one is
    // still under way when the server dies.
    auto dump = sysex(300, 2);
    dump[3] = 0x01;
    const auto second = sysex(65536 - 300, 3);
    dump.insert(dump.end(), second.begin(), second.end());
    const std::string dumpFile = dir() + "/dump.syx";
    ASSERT_TRUE(zuxtest::writeFile(dumpFile, dump));
    startProgram({"--send", dumpFile, "--pace", "3125"});  // about 21 s on the wire
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox2, "zuxsim:out");
    ASSERT_FALSE(HasFatalFailure());

    click(form->Button2);
    sim_.say("send");
    ASSERT_TRUE(QTest::qWaitFor([] { return DataLen.load() == 300; }, kLongWaitMs));
    QTest::qWait(500);
    server_->kill();

    QTest::qWait(1000);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(form->BitBtn1->isEnabled());
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});

    click(form->BitBtn1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return log().size() >= 2; }, kLongWaitMs));
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:canceled"}));
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_TRUE(form->Button3->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
}

// The server dies while a file goes out to a hardware port at the wire's pace:
// the transmission reports the failure, and the window kept handling events
// while it waited.
TEST_F(ProgramE2E, ServerKilledDuringTransmissionReportsFailure) {
    const std::string received = dir() + "/received.syx";
    startProgram({"--physical", "--receive-to", received});
    ASSERT_FALSE(HasFatalFailure());
    choose(form->ComboBox1, "zuxsim:in");
    ASSERT_FALSE(HasFatalFailure());
    const std::string file = dir() + "/restore.ZUX";
    ASSERT_TRUE(zuxtest::writeFile(file, sysex(65536)));

    // Kills the server once about two seconds' worth of bytes have arrived,
    // then counts the ticks the event loop still delivers.
    bool killed = false;
    int ticksAfterKill = 0;
    QTimer watch;
    watch.setInterval(50);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (killed) {
            ++ticksAfterKill;
        } else if (readFile(received).size() >= 6000) {
            server_->kill();
            killed = true;
        }
    });
    watch.start();
    zuxtest::typeIntoFileDialog(QString::fromStdString(file));
    click(form->Button1);  // returns once the transmission has given up
    watch.stop();

    ASSERT_TRUE(killed) << "the transmission ended before the server was killed";
    EXPECT_EQ(log(), (QStringList{"TRANSMIT:start", "TRANSMIT:executing", "TRANSMIT:failed to send the data"}));
    EXPECT_LT(readFile(received).size(), 65536u);
    EXPECT_GT(ticksAfterKill, 10);
    // The window takes clicks again.
    EXPECT_TRUE(form->Button1->isEnabled());
    click(form->Button3);
    EXPECT_EQ(log(), QStringList{});
}

}  // namespace
