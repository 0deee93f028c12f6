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
    connect(&heldBack_, &QTimer::timeout, this, [this] { sendProgress(true); });
}

TaskIcon::~TaskIcon() {
    QVariantMap reset;
    if (progressVisible_) reset.insert(QStringLiteral("progress-visible"), false);
    if (countVisible_) reset.insert(QStringLiteral("count-visible"), false);
    if (urgent_) reset.insert(QStringLiteral("urgent"), false);
    if (!reset.isEmpty()) send(reset);
}

void TaskIcon::showProgress(double fraction) {
    progress_ = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    if (heldBack_.isActive()) return;  // its turn comes, with this value
    const auto interval = std::chrono::milliseconds(kProgressInterval).count();
    if (progressVisible_ && sinceProgress_.isValid() && sinceProgress_.elapsed() < interval) {
        heldBack_.start(static_cast<int>(interval - sinceProgress_.elapsed()));
        return;
    }
    sendProgress(true);
}

void TaskIcon::hideProgress() {
    if (!progressVisible_) return;
    heldBack_.stop();
    // Carries the latest value too, held back or not.
    sendProgress(false);
}

void TaskIcon::showCount(qint64 count) {
    countVisible_ = true;
    send({{QStringLiteral("count"), count}, {QStringLiteral("count-visible"), true}});
}

void TaskIcon::hideCount() {
    if (!countVisible_) return;
    countVisible_ = false;
    send({{QStringLiteral("count-visible"), false}});
}

void TaskIcon::setUrgent(bool urgent) {
    if (urgent == urgent_) return;
    urgent_ = urgent;
    send({{QStringLiteral("urgent"), urgent}});
}

void TaskIcon::sendProgress(bool visible) {
    progressVisible_ = visible;
    sinceProgress_.start();
    // Both properties each time, so a dock started in between is right at once.
    send({{QStringLiteral("progress"), progress_}, {QStringLiteral("progress-visible"), visible}});
}

void TaskIcon::send(const QVariantMap& properties) {
    // Without a bus (no desktop session, or it went away) there is nobody to
    // tell, and Qt would complain on standard error for every message.
    if (!bus_.isConnected()) return;
    QDBusMessage update = QDBusMessage::createSignal(kPath, kInterface, kMember);
    update << appUri_ << properties;
    bus_.send(update);
}
