// Saving a received dump: the file writer on its own, then the outcomes as the
// window reports them.
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>

#include "receive/DumpFile.h"
#include "support/TestFiles.h"
#include "gui/FlowFixture.h"

namespace zuxtest {
namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeWithMode(const QString& path, const QByteArray& content, mode_t mode) {
    ASSERT_TRUE(zuxtest::writeFile(path, content));
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), mode), 0);
}

mode_t modeOf(const QString& path) {
    struct stat st {};
    stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

// Files in `dir` besides the ones named.
QStringList leftovers(const QString& dir) {
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Lets the process write at most `bytes` into any file while alive; a write
// beyond fails instead of killing the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

const QByteArray kOld = "the only copy of an older dump";

QByteArray someBytes(int size) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i) b[i] = static_cast<char>(i % 251);
    return b;
}

DumpWrite writeDump(const QString& path, const QByteArray& data) {
    return WriteDumpFile(path, reinterpret_cast<const unsigned char*>(data.constData()),
                         static_cast<std::size_t>(data.size()));
}

TEST(DumpFileTest, NewFileHoldsExactlyTheBytesWithTheUsualMode) {
    QTemporaryDir dir;
    const mode_t oldMask = umask(027);  // not the common 022, so a fixed mode shows
    for (int size : {0, 1, 65536}) {
        const QString path = dir.filePath(QStringLiteral("new%1.ZUX").arg(size));
        EXPECT_EQ(writeDump(path, someBytes(size)), DumpWrite::Saved);
        EXPECT_EQ(readAll(path), someBytes(size));
        EXPECT_EQ(modeOf(path), 0640u);
    }
    umask(oldMask);
    EXPECT_EQ(leftovers(dir.path()).size(), 3);
}

TEST(DumpFileTest, ReplacedFileKeepsItsModeAndLink) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.ZUX");
    writeWithMode(path, kOld, 0640);
    ASSERT_EQ(writeDump(path, someBytes(100)), DumpWrite::Saved);
    EXPECT_EQ(readAll(path), someBytes(100));
    EXPECT_EQ(modeOf(path), 0640u);

    const QString link = dir.filePath("link.ZUX");
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_EQ(writeDump(link, someBytes(7)), DumpWrite::Saved);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(path), someBytes(7));
}

// Any name the folder takes can be saved; a name it refuses is one that
// cannot be opened, and nothing is left behind.
TEST(DumpFileTest, NamesUpToTheLimitSaveAndRefusedNamesCannotOpen) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("a folder"));
    struct Case {
        QString name;
        DumpWrite result;
    } cases[] = {
        {QString(248, 'n'), DumpWrite::Saved},
        {QString(251, 'n') + ".ZUX", DumpWrite::Saved},  // 255 bytes, the most a name holds
        {QString(252, 'n') + ".ZUX", DumpWrite::CannotOpen},
        {"missing/x.ZUX", DumpWrite::CannotOpen},
        {"a folder", DumpWrite::CannotOpen},
    };
    QStringList saved{};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.size());
        EXPECT_EQ(writeDump(dir.filePath(c.name), someBytes(10)), c.result);
        if (c.result == DumpWrite::Saved) {
            EXPECT_EQ(readAll(dir.filePath(c.name)), someBytes(10));
            saved << c.name;
        }
    }
    saved.sort();
    EXPECT_EQ(leftovers(dir.path()), saved);
}

// A link to a file not made yet: opening the link for writing would make
// the file, and so does saving; the link stays a link.
TEST(DumpFileTest, ALinkToNothingYetGetsItsTargetMade) {
    QTemporaryDir dir;
    const QString link = dir.filePath("latest.ZUX");
    ASSERT_TRUE(QFile::link(dir.filePath("backups/2026.ZUX"), link));
    EXPECT_EQ(writeDump(link, someBytes(5)), DumpWrite::CannotOpen);  // no such folder yet
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    ASSERT_TRUE(QDir(dir.path()).mkdir("backups"));
    EXPECT_EQ(writeDump(link, someBytes(5)), DumpWrite::Saved);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(dir.filePath("backups/2026.ZUX")), someBytes(5));
    EXPECT_EQ(leftovers(dir.filePath("backups")), QStringList{"2026.ZUX"});
}

TEST(DumpFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    QTemporaryDir dir;
    const QString path = dir.filePath("old.ZUX");
    writeWithMode(path, kOld, 0644);

    // In a child, so the limit cannot touch anything else this process writes.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileSizeLimit limit(1000);
        _exit(writeDump(path, someBytes(65536)) == DumpWrite::CannotMake ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readAll(path), kOld);
    EXPECT_EQ(leftovers(dir.path()), QStringList{"old.ZUX"});
}

