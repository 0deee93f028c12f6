// Receiving a dump: the courses a reception can take, on a simulated input.
#include <chrono>
#include <thread>

#include <QAction>
#include <QFile>

#include "receive/Reception.h"
#include "gui/FlowFixture.h"

namespace zuxtest {
namespace {

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + from, b.begin() + to);
}

const Bytes kMarkerDump = {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0x02, 0xF7};

struct Step {
    // AwaitReturns waits, without letting a tick run, until the callback has
    // handled `returns` long-data returns. LoseBytes: the system lost bytes
    // at this point; RemovePort: the port goes away (unplugged).
    enum Kind { Inject, AwaitReturns, Stop, Ticks, StaleMarker, LoseBytes, RemovePort } kind;
    Bytes bytes = {};
    int returns = 0;
};

enum class Ends { Saved, Canceled, DataLost, PortLost };

struct Course {
    const char* name;
    std::vector<Step> steps;
    Ends ends = Ends::Saved;
    std::int32_t longDataCount = 0;
    Bytes data = {};  // what DataBuf ends with, and the saved file
    bool overflow = false;
    bool outChosen = true;
};

const Bytes kFirst = sysex(20, 1, 0x01);
const Bytes kSecond = sysex(30, 1, 0x02);
const Bytes kHuge = sysex(70000, 1, 0x01);
const Bytes kWhole = sysex(65536, 1, 0x01);
const Bytes kLarge = sysex(40000, 1, 0x01);
const Bytes kRest = sysex(30000, 1, 0x02);

std::vector<Course> courses() {
    using S = Step;
    const Bytes broken = {0xF0, 0x7D, 0x10, 0x01, 0x02, 0x90, 0x3C, 0x7F};
    return {
        {.name = "marker in the first return", .steps = {{S::Inject, kMarkerDump}}, .longDataCount = 1,
         .data = kMarkerDump},
        {.name = "marker dump split over chunks",
         .steps = {{S::Inject, slice(kMarkerDump, 0, 2)}, {S::Ticks}, {S::Inject, slice(kMarkerDump, 2, 7)}},
         .longDataCount = 1, .data = kMarkerDump, .outChosen = false},
        {.name = "two returns", .steps = {{S::Inject, kFirst}, {S::Inject, kSecond}}, .longDataCount = 3,
         .data = join(kFirst, kSecond)},
        {.name = "three bytes over a stale marker",
         .steps = {{S::StaleMarker}, {S::Inject, {0xF0, 0x7D, 0xF7}}, {S::Ticks}, {S::Inject, kFirst}},
         .longDataCount = 3, .data = join({0xF0, 0x7D, 0xF7}, kFirst), .outChosen = false},
        {.name = "short messages and real-time bytes",
         .steps = {{S::Inject, {0x90, 0x3C, 0x7F, 0x80, 0x3C, 0x00, 0xF8, 0xFE}},
                   {S::Inject, {0xF0, 0x7D, 0x10, 0xF8, 0x7E, 0xFE, 0x01, 0xF7}}},
         .longDataCount = 1, .data = {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0xF7}},
        // The reset hands the empty header back.
        {.name = "STOP before any byte", .steps = {{S::Stop}}, .ends = Ends::Canceled, .longDataCount = 1},
        {.name = "STOP after a complete dump",
         .steps = {{S::Inject, kMarkerDump}, {S::AwaitReturns, {}, 1}, {S::Stop}}, .ends = Ends::Canceled,
         .longDataCount = 1, .data = kMarkerDump, .outChosen = false},
        // A damaged buffer is not queued again: waiting on would wait for ever.
        {.name = "a broken SysEx ends it: data lost",
         .steps = {{S::Inject, broken}}, .ends = Ends::DataLost},
        {.name = "bytes lost inside the dump end it: data lost",
         .steps = {{S::Inject, slice(kFirst, 0, 8)}, {S::LoseBytes}, {S::Inject, slice(kFirst, 8, 20)}},
         .ends = Ends::DataLost},
        // They may have been a whole message of the dump.
        {.name = "bytes lost between the two messages end it too",
         .steps = {{S::Inject, kFirst}, {S::AwaitReturns, {}, 1}, {S::LoseBytes}, {S::Inject, kSecond}},
         .ends = Ends::DataLost, .longDataCount = 1, .data = kFirst},
        {.name = "STOP wins over lost bytes",
         .steps = {{S::Inject, broken}, {S::Stop}}, .ends = Ends::Canceled},
        // The teardown hands back what the header holds; it is not saved.
        {.name = "the port goes away mid-dump",
         .steps = {{S::Inject, kFirst}, {S::Inject, slice(kSecond, 0, 10)}, {S::RemovePort}},
         .ends = Ends::PortLost, .longDataCount = 2, .data = join(kFirst, slice(kSecond, 0, 10))},
        {.name = "the port goes away after the dump was complete",
         .steps = {{S::Inject, kMarkerDump}, {S::AwaitReturns, {}, 1}, {S::RemovePort}}, .longDataCount = 1,
         .data = kMarkerDump},
        {.name = "a SysEx longer than the block", .steps = {{S::Inject, kHuge}}, .longDataCount = 1,
         .data = slice(kHuge, 0, 65536), .overflow = true},
        {.name = "a SysEx that fills the block exactly", .steps = {{S::Inject, kWhole}}, .longDataCount = 1,
         .data = kWhole},
        {.name = "a second return that does not fit", .steps = {{S::Inject, kLarge}, {S::Inject, kRest}},
         .longDataCount = 2, .data = slice(join(kLarge, kRest), 0, 65536), .overflow = true, .outChosen = false},
    };
}

