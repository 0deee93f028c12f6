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
    // handled `returns` long-data returns.
    enum Kind { Inject, AwaitReturns, Stop, Ticks, StaleMarker } kind;
    Bytes bytes = {};
    int returns = 0;
};

struct Course {
    const char* name;
    std::vector<Step> steps;
    bool canceled;
    std::int32_t longDataCount;
    Bytes data;  // what DataBuf ends with, and the saved file
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
    return {
        {"marker in the first return", {{S::Inject, kMarkerDump}}, false, 1, kMarkerDump},
        {"marker dump split over chunks",
         {{S::Inject, Slice(kMarkerDump, 0, 2)}, {S::Ticks}, {S::Inject, Slice(kMarkerDump, 2, 7)}},
         false, 1, kMarkerDump, false, false},
        {"two returns", {{S::Inject, kFirst}, {S::Inject, kSecond}}, false, 3, Join(kFirst, kSecond)},
        {"three bytes over a stale marker",
         {{S::StaleMarker}, {S::Inject, {0xF0, 0x7D, 0xF7}}, {S::Ticks}, {S::Inject, kFirst}},
         false, 3, Join({0xF0, 0x7D, 0xF7}, kFirst), false, false},
        {"short messages and real-time bytes",
         {{S::Inject, {0x90, 0x3C, 0x7F, 0x80, 0x3C, 0x00, 0xF8, 0xFE}},
          {S::Inject, {0xF0, 0x7D, 0x10, 0xF8, 0x7E, 0xFE, 0x01, 0xF7}}},
         false, 1, {0xF0, 0x7D, 0x10, 0x7E, 0x01, 0xF7}},
        {"STOP before any byte", {{S::Stop}}, true, 1, {}},  // the reset hands the empty header back
        {"STOP after a complete dump", {{S::Inject, kMarkerDump}, {S::AwaitReturns, {}, 1}, {S::Stop}}, true, 1, kMarkerDump, false,
         false},
        {"broken SysEx waits for STOP",
         {{S::Inject, {0xF0, 0x7D, 0x10, 0x01, 0x02, 0x90, 0x3C, 0x7F}},
          {S::Ticks},
          {S::Inject, kMarkerDump},
          {S::Ticks},
          {S::Stop}},
         true, 0, {}},
        {"a SysEx longer than the block", {{S::Inject, kHuge}}, false, 1, Slice(kHuge, 0, 65536), true},
        {"a SysEx that fills the block exactly", {{S::Inject, kWhole}}, false, 1, kWhole},
        {"a second return that does not fit",
         {{S::Inject, kLarge}, {S::Inject, kRest}}, false, 2, Slice(Join(kLarge, kRest), 0, 65536), true,
         false},
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
        }
    }
    ASSERT_TRUE(WaitEnded());

    EXPECT_EQ(LongDataCount.load(), course.longDataCount);
    EXPECT_EQ(DataLen.load(), course.data.size());
    QStringList expected{"RECEIVE:waiting"};
    if (course.canceled) {
        expected << "RECEIVE:canceled";
        EXPECT_EQ(saveDialog->shown, 0);
        EXPECT_EQ(StopRequest.load(), 1);
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
    Open({{"Busy In", false, MMSYSERR_NOERROR, MMSYSERR_ALLOCATED}}, {{"Sim Out"}});
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
    EXPECT_EQ(midi::testing::LiveBlocks(), 0);

    // RECEIVE stays usable: a further click tries again.
    box = {};
    zuxtest::answerMessageBox(box);
    ClickReceive();
    EXPECT_TRUE(box.shown);
}

TEST_F(ReceptionTest, NoMemoryClosesThePortAgain) {
    OpenWithPorts(true, false);
    midi::testing::FailNextBlockTakes(1);
    zuxtest::BoxSeen box;
    zuxtest::answerMessageBox(box);
    ClickReceive();
    midi::testing::FailNextBlockTakes(0);

    EXPECT_EQ(box.caption, "error");
    EXPECT_EQ(box.text, ErrorTextOf(MMSYSERR_NOMEM));
    EXPECT_FALSE(sim.inputOpen(0));
    EXPECT_EQ(log(), QStringList{});
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_EQ(DataBuf, nullptr);
    EXPECT_EQ(midi::testing::LiveBlocks(), 0);
}

TEST_F(ReceptionTest, ListChangesDuringAReceptionEnableNothing) {
    Open({{"In A"}, {"In B"}}, {{"Out A"}});
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
    EXPECT_EQ(midi::testing::LiveBlocks(), 0);
    QTest::qWait(250);  // a tick due now must find nothing to do
    EXPECT_EQ(saveDialog->shown, 0);
    EXPECT_EQ(log(), QStringList{"RECEIVE:waiting"});
    EXPECT_FALSE(QFile::exists(Path("never.ZUX")));
}

}  // namespace
}  // namespace flows
