// For the start-up benchmark: tells the parent, on standard output, the
// moment a window is on screen, then ends the program.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>

inline int ReportWhenShown(QWidget& window) {
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            poll.stop();
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    });
    poll.start();
    return QApplication::exec();
}
