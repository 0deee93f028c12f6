#include "app/TaskIcon.h"

#include <QDBusMessage>
#include <algorithm>
#include <cmath>

namespace {

// The launcher-entry protocol: docks listen for this signal from any sender
// and any object path, and match app_uri to their entries.
const QString kInterface = QStringLiteral("com.canonical.Unity.LauncherEntry");
const QString kMember = QStringLiteral("Update");
const QString kPath = QStringLiteral("/");

}  // namespace

TaskIcon::TaskIcon(QObject* parent)
    : TaskIcon(QDBusConnection::sessionBus(), QStringLiteral(ZUX_APP_ID), parent) {}

TaskIcon::TaskIcon(const QDBusConnection& bus, const QString& desktopId, QObject* parent)
    : QObject(parent),
      bus_(bus),
      appUri_(QStringLiteral("application://") + desktopId + QStringLiteral(".desktop")) {
    heldBack_.setSingleShot(true);
    connect(&heldBack_, &QTimer::timeout, this, [this] { send(); });
}

TaskIcon::~TaskIcon() {
    if (!state_.progressVisible && !state_.countVisible && !state_.urgent) return;
    state_.progressVisible = state_.countVisible = state_.urgent = false;
    send();
}

void TaskIcon::showProgress(double fraction) {
    state_.progress = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    if (heldBack_.isActive()) return;  // its turn comes, with this value
    const qint64 interval = std::chrono::milliseconds(kProgressInterval).count();
    if (state_.progressVisible && sinceSent_.isValid() && sinceSent_.elapsed() < interval) {
        heldBack_.start(static_cast<int>(interval - sinceSent_.elapsed()));
        return;
    }
    state_.progressVisible = true;
    send();
}

void TaskIcon::hideProgress() {
    if (!state_.progressVisible) return;
    state_.progressVisible = false;
    send();  // with the latest value too, held back or not
}

void TaskIcon::showCount(qint64 count) {
    state_.count = count;
    state_.countVisible = true;
    send();
}

void TaskIcon::hideCount() {
    if (!state_.countVisible) return;
    state_.countVisible = false;
    send();
}

void TaskIcon::setUrgent(bool urgent) {
    if (urgent == state_.urgent) return;
    state_.urgent = urgent;
    send();
}

void TaskIcon::send() {
    heldBack_.stop();  // this update carries the latest progress as well
    sinceSent_.start();
    // Without a bus (no desktop session, or it went away) there is nobody to tell.
    if (!bus_.isConnected()) return;
    // The whole state every time: a dock that coalesces fast updates keeps
    // only the last one, and a dock started in between is right at once.
    const QVariantMap properties = {
        {QStringLiteral("progress"), state_.progress},
        {QStringLiteral("progress-visible"), state_.progressVisible},
        {QStringLiteral("count"), state_.count},
        {QStringLiteral("count-visible"), state_.countVisible},
        {QStringLiteral("urgent"), state_.urgent},
    };
    QDBusMessage update = QDBusMessage::createSignal(kPath, kInterface, kMember);
    update << appUri_ << properties;
    bus_.send(update);
}
