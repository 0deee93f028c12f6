// The yardstick of the start-up benchmark: the least a Qt Widgets program
// does to show a window.
#include <QApplication>
#include <QWidget>

#include "ShownProbe.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.show();
    return ReportWhenShown(window);
}