class ReceptionTest : public FlowTest {
protected:
    void clickReceive() {
        ASSERT_TRUE(form->Button2->isEnabled());
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    }
    static bool awaitReturns(int returns) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (LongDataCount.load() < returns) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void expectIdleControls(bool outChosen) {
        EXPECT_FALSE(form->Timer1->isActive());
        EXPECT_FALSE(form->BitBtn1->isEnabled());
        EXPECT_TRUE(form->Button2->isEnabled());
        EXPECT_TRUE(form->Button3->isEnabled());
        EXPECT_EQ(form->Button1->isEnabled(), outChosen);
        EXPECT_EQ(DataBuf, nullptr);
        EXPECT_FALSE(sim.inputOpen(0));
    }
};

class ReceptionCourse : public ReceptionTest, public ::testing::WithParamInterface<Course> {};

void PrintTo(const Course& course, std::ostream* os) { *os << course.name; }

TEST_P(ReceptionCourse, EndsAsExpected) {
    const Course& course = GetParam();
    openWithOnePortEach(true, course.outChosen);
    scriptDialogs();
    const QString file = path("dump.ZUX");
    saveDialog->answer = file;
    Bytes dataAtSave;
    saveDialog->onExecute = [&] { dataAtSave.assign(DataBuf, DataBuf + DataLen.load()); };

    clickReceive();
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Button3->isEnabled());

    for (const Step& step : course.steps) {
        switch (step.kind) {
        case Step::Inject: EXPECT_TRUE(sim.inject(0, step.bytes)); break;
        case Step::AwaitReturns: ASSERT_TRUE(awaitReturns(step.returns)); break;
        case Step::Stop: QTest::mouseClick(form->BitBtn1, Qt::LeftButton); break;
        case Step::Ticks: QTest::qWait(350); break;
        case Step::StaleMarker: DataBuf[3] = 0x7E; break;
        case Step::LoseBytes: EXPECT_TRUE(sim.injectDataLost(0)); break;
        case Step::RemovePort: sim.removeInput(0); break;
        }
    }
    ASSERT_TRUE(waitEnded());

    EXPECT_EQ(LongDataCount.load(), course.longDataCount);
    EXPECT_EQ(DataLen.load(), course.data.size());
    QStringList expected{"RECEIVE:waiting"};
    if (course.ends != Ends::Saved) {
        expected << (course.ends == Ends::Canceled   ? "RECEIVE:canceled"
                     : course.ends == Ends::DataLost ? "RECEIVE:data was lost, try again"
                                                     : "RECEIVE:the port was lost");
        EXPECT_EQ(saveDialog->shown, 0);
        EXPECT_EQ(StopRequest.load(), course.ends == Ends::Canceled ? 1 : 0);
        EXPECT_FALSE(QFile::exists(file));
    } else {
        if (course.overflow) expected << "RECEIVE:overflow(cut at 65536byte)";
        expected << QStringLiteral("RECEIVE:completed(%1byte)").arg(course.data.size())
                 << "RECEIVE:saved(" + file + ")";
        EXPECT_EQ(dataAtSave, course.data);
        QFile saved(file);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray content = saved.readAll();
        EXPECT_EQ(Bytes(content.begin(), content.end()), course.data);
    }
    EXPECT_EQ(log(), expected);
    expectIdleControls(course.outChosen);
}

INSTANTIATE_TEST_SUITE_P(, ReceptionCourse, ::testing::ValuesIn(courses()), CaseName());

