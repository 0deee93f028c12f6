#include "support/SessionBus.h"

#include <QDBusArgument>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>
#include <atomic>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace zuxtest {

namespace {

const QString kInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");

QString uniqueConnectionName(const QString& name) {
    static std::atomic<int> serial{0};
    return QStringLiteral("zuxtest-%1-%2").arg(name).arg(++serial);
}

}  // namespace

PrivateSessionBus::~PrivateSessionBus() {
    for (const QString& name : std::as_const(connections_)) QDBusConnection::disconnectFromBus(name);
    stop();
}

bool PrivateSessionBus::start() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon is not installed (tools/install-deps.sh test)");
        return false;
    }
    daemon_.setProgram(program);
    // --nofork keeps it our child, so stop() ends it; the address comes on stdout.
    daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                          QStringLiteral("--print-address=1")});
    // Its complaints (a container may refuse it a higher file limit) are
    // kept for error(), out of the tests' own standard error.
    daemon_.setProcessChannelMode(QProcess::SeparateChannels);
    // Dies with the test, also when a timeout kills it, so no daemon outlives the tests.
    const pid_t parent = ::getpid();
    daemon_.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(127);
    });
    daemon_.start(QIODevice::ReadOnly);
    QElapsedTimer clock;
    clock.start();
    QByteArray out;
    while (!out.contains('\n') && clock.elapsed() < 10000) {
        if (!daemon_.waitForReadyRead(static_cast<int>(10000 - clock.elapsed()))) break;
        out += daemon_.readAllStandardOutput();
    }
    address_ = QString::fromUtf8(out.left(out.indexOf('\n'))).trimmed();
    if (address_.isEmpty()) {
        error_ = QStringLiteral("dbus-daemon gave no address: ") + daemon_.errorString() +
                 QLatin1Char('\n') + QString::fromLocal8Bit(daemon_.readAllStandardError());
        stop();
        return false;
    }
    return true;
}

void PrivateSessionBus::stop() {
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }
    if (exported_) {
        if (hadOldAddress_)
            qputenv("DBUS_SESSION_BUS_ADDRESS", oldAddress_);
        else
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        exported_ = false;
    }
}

QDBusConnection PrivateSessionBus::connect(const QString& name) {
    const QString unique = uniqueConnectionName(name);
    connections_ << unique;
    return QDBusConnection::connectToBus(address_, unique);
}

void PrivateSessionBus::exportAddress() {
    if (!exported_) {
        hadOldAddress_ = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
        oldAddress_ = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        exported_ = true;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
}

LauncherEntryRecorder::LauncherEntryRecorder(QDBusConnection bus) : bus_(std::move(bus)) {
    if (!bus_.isConnected()) return;
    subscribed_ = bus_.connect(QString(), QString(), kInterface, QStringLiteral("Update"), this,
                               SLOT(onUpdate(QDBusMessage)));
    // The bus handles one connection's messages in order: once it has answered
    // this call, it has the match rule sent before it.
    const QDBusMessage ping = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
    subscribed_ = subscribed_ && bus_.call(ping).type() == QDBusMessage::ReplyMessage;
}

bool LauncherEntryRecorder::waitForCount(qsizetype count, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor([&] { return updates_.size() >= count; },
                           static_cast<int>(timeout.count()));
}

qsizetype LauncherEntryRecorder::settle(qsizetype expected, std::chrono::milliseconds quiet) {
    waitForCount(expected);
    QTest::qWait(static_cast<int>(quiet.count()));
    return updates_.size();
}

QVariantMap LauncherEntryRecorder::merged() const {
    QVariantMap state;
    for (const Update& u : updates_) state.insert(u.properties);
    return state;
}

void LauncherEntryRecorder::onUpdate(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    Update update;
    update.path = message.path();
    update.received = std::chrono::steady_clock::now();
    if (args.size() == 2) {
        update.appUri = args[0].toString();
        update.properties = qdbus_cast<QVariantMap>(args[1]);
    }
    // Also one of the wrong shape, for the test to see.
    updates_ << update;
}

}  // namespace zuxtest
