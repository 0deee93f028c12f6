// Receiving a dump: the courses a reception can take, on a simulated input.
#include <chrono>
#include <thread>

#include <QAction>
#include <QFile>

#include "receive/Reception.h"
#include "tests/gui/FlowFixture.h"

namespace flows {
namespace {

// A SysEx of `total` bytes (F0 and F7 included) whose fourth byte is `fourth`.
Bytes Sysex(std::size_t total, std::uint8_t fourth) {
    Bytes b(total);
    for (std::size_t i = 0; i < total; ++i) b[i] = static_cast<std::uint8_t>(i & 0x7F);
    b[0] = 0xF0;
    b[1] = 0x7D;
    b[2] = 0x10;
    b[3] = fourth;
    b[total - 1] = 0xF7;
    return b;
}

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
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

const Bytes kFirst = Sysex(20, 0x01);
const Bytes kSecond = Sysex(30, 0x02);
const Bytes kHuge = Sysex(70000, 0x01);
const Bytes kWhole = Sysex(65536, 0x01);
const Bytes kLarge = Sysex(40000, 0x01);
const Bytes kRest = Sysex(30000, 0x02);

std::vector<Course> Courses() {
    using S = Step;
    const Bytes broken = {0xF0, 0x7D, 0x10, 0x01, 0x02, 0x90, 0x3C, 0x7F};
    return {
        {.name = "marker in the first return", .steps = {{S::Inject, kMarkerDump}}, .longDataCount = 1,
         .data = kMarkerDump},
        {.name = "marker dump split over chunks",
         .steps = {{S::Inject, Slice(kMarkerDump, 0, 2)}, {S::Ticks}, {S::Inject, Slice(kMarkerDump, 2, 7)}},
         .longDataCount = 1, .data = kMarkerDump, .outChosen = false},
        {.name = "two returns", .steps = {{S::Inject, kFirst}, {S::Inject, kSecond}}, .longDataCount = 3,
         .data = Join(kFirst, kSecond)},
        {.name = "three bytes over a stale marker",
         .steps = {{S::StaleMarker}, {S::Inject, {0xF0, 0x7D, 0xF7}}, {S::Ticks}, {S::Inject, kFirst}},
         .longDataCount = 3, .data = Join({0xF0, 0x7D, 0xF7}, kFirst), .outChosen = false},
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
         .steps = {{S::Inject, Slice(kFirst, 0, 8)}, {S::LoseBytes}, {S::Inject, Slice(kFirst, 8, 20)}},
         .ends = Ends::DataLost},
        // They may have been a whole message of the dump.
        {.name = "bytes lost between the two messages end it too",
         .steps = {{S::Inject, kFirst}, {S::AwaitReturns, {}, 1}, {S::LoseBytes}, {S::Inject, kSecond}},
         .ends = Ends::DataLost, .longDataCount = 1, .data = kFirst},
        {.name = "STOP wins over lost bytes",
         .steps = {{S::Inject, broken}, {S::Stop}}, .ends = Ends::Canceled},
        // The teardown hands back what the header holds; it is not saved.
        {.name = "the port goes away mid-dump",
         .steps = {{S::Inject, kFirst}, {S::Inject, Slice(kSecond, 0, 10)}, {S::RemovePort}},
         .ends = Ends::PortLost, .longDataCount = 2, .data = Join(kFirst, Slice(kSecond, 0, 10))},
        {.name = "the port goes away after the dump was complete",
         .steps = {{S::Inject, kMarkerDump}, {S::AwaitReturns, {}, 1}, {S::RemovePort}}, .longDataCount = 1,
         .data = kMarkerDump},
        {.name = "a SysEx longer than the block", .steps = {{S::Inject, kHuge}}, .longDataCount = 1,
         .data = Slice(kHuge, 0, 65536), .overflow = true},
        {.name = "a SysEx that fills the block exactly", .steps = {{S::Inject, kWhole}}, .longDataCount = 1,
         .data = kWhole},
        {.name = "a second return that does not fit", .steps = {{S::Inject, kLarge}, {S::Inject, kRest}},
         .longDataCount = 2, .data = Slice(Join(kLarge, kRest), 0, 65536), .overflow = true, .outChosen = false},
    };
}

class ReceptionTest : public FlowTest {
protected:
    void ClickReceive() {
        ASSERT_TRUE(form->Button2->isEnabled());
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    }
    static bool AwaitReturns(int returns) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (LongDataCount.load() < returns) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    void ExpectIdleControls(bool outChosen) {
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
    OpenWithPorts(true, course.outChosen);
    ScriptDialogs();
    const QString file = Path("dump.ZUX");
    saveDialog->answer = file;
    Bytes dataAtSave;
    saveDialog->onExecute = [&] { dataAtSave.assign(DataBuf, DataBuf + DataLen.load()); };

    ClickReceive();
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_TRUE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Button3->isEnabled());

