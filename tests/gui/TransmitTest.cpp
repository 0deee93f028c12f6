// Sending a dump file: every outcome with its lines, on simulated outputs.
#include <algorithm>
#include <cstdio>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

#include "support/TestFiles.h"
#include "gui/FlowFixture.h"
#include "transmit/ReadDumpFile.h"

namespace zuxtest {
namespace {

QByteArray pattern(int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i) b[i] = static_cast<char>((i * 7) % 256);
    return b;
}

// Descriptors open on files in `folder`: the program's other descriptors
// (the session bus, Qt's own) come and go as they please.
int openFilesIn(const QString& folder) {
    int open = 0;
    const QDir fds("/proc/self/fd");
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (QFileInfo(fds.filePath(fd)).symLinkTarget().startsWith(folder + "/")) ++open;
    return open;
}

struct Outcome {
    const char* name;
    enum Answer { Cancel, File, Missing, Folder } answer = File;
    QByteArray content = {};
    QStringList lines = {};  // after "TRANSMIT:start"; "%f" stands for the chosen name
    QByteArray sent = {};
    bool inChosen = true;
    MMRESULT openResult = MMSYSERR_NOERROR;
    const char* openReason = "";  // the system's words for a failed open
    bool stalled = false;          // takes no byte and never says so
    bool refusing = false;         // its receiver cannot take the bytes
    bool portGone = false;         // unplugged after the window listed it
    bool noMemory = false;
};

void PrintTo(const Outcome& o, std::ostream* os) { *os << o.name; }

const QByteArray kDump = QByteArray::fromHex("F07D107E0D0A1A00F7");

std::vector<Outcome> outcomes() {
    const QString done = QStringLiteral("TRANSMIT:completed(%1byte)");
    const QByteArray text = "line one\r\nline two\n\x1a";
    const QStringList failed{"TRANSMIT:executing", "TRANSMIT:failed to send the data"};
    return {
        {.name = "Canceled", .answer = Outcome::Cancel, .lines = {"TRANSMIT:canceled"}},
        {.name = "MissingFile", .answer = Outcome::Missing, .lines = {"TRANSMIT:can not open the file(%f)"},
         .inChosen = false},
        {.name = "EmptyFile", .content = "", .lines = {"TRANSMIT:failed to read the data"}},
        {.name = "ReadError", .answer = Outcome::Folder, .lines = {"TRANSMIT:failed to read the data"},
         .inChosen = false},
        {.name = "NoMemory", .content = kDump, .lines = {"TRANSMIT:failed to read the data"}, .noMemory = true},
        {.name = "PortBusy", .content = kDump, .lines = {"TRANSMIT:canceled"}, .openResult = MMSYSERR_ALLOCATED},
        {.name = "PortFailsWithTheSystemsReason", .content = kDump, .lines = {"TRANSMIT:canceled"},
         .openResult = MMSYSERR_ERROR, .openReason = "ALSA: Device or resource busy"},
        {.name = "PortGoneSinceListed", .content = kDump, .lines = {"TRANSMIT:canceled"},
         .openResult = MIDIERR_PORTGONE, .portGone = true},
        {.name = "PortNeverFinishes", .content = kDump, .lines = failed, .inChosen = false, .stalled = true},
        {.name = "ReceiverCannotTakeTheBytes", .content = kDump, .lines = failed, .refusing = true},
        {.name = "Sent", .content = kDump, .lines = {"TRANSMIT:executing", done.arg(9)}, .sent = kDump},
        {.name = "TextFile", .content = text, .lines = {"TRANSMIT:executing", done.arg(text.size())},
         .sent = text, .inChosen = false},
        {.name = "FullBlock", .content = pattern(65536), .lines = {"TRANSMIT:executing", done.arg(65536)},
         .sent = pattern(65536)},
        {.name = "LongerThanABlock", .content = pattern(65537), .lines = {"TRANSMIT:executing", done.arg(65536)},
         .sent = pattern(65536), .inChosen = false},
    };
}

// A stream with `good` bytes, after which it ends or fails; its close may fail.
struct FakeFile {
    std::size_t good;
    bool failAfter;
    bool closeFails;
    std::size_t pos = 0;
};

std::FILE* openFake(FakeFile& fake) {
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buf, std::size_t size) -> ssize_t {
        auto& f = *static_cast<FakeFile*>(cookie);
        const std::size_t n = std::min(size, f.good - f.pos);
        if (n == 0) return f.failAfter ? -1 : 0;
        for (std::size_t i = 0; i < n; ++i) buf[i] = static_cast<char>((f.pos + i) & 0xFF);
        f.pos += n;
        return static_cast<ssize_t>(n);
    };
    io.close = [](void* cookie) { return static_cast<FakeFile*>(cookie)->closeFails ? -1 : 0; };
    return fopencookie(&fake, "rb", io);
}

