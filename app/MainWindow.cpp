// Start-up's steps before the message loop, apart from RunZuxFiler so the
// tests can make the window exactly this way without the MIDI systems.
#include <QFont>
#include <QGuiApplication>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "vcl/Application.h"

void CreateMainWindow(vcl::TApplication& application) {
    application.Initialize();
    application.Title = QStringLiteral("MIDI music sequencer ZUX data filer");
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZUX_APP_ID));
    // The window's controls are built in the window's own face: with it as
    // the default meanwhile, no other face is loaded just to lay out the
    // memo's empty document. Boxes and dialogs keep the desktop's face.
    const QFont desktopFace = QGuiApplication::font();
    QGuiApplication::setFont(QFont(QStringLiteral("IPAPGothic")));
    application.CreateForm(Form1);
    QGuiApplication::setFont(desktopFace);
}