    for (const Step& step : course.steps) {
        switch (step.kind) {
        case Step::Inject: EXPECT_TRUE(sim.inject(0, step.bytes)); break;
        case Step::AwaitReturns: ASSERT_TRUE(AwaitReturns(step.returns)); break;
        case Step::Stop: QTest::mouseClick(form->BitBtn1, Qt::LeftButton); break;
        case Step::Ticks: QTest::qWait(350); break;
        case Step::StaleMarker: DataBuf[3] = 0x7E; break;
        case Step::LoseBytes: EXPECT_TRUE(sim.injectDataLost(0)); break;
        case Step::RemovePort: sim.removeInput(0); break;
        }
    }
    ASSERT_TRUE(WaitEnded());

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
    ExpectIdleControls(course.outChosen);
}

INSTANTIATE_TEST_SUITE_P(, ReceptionCourse, ::testing::ValuesIn(Courses()), CaseName());

TEST_F(ReceptionTest, FailedOpenShowsTheErrorAndChangesNothing) {
    Open({{.name = "Busy In", .openResult = MMSYSERR_ALLOCATED}}, {{.name = "Sim Out"}});
    choose(form->ComboBox2, 0);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    ClickReceive();

    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, ErrorTextOf(MMSYSERR_ALLOCATED));
    EXPECT_FALSE(box.text.isEmpty());
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->BitBtn1->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(zuxtest::LiveBlocks(), 0);

    // RECEIVE stays usable: a further click tries again.
    box = {};
    zuxtest::answerMessageBox(box);
    ClickReceive();
    EXPECT_TRUE(box.shown);
}

// Unplugged after the window listed it: the ID must not open another port.
TEST_F(ReceptionTest, APortGoneSinceListedIsReportedAndNothingElseOpens) {
    Open({{.name = "In A"}, {.name = "In B"}}, {{.name = "Sim Out"}});
    choose(form->ComboBox2, 0);
    sim.removeInput(0);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    ClickReceive();

    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, "The MIDI port is no longer available.");
    EXPECT_FALSE(sim.inputOpen(1));
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
}

TEST_F(ReceptionTest, NoMemoryClosesThePortAgain) {
    OpenWithPorts(true, false);
    zuxtest::FailNextBlockTakes(1);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    ClickReceive();
    zuxtest::FailNextBlockTakes(0);

    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, ErrorTextOf(MMSYSERR_NOMEM));
    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(DataBuf, nullptr);
    EXPECT_EQ(zuxtest::LiveBlocks(), 0);
}

TEST_F(ReceptionTest, ListChangesDuringAReceptionEnableNothing) {
    Open({{.name = "In A"}, {.name = "In B"}}, {{.name = "Out A"}});
    choose(form->ComboBox2, 0);
    ClickReceive();

    choose(form->ComboBox2, 1);
    choose(form->ComboBox1, 0);
    choose(form->ComboBox1, 1);
    EXPECT_FALSE(form->Button1->isEnabled());
    EXPECT_FALSE(form->Button2->isEnabled());

    QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(log().last(), "RECEIVE:canceled");
    ExpectIdleControls(true);
    // The port that was opened is the one chosen when RECEIVE was clicked.
    EXPECT_FALSE(sim.inputOpen(1));
}

TEST_F(ReceptionTest, ADumpCompletingUnderTheAboutBoxIsStillSaved) {
    OpenWithPorts();
    ScriptDialogs();
    saveDialog->answer = Path("about.ZUX");
    ClickReceive();

    zuxtest::BoxSeen about;
    zuxtest::answerMessageBox(about, [&] {
        sim.inject(0, kMarkerDump);
        EXPECT_TRUE(QTest::qWaitFor([&] { return saveDialog->shown > 0; }, 10000));
    });
    form->About1->trigger();

    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(about.caption, "about");
    EXPECT_EQ(saveDialog->shown, 1);
    EXPECT_EQ(log().last(), "RECEIVE:saved(" + Path("about.ZUX") + ")");
}

TEST_F(ReceptionTest, TheNextReceptionStartsAfresh) {
    OpenWithPorts();
    ScriptDialogs();
    saveDialog->answer = Path("second.ZUX");
    ClickReceive();
    ASSERT_TRUE(sim.inject(0, kHuge));  // cut, counted, then stopped
    ASSERT_TRUE(AwaitReturns(1));
    QTest::mouseClick(form->BitBtn1, Qt::LeftButton);
    ASSERT_TRUE(WaitEnded());

    ClickReceive();
    ASSERT_TRUE(sim.inject(0, kMarkerDump));
    ASSERT_TRUE(WaitEnded());
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:canceled", "RECEIVE:waiting",
                                  "RECEIVE:completed(7byte)", "RECEIVE:saved(" + Path("second.ZUX") + ")"}));
    EXPECT_EQ(LongDataCount.load(), 1);
    EXPECT_EQ(StopRequest.load(), 0);
}

TEST_F(ReceptionTest, ClosingTheWindowEndsTheReceptionWithoutSaving) {
    OpenWithPorts();
    ScriptDialogs();
    saveDialog->answer = Path("never.ZUX");
    ClickReceive();
    sim.inject(0, Slice(kFirst, 0, 10));  // a dump under way

    // What start-up does once the window is closed; a second call finds
    // nothing left to end.
    form->close();
    EndReceptionOnExit();
    EndReceptionOnExit();

    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_EQ(DataBuf, nullptr);
    EXPECT_EQ(zuxtest::LiveBlocks(), 0);
    QTest::qWait(250);  // a tick due now must find nothing to do
    EXPECT_EQ(saveDialog->shown, 0);
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});
    EXPECT_FALSE(QFile::exists(Path("never.ZUX")));
}

}  // namespace
}  // namespace flows