TEST(ReadDumpFileTest, TellsAReadErrorFromTheEnd) {
    struct Case {
        const char* name;
        FakeFile file;
        FileRead result;
        std::uint32_t length;
    };
    const Case cases[] = {
        {"whole file", {10, false, false}, FileRead::Ok, 10},
        {"longer than the block", {70000, false, false}, FileRead::Ok, 65536},
        {"empty", {0, false, false}, FileRead::Failed, 0},
        {"error before any byte", {0, true, false}, FileRead::Failed, 0},
        {"error after some bytes", {100, true, false}, FileRead::Failed, 100},
        {"close fails", {10, false, true}, FileRead::CloseFailed, 10},
        {"error and close fails", {10, true, true}, FileRead::Failed, 10},
    };
    std::vector<unsigned char> block(DataBlockSize);
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        std::FILE* file = openFake(c.file);
        ASSERT_NE(file, nullptr);
        std::uint32_t length = 12345;
        EXPECT_EQ(ReadDumpFile(file, block.data(), DataBlockSize, length), c.result);
        EXPECT_EQ(length, c.length);
    }
}

class TransmitOutcome : public FlowTest, public ::testing::WithParamInterface<Outcome> {};

TEST_P(TransmitOutcome, ReportsAndCleansUp) {
    const Outcome& o = GetParam();
    const MMRESULT failsWith = o.portGone ? MMSYSERR_NOERROR : o.openResult;
    openWithPorts({{.name = "Sim In"}}, {{.name = "Sim Out", .openResult = failsWith, .openReason = o.openReason}});
    if (o.inChosen) choose(form->ComboBox2, 0);
    choose(form->ComboBox1, 0);
    if (o.stalled) sim.setOutputStalled(0, true);
    if (o.refusing) sim.setOutputRefusing(0, true);
    if (o.portGone) sim.removeOutput(0);
    scriptDialogs();

    QString name;
    switch (o.answer) {
    case Outcome::Cancel: break;
    case Outcome::File: {
        name = path("dump.ZUX");
        ASSERT_TRUE(zuxtest::writeFile(name, o.content));
        break;
    }
    case Outcome::Missing: name = path("no such dump.ZUX"); break;
    case Outcome::Folder: name = dir.path(); break;
    }
    if (!name.isEmpty()) openDialog->answer = name;
    if (o.noMemory) zuxtest::failNextBlockTakes(1);
    zuxtest::BoxSeen box;
    if (o.openResult != MMSYSERR_NOERROR) zuxtest::answerMessageBox(box);

    ASSERT_EQ(openFilesIn(dir.path()), 0);
    ASSERT_TRUE(form->Button1->isEnabled());
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    zuxtest::failNextBlockTakes(0);

    QStringList expected{"TRANSMIT:start"};
    for (const QString& line : o.lines) expected << QString(line).replace("%f", name);
    EXPECT_EQ(log(), expected);
    EXPECT_EQ(openFilesIn(dir.path()), 0);  // the file is closed on every path
    EXPECT_EQ(sim.capturedBytes(0), Bytes(o.sent.begin(), o.sent.end()));
    EXPECT_FALSE(sim.outputOpen(0));
    if (o.openResult != MMSYSERR_NOERROR) {
        EXPECT_EQ(box.caption, "error");
        const QString reason = QString::fromUtf8(o.openReason);
        EXPECT_EQ(box.text, errorTextOf(o.openResult) + (reason.isEmpty() ? "" : "\n" + reason));
    }
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_EQ(form->Button2->isEnabled(), o.inChosen);
    EXPECT_EQ(DataBuf, nullptr);
}

