// Writes the README's picture of the window: zux_screenshot <file.png>.
// The window is made as start-up makes it, offscreen, and shown with ports
// chosen and the log of one backup, as a user would see it.
#include <QApplication>
#include <QComboBox>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "vcl/Application.h"
#include "vcl/Memo.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <file.png>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    vcl::TApplication application(argc, argv);
    CreateMainWindow(application);

    Form1->ComboBox2->clear();
    Form1->ComboBox2->addItem(QStringLiteral("USB MIDI Interface MIDI 1"), 0);
    Form1->ComboBox2->setCurrentIndex(0);
    Form1->ComboBox1->clear();
    Form1->ComboBox1->addItem(QStringLiteral("MIDI Mapper"), -1);
    Form1->ComboBox1->addItem(QStringLiteral("USB MIDI Interface MIDI 1"), 0);
    Form1->ComboBox1->setCurrentIndex(1);
    Form1->Button1->setEnabled(true);
    Form1->Button2->setEnabled(true);
    for (const char* line : {"RECEIVE:waiting", "RECEIVE:completed(24576byte)",
                             "RECEIVE:saved(/home/me/zux/songs.ZUX)"})
        vcl::MemoLinesAdd(Form1->Memo1, QString::fromLatin1(line));

    Form1->show();
    QApplication::processEvents();
    if (!Form1->grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
