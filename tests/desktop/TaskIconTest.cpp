// The task icon's signals as a dock receives them, on a private session bus,
// and its silence where there is no bus.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include <unistd.h>

#include "app/TaskIcon.h"
#include "support/QtPrinters.h"
#include "support/SessionBus.h"

namespace {

using namespace std::chrono_literals;
using zuxtest::LauncherEntryRecorder;
using zuxtest::PrivateSessionBus;

class TaskIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        recorder = std::make_unique<LauncherEntryRecorder>(bus.connect(QStringLiteral("dock")));
        ASSERT_TRUE(recorder->subscribed());
        icon = std::make_unique<TaskIcon>(bus.connect(QStringLiteral("program")),
                                          QStringLiteral(ZUX_APP_ID));
    }

    QList<double> progressValues() const {
        QList<double> out;
        for (const auto& u : recorder->updates()) out << u.properties.value("progress").toDouble();
        return out;
    }

    QList<bool> progressVisible() const {
        QList<bool> out;
        for (const auto& u : recorder->updates()) out << u.properties.value("progress-visible").toBool();
        return out;
    }

    PrivateSessionBus bus;
    std::unique_ptr<LauncherEntryRecorder> recorder;
    std::unique_ptr<TaskIcon> icon;
};

// What a dock holds after an update: the icon sends all of it each time.
QVariantMap state(double progress, bool progressVisible, qint64 count, bool countVisible,
                  bool urgent) {
    return {{"progress", progress},   {"progress-visible", progressVisible},
            {"count", count},         {"count-visible", countVisible},
            {"urgent", urgent}};
}

TEST_F(TaskIconTest, ProgressRisesAndEndsHidden) {
    // Farther apart than the rate limit, so every value goes out.
    for (double v : {0.0, 0.25, 0.5, 0.75, 1.0}) {
        icon->showProgress(v);
        QTest::qWait(130);
    }
    icon->hideProgress();
    ASSERT_EQ(recorder->settle(6), 6);

    EXPECT_EQ(progressValues(), (QList<double>{0.0, 0.25, 0.5, 0.75, 1.0, 1.0}));
    EXPECT_EQ(progressVisible(), (QList<bool>{true, true, true, true, true, false}));
    for (const auto& u : recorder->updates()) {
        // Docks match the entry by this URI: it must name the installed desktop entry.
        EXPECT_EQ(u.appUri, "application://" ZUX_APP_ID ".desktop");
        EXPECT_EQ(u.path, "/");
        EXPECT_EQ(u.properties.value("progress").metaType(), QMetaType::fromType<double>());
    }
    EXPECT_TRUE(QFile::exists(QStringLiteral(ZUX_SOURCE_DIR "/app/" ZUX_APP_ID ".desktop")));
}

TEST_F(TaskIconTest, OutOfRangeProgressIsClamped) {
    icon->showProgress(-0.5);
    QTest::qWait(130);
    icon->showProgress(7.0);
    QTest::qWait(130);
    icon->showProgress(std::nan(""));
    ASSERT_EQ(recorder->settle(3), 3);
    EXPECT_EQ(progressValues(), (QList<double>{0.0, 1.0, 0.0}));
}

TEST_F(TaskIconTest, ABurstSendsTheFirstValueAtOnceAndTheLastOneAfterTheInterval) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 1; i <= 100; ++i) icon->showProgress(i / 100.0);
    ASSERT_EQ(recorder->settle(2), 2);
    EXPECT_EQ(progressValues(), (QList<double>{0.01, 1.0}));
    // Nothing arrives before it is sent, however loaded the machine: the
    // held-back value cannot be here before the interval (less the timer's
    // 5 % slack) is over.
    EXPECT_GE(recorder->updates()[1].received - start, TaskIcon::kProgressInterval * 9 / 10);
}

TEST_F(TaskIconTest, AStreamOfValuesIsThinnedToTheRateLimit) {
    // A transfer reports every few milliseconds for a second.
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= 100; ++i) {
        icon->showProgress(i / 100.0);
        QTest::qWait(10);
    }
    const auto elapsed = std::chrono::milliseconds(clock.elapsed());
    // The last value always goes out, at most one interval after the stream.
    ASSERT_TRUE(QTest::qWaitFor([&] { return progressValues().contains(1.0); }, 5000));
    const qsizetype count = recorder->settle(0);

    EXPECT_LE(count, elapsed / TaskIcon::kProgressInterval + 2) << "over " << elapsed.count() << " ms";
    // Held-back values go out while the stream runs, not only after it ends.
    EXPECT_GE(count, 5);
    const QList<double> values = progressValues();
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(values.last(), 1.0);
}

