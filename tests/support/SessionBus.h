// A private session bus for tests that watch what the program tells the
// desktop, and a recorder of the launcher-entry signals sent on it.
//
//   zuxtest::PrivateSessionBus bus;
//   ASSERT_TRUE(bus.start()) << bus.error().toStdString();  // dbus-daemon --session
//   zuxtest::LauncherEntryRecorder updates(bus.connect("watcher"));
//   TaskIcon icon(bus.connect("program"), "some.Id");
//   icon.showProgress(0.5);
//   ASSERT_EQ(updates.settle(1), 1);  // one came, and no other after it
//
// QDBusConnection::sessionBus() is opened once per process from
// DBUS_SESSION_BUS_ADDRESS: code that uses it sees this bus only when
// exportAddress() ran before anything in the process touched the session bus
// (ctest runs each test in a process of its own).
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <chrono>

namespace zuxtest {

class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    // Closes the connections made here, then stops the daemon.
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Starts the daemon and waits for its address; false (see error()) when
    // dbus-daemon is missing or does not answer within 10 s.
    bool start();
    // Ends the daemon, as when a desktop session goes away: the connections
    // made here stay open, to find their bus gone.
    void stop();

    QString address() const { return address_; }
    QString error() const { return error_; }
    // A new connection to this bus under a name unique in the process,
    // closed with the bus.
    QDBusConnection connect(const QString& name);
    // Points DBUS_SESSION_BUS_ADDRESS here (see above), and back when the bus ends.
    void exportAddress();

private:
    QProcess daemon_;
    QString address_;
    QString error_;
    QStringList connections_;
    bool exported_ = false;
    QByteArray oldAddress_;
    bool hadOldAddress_ = false;
};

// Every com.canonical.Unity.LauncherEntry.Update that reaches `bus`, from any
// sender and object path, in the order received.
class LauncherEntryRecorder : public QObject {
    Q_OBJECT
public:
    struct Update {
        QString path;
        QString appUri;
        QVariantMap properties;
        std::chrono::steady_clock::time_point received;
    };

    // Returns once the bus has taken the subscription, so nothing sent after
    // the constructor is missed.
    explicit LauncherEntryRecorder(QDBusConnection bus);
    bool subscribed() const { return subscribed_; }

    const QList<Update>& updates() const { return updates_; }
    // Runs the event loop until `count` updates are in; false after timeout.
    bool waitForCount(qsizetype count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Waits for `expected` updates (as waitForCount), then runs the event loop
    // for `quiet` more to let any extra one in, and returns how many came.
    qsizetype settle(qsizetype expected,
                     std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // The state a dock would draw: every update's properties applied in turn.
    QVariantMap merged() const;

private slots:
    void onUpdate(const QDBusMessage& message);

private:
    QDBusConnection bus_;
    QList<Update> updates_;
    bool subscribed_ = false;
};

}  // namespace zuxtest
