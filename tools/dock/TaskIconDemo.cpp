// Puts a progress on the program's task icon and keeps it there until
// ended, for the picture of a dock (tools/dock/picture.sh):
//   zux_task_icon_demo 0.6
#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>

#include "app/TaskIcon.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) return 2;
    const double progress = std::atof(argv[1]);
    TaskIcon icon;
    icon.showProgress(progress);
    // A dock started after us learns it on the next round.
    QTimer again;
    QObject::connect(&again, &QTimer::timeout, [&] { icon.showProgress(progress); });
    again.start(1000);
    return app.exec();
}
