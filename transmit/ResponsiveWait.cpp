#include "transmit/ResponsiveWait.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QThread>

BusyCursor::BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
BusyCursor::~BusyCursor() { QApplication::restoreOverrideCursor(); }

bool WaitResponsively(std::chrono::milliseconds limit, const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done()) return true;
        if (clock.elapsed() >= limit.count()) return false;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(2);
    }
}

void PauseResponsively(std::chrono::milliseconds duration) {
    WaitResponsively(duration, [] { return false; });
}