// The window: a marker dump received, then the save as the user answers it.
class SavingTest : public FlowTest {
protected:
    const Bytes dump = {0xF0, 0x7D, 0x10, 0x7E, 0x0D, 0x0A, 0x1A, 0x00, 0xF7};

    void receive() {
        QTest::mouseClick(form->Button2, Qt::LeftButton);
        ASSERT_TRUE(sim.inject(0, dump));
    }
    void expectIdleControls(bool outChosen) {
        EXPECT_FALSE(form->BitBtn1->isEnabled());
        EXPECT_TRUE(form->Button2->isEnabled());
        EXPECT_TRUE(form->Button3->isEnabled());
        EXPECT_EQ(form->Button1->isEnabled(), outChosen);
    }
    QByteArray dumpBytes() const {
        return QByteArray(reinterpret_cast<const char*>(dump.data()), qsizetype(dump.size()));
    }
};

TEST_F(SavingTest, TheRealDialogAddsTheExtensionAndTheLineQuotesTheFullPath) {
    openWithOnePortEach(true, false);
    QStringList logAtDialog;
    zuxtest::whenModal([&](QWidget*) {
        logAtDialog = log();
        zuxtest::typeIntoFileDialog(path("backup"));
    }, zuxtest::isFileDialog);
    receive();
    ASSERT_TRUE(waitEnded());

    const QString saved = path("backup.ZUX");
    EXPECT_EQ(logAtDialog, (QStringList{"RECEIVE:waiting", "RECEIVE:completed(9byte)"}));
    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:completed(9byte)",
                                  "RECEIVE:saved(" + saved + ")"}));
    EXPECT_EQ(readAll(saved), dumpBytes());
    expectIdleControls(false);
}

TEST_F(SavingTest, TheRealDialogAsksBeforeReplacingAFile) {
    openWithOnePortEach();
    const QString old = path("old.ZUX");
    writeWithMode(old, kOld, 0644);
    bool asked = false;
    zuxtest::whenModal([&](QWidget* w) {
        asked = true;
        qobject_cast<QMessageBox*>(w)->button(QMessageBox::Yes)->click();
    }, zuxtest::isMessageBox);
    zuxtest::typeIntoFileDialog(old);
    receive();
    ASSERT_TRUE(waitEnded());

    EXPECT_TRUE(asked);
    EXPECT_EQ(log().last(), "RECEIVE:saved(" + old + ")");
    EXPECT_EQ(readAll(old), dumpBytes());
}

struct SaveOutcome {
    const char* name;
    std::optional<QString> answer = std::nullopt;  // relative to the test folder; none: cancel
    bool limitFileSize = false;
    const char* line = "";
    bool outChosen = false;
};

class SaveOutcomes : public SavingTest, public ::testing::WithParamInterface<SaveOutcome> {};

void PrintTo(const SaveOutcome& o, std::ostream* os) { *os << o.name; }

TEST_P(SaveOutcomes, ReportAndLeaveTheOldFile) {
    const SaveOutcome& o = GetParam();
    openWithOnePortEach(true, o.outChosen);
    scriptDialogs();
    writeWithMode(path("old.ZUX"), kOld, 0644);
    if (o.answer) saveDialog->answer = path(*o.answer);
    std::optional<FileSizeLimit> limit;
    if (o.limitFileSize) saveDialog->onExecute = [&] { limit.emplace(4); };

    receive();
    ASSERT_TRUE(waitEnded());
    limit.reset();

    EXPECT_EQ(log(), (QStringList{"RECEIVE:waiting", "RECEIVE:completed(9byte)", o.line}));
    EXPECT_EQ(readAll(path("old.ZUX")), kOld);
    EXPECT_EQ(leftovers(dir.path()), QStringList{"old.ZUX"});
    expectIdleControls(o.outChosen);
}

INSTANTIATE_TEST_SUITE_P(
    , SaveOutcomes,
    ::testing::Values(
        SaveOutcome{.name = "Cancel", .line = "RECEIVE:saving was canceled", .outChosen = true},
        SaveOutcome{.name = "NoSuchFolder", .answer = QString("gone/new.ZUX"),
                    .line = "RECEIVE:can not open the file"},
        SaveOutcome{.name = "WriteFails", .answer = QString("old.ZUX"), .limitFileSize = true,
                    .line = "RECEIVE:can not make the file", .outChosen = true}),
    CaseName());

}  // namespace
}  // namespace zuxtest
