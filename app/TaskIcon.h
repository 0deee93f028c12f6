// The program's icon in the dock or task bar: a progress bar, a count and a
// call for attention drawn over it. Docks learn them from the launcher-entry
// signal on the session bus, matched to the program by its desktop entry;
// every signal carries all five properties.
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <chrono>

class TaskIcon : public QObject {
public:
    // At most one progress update in this time: a transfer reports far more
    // often than a dock can draw.
    static constexpr std::chrono::milliseconds kProgressInterval{100};

    // The session bus and the program's own desktop entry.
    explicit TaskIcon(QObject* parent = nullptr);
    // Any bus connection and desktop ID (the entry's file name without
    // ".desktop"). A connection that is not connected makes a silent no-op.
    TaskIcon(const QDBusConnection& bus, const QString& desktopId, QObject* parent = nullptr);
    // Takes back whatever is still shown.
    ~TaskIcon() override;

    // fraction is clamped to 0..1. A value that comes sooner than
    // kProgressInterval after the last update is held back; the latest one
    // goes out when the interval is over, or earlier with any other update
    // (hideProgress() included), so the last value is never lost.
    void showProgress(double fraction);
    void hideProgress();
    void showCount(qint64 count);
    void hideCount();
    void setUrgent(bool urgent);

    // "application://<desktop ID>.desktop", as docks expect.
    QString appUri() const { return appUri_; }

private:
    struct State {
        double progress = 0.0;
        bool progressVisible = false;
        qint64 count = 0;
        bool countVisible = false;
        bool urgent = false;
    };
    void send();

    QDBusConnection bus_;
    QString appUri_;
    State state_;
    QTimer heldBack_;  // runs while a progress value waits for its turn
    QElapsedTimer sinceSent_;
};