TEST(TaskIconHeldBack, TheHeldBackValueGoesOutWithTheNextUpdateAndNothingFollowsIt) {
    struct Case {
        const char* next;
        std::function<void(TaskIcon&)> call;
        QVariantMap sent;
    };
    const Case cases[] = {
        {"hiding the progress", [](TaskIcon& i) { i.hideProgress(); }, state(0.9, false, 0, false, false)},
        {"a count", [](TaskIcon& i) { i.showCount(7); }, state(0.9, true, 7, true, false)},
        {"urgency", [](TaskIcon& i) { i.setUrgent(true); }, state(0.9, true, 0, false, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.next);
        PrivateSessionBus bus;  // one each, so no case sees another's updates
        ASSERT_TRUE(bus.start()) << bus.error().toStdString();
        LauncherEntryRecorder dock(bus.connect(QStringLiteral("dock")));
        ASSERT_TRUE(dock.subscribed());
        TaskIcon icon(bus.connect(QStringLiteral("program")), QStringLiteral(ZUX_APP_ID));

        icon.showProgress(0.1);
        icon.showProgress(0.9);  // held back by the rate limit
        c.call(icon);
        ASSERT_EQ(dock.settle(2), 2);
        EXPECT_EQ(dock.updates()[0].properties, state(0.1, true, 0, false, false));
        EXPECT_EQ(dock.updates()[1].properties, c.sent);
    }
}

TEST_F(TaskIconTest, CountAndUrgentAreCarried) {
    icon->showCount(3);
    icon->showCount(5'000'000'000);  // int64 on the bus, as docks read it
    icon->setUrgent(true);
    icon->setUrgent(true);  // no change: nothing sent
    icon->hideCount();
    icon->hideCount();
    icon->setUrgent(false);
    ASSERT_EQ(recorder->settle(5), 5);

    const QVariantMap expected[] = {
        state(0.0, false, 3, true, false),
        state(0.0, false, 5'000'000'000, true, false),
        state(0.0, false, 5'000'000'000, true, true),
        state(0.0, false, 5'000'000'000, false, true),
        state(0.0, false, 5'000'000'000, false, false),
    };
    for (qsizetype i = 0; i < std::ssize(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(recorder->updates()[i].properties, expected[i]);
    }
    EXPECT_EQ(recorder->updates()[0].properties.value("count").metaType(), QMetaType::fromType<qlonglong>());
}

TEST_F(TaskIconTest, ADestroyedIconTakesBackWhatItShowed) {
    icon->showProgress(0.4);
    icon->showCount(2);
    icon->setUrgent(true);
    icon.reset();
    ASSERT_EQ(recorder->settle(4), 4);
    EXPECT_EQ(recorder->updates().last().properties, state(0.4, false, 2, false, false));
}

// The program's own icon (the default constructor) speaks on the session bus
// under the installed entry's name. A process of its own, where the session
// bus is opened from DBUS_SESSION_BUS_ADDRESS set by the fixture.
TEST(TaskIconOnTheSessionBus, TheProgramsIconIsHeardThere) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PrivateSessionBus bus;
            if (!bus.start()) std::exit(2);
            bus.exportAddress();
            LauncherEntryRecorder dock(bus.connect(QStringLiteral("dock")));
            TaskIcon icon;
            icon.showProgress(0.5);
            const bool heard = dock.subscribed() && dock.waitForCount(1) &&
                               dock.updates()[0].appUri == "application://" ZUX_APP_ID ".desktop";
            if (!heard) std::fputs("no update with the program's app_uri\n", stderr);
            std::exit(heard ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// What `run` writes to standard error, Qt's messages included.
std::string stderrOf(const std::function<void()>& run) {
    std::fflush(stderr);
    std::FILE* caught = std::tmpfile();
    const int saved = ::dup(2);
    ::dup2(::fileno(caught), 2);
    run();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    std::string text;
    std::rewind(caught);
    for (int c; (c = std::fgetc(caught)) != EOF;) text += static_cast<char>(c);
    std::fclose(caught);
    return text;
}

// Ends a death test's child: status 0 when `run` printed nothing, else 1,
// with what it printed for the failure message.
[[noreturn]] void exitZeroIfSilent(const std::function<void()>& run) {
    const std::string printed = stderrOf(run);
    std::fputs(printed.c_str(), stderr);
    std::exit(printed.empty() ? 0 : 1);
}

// Where there is no session bus (a bare X server, a service account, the
// tests), the icon must cost nothing: no crash, and no Qt warning on standard
// error. Each case runs in a process of its own, since the session bus is
// opened once per process; that process's start-up may print, so only what
// the icon prints counts.
TEST(TaskIconWithoutBus, StaysSilent) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto useIt = [](TaskIcon& icon) {
        icon.showProgress(0.3);
        icon.showProgress(0.6);
        QTest::qWait(150);
        icon.showCount(4);
        icon.setUrgent(true);
        icon.hideProgress();
        icon.hideCount();
        QTest::qWait(50);
    };

    EXPECT_EXIT(exitZeroIfSilent([&] {
                    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zuxtest/bus");
                    TaskIcon icon;
                    useIt(icon);
                }),
                ::testing::ExitedWithCode(0), "")
        << "the session bus points nowhere";

    EXPECT_EXIT(exitZeroIfSilent([&] {
                    PrivateSessionBus bus;
                    if (!bus.start()) std::exit(2);
                    TaskIcon icon(bus.connect(QStringLiteral("program")), QStringLiteral(ZUX_APP_ID));
                    icon.showProgress(0.1);
                    bus.stop();  // the desktop session ends under the program
                    useIt(icon);
                }),
                ::testing::ExitedWithCode(0), "")
        << "the session bus goes away";
}

}  // namespace