INSTANTIATE_TEST_SUITE_P(, TransmitOutcome, ::testing::ValuesIn(outcomes()), CaseName());

using TransmitTest = FlowTest;

TEST_F(TransmitTest, TheRealDialogOffersBothFiltersAndRemembersTheLastChoice) {
    openWithOnePortEach(false, true);
    const QString file = path("song.syx");
    ASSERT_TRUE(zuxtest::writeFile(file, kDump));
    const QStringList filters{QString::fromUtf8("ZUXファイル (*.ZUX)"), QString::fromUtf8("syxファイル (*.syx)")};

    QStringList offered;
    QString firstFilter;
    zuxtest::whenModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        offered = dialog->nameFilters();
        firstFilter = dialog->selectedNameFilter();
        dialog->selectNameFilter(filters[1]);
        zuxtest::typeIntoFileDialog(file);
    }, zuxtest::isFileDialog);
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_EQ(offered, filters);
    EXPECT_EQ(firstFilter, filters[0]);
    EXPECT_EQ(log().last(), QStringLiteral("TRANSMIT:completed(9byte)"));
    EXPECT_EQ(sim.capturedBytes(0), Bytes(kDump.begin(), kDump.end()));

    QString againFilter;
    QStringList againFiles;
    zuxtest::whenModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        againFilter = dialog->selectedNameFilter();
        againFiles = dialog->selectedFiles();
        dialog->reject();
    }, zuxtest::isFileDialog);
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    EXPECT_EQ(againFilter, filters[1]);
    EXPECT_EQ(againFiles, QStringList{file});
    EXPECT_EQ(log().mid(log().size() - 2), (QStringList{"TRANSMIT:start", "TRANSMIT:canceled"}));
}

TEST_F(TransmitTest, MidiMapperOpensTheFirstOutput) {
    openWithPorts({}, {{"Out A"}, {"Out B"}});
    const int mapper = form->ComboBox1->count() - 1;
    ASSERT_EQ(form->ComboBox1->itemText(mapper), "MIDI Mapper");
    choose(form->ComboBox1, mapper);
    scriptDialogs();
    const QString file = path("dump.ZUX");
    ASSERT_TRUE(zuxtest::writeFile(file, kDump));
    openDialog->answer = file;
    QTest::mouseClick(form->Button1, Qt::LeftButton);

    EXPECT_EQ(DevId, MIDI_MAPPER);
    EXPECT_EQ(sim.capturedBytes(0), Bytes(kDump.begin(), kDump.end()));
    EXPECT_TRUE(sim.capturedBytes(1).empty());
    EXPECT_FALSE(form->Button2->isEnabled());  // no input to receive from
}

TEST_F(TransmitTest, TheWindowKeepsWorkingWhileThePortIsBusy) {
    openWithOnePortEach(true, true);
    sim.setOutputStalled(0, true);
    scriptDialogs();
    const QString file = path("dump.ZUX");
    ASSERT_TRUE(zuxtest::writeFile(file, kDump));
    openDialog->answer = file;

    // Runs only if events are handled during the wait; then lets the port go on.
    bool busyCursor = false;
    QTimer::singleShot(300, [&] {
        const QCursor* cursor = QApplication::overrideCursor();
        busyCursor = cursor && cursor->shape() == Qt::WaitCursor;
        sim.setOutputStalled(0, false);
    });
    QTest::mouseClick(form->Button1, Qt::LeftButton);

    EXPECT_TRUE(busyCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(log().last(), "TRANSMIT:completed(9byte)");
    EXPECT_EQ(sim.capturedBytes(0), Bytes(kDump.begin(), kDump.end()));
}

}  // namespace
}  // namespace zuxtest
