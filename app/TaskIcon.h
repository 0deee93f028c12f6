// The program's icon in the dock or task bar: a progress bar, a count and a
// call for attention drawn over it. Docks learn them from the launcher-entry
// signal on the session bus, matched to the program by its desktop entry.
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

    // fraction is clamped to 0..1. Updates closer together than
    // kProgressInterval are held back, and the latest of them is sent when
    // the interval is over or with hideProgress(), so the last value is never lost.
    void showProgress(double fraction);
    void hideProgress();
    void showCount(qint64 count);
    void hideCount();
    void setUrgent(bool urgent);

    // "application://<desktop ID>.desktop", as docks expect.
    QString appUri() const { return appUri_; }

private:
    void sendProgress(bool visible);
    void send(const QVariantMap& properties);

    QDBusConnection bus_;
    QString appUri_;
    QTimer heldBack_;  // runs while a progress value waits for its turn
    QElapsedTimer sinceProgress_;
    double progress_ = 0.0;
    bool progressVisible_ = false;
    bool countVisible_ = false;
    bool urgent_ = false;
};