TEST_F(ReceptionTest, FailedOpenShowsTheErrorAndChangesNothing) {
    openWithPorts({{.name = "Busy In", .openResult = MMSYSERR_ALLOCATED}}, {{.name = "Sim Out"}});
    choose(form->ComboBox2, 0);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    clickReceive();

    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, errorTextOf(MMSYSERR_ALLOCATED));
    EXPECT_FALSE(box.text.isEmpty());
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(zuxtest::liveBlocks(), 0);

    // RECEIVE stays usable: a further click tries again.
    box = {};
    zuxtest::answerMessageBox(box);
    clickReceive();
    EXPECT_TRUE(box.shown);
}

// Unplugged after the window listed it: the ID must not open another port.
TEST_F(ReceptionTest, APortGoneSinceListedIsReportedAndNothingElseOpens) {
    openWithPorts({{.name = "In A"}, {.name = "In B"}}, {{.name = "Sim Out"}});
    choose(form->ComboBox2, 0);
    sim.removeInput(0);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    clickReceive();

    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, "The MIDI port is no longer available.");
    EXPECT_FALSE(sim.inputOpen(1));
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(ReceptionTest, NoMemoryClosesThePortAgain) {
    openWithOnePortEach(true, false);
    zuxtest::failNextBlockTakes(1);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    clickReceive();
    zuxtest::failNextBlockTakes(0);

    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, errorTextOf(MMSYSERR_NOMEM));
    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(DataBuf, nullptr);
    EXPECT_EQ(zuxtest::liveBlocks(), 0);
}

TEST_F(ReceptionTest, ListChangesDuringAReceptionEnableNothing) {
    openWithPorts({{.name = "In A"}, {.name = "In B"}}, {{.name = "Out A"}});
    choose(form->ComboBox2, 0);
    clickReceive();

    choose(form->ComboBox2, 1);
    choose(form->ComboBox1, 0);
    choose(form->ComboBox1, 1);
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->Button2->isEnabled());

    QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(log().last(), "RECEIVE:canceled");
    expectIdleControls(true);
    // The port that was opened is the one chosen when RECEIVE was clicked.
    EXPECT_FALSE(sim.inputOpen(1));
}

TEST_F(ReceptionTest, ADumpCompletingUnderTheAboutBoxIsStillSaved) {
    openWithOnePortEach();
    scriptDialogs();
    saveDialog->answer = path("about.ZUX");
    clickReceive();

    zuxtest::BoxSeen about;
    zuxtest::answerMessageBox(about, [&] {
        sim.inject(0, kMarkerDump);
        EXPECT_TRUE(QTest::qWaitFor([&] { return saveDialog->shown > 0; }, 10000));
    });
    form->About1->trigger();

    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(about.caption, "about");
    EXPECT_EQ(saveDialog->shown, 1);
    EXPECT_EQ(log().last(), "RECEIVE:saved(" + path("about.ZUX") + ")");
}

TEST_F(ReceptionTest, TheNextReceptionStartsAfresh) {
    openWithOnePortEach();
    scriptDialogs();
    saveDialog->answer = path("second.ZUX");
    clickReceive();
    ASSERT_TRUE(sim.inject(0, kHuge));  // cut, counted, then stopped
    ASSERT_TRUE(awaitReturns(1));
    QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(waitEnded());

    clickReceive();
    ASSERT_TRUE(sim.inject(0, kMarkerDump));
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:canceled", "RECEIVE:waiting",
                                  "RECEIVE:completed(7byte)", "RECEIVE:saved(" + path("second.ZUX") + ")"}));
    EXPECT_EQ(LongDataCount.load(), 1);
    EXPECT_EQ(StopRequest.load(), 0);
}

TEST_F(ReceptionTest, ClosingTheWindowEndsTheReceptionWithoutSaving) {
    openWithOnePortEach();
    scriptDialogs();
    saveDialog->answer = path("never.ZUX");
    clickReceive();
    sim.inject(0, slice(kFirst, 0, 10));  // a dump under way

    // What start-up does once the window is closed; a second call finds
    // nothing left to end.
    form->close();
    EndReceptionOnExit();
    EndReceptionOnExit();

    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_EQ(DataBuf, nullptr);
    EXPECT_EQ(zuxtest::liveBlocks(), 0);
    QTest::qWait(250);  // a tick due now must find nothing to do
    EXPECT_EQ(saveDialog->shown, 0);
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});
    EXPECT_FALSE(QFile::exists(path("never.ZUX")));
}

}  // namespace
}  // namespace zuxtest
