// Start-up's steps before the message loop, apart from RunZuxFiler so the
// tests can make the window exactly this way without the MIDI systems.
#include <QGuiApplication>

#include "app/Startup.h"
#include "app/Unit1.h"
#include "vcl/Application.h"

void CreateMainWindow(vcl::TApplication& application) {
    application.Initialize();
    application.Title = QStringLiteral("MIDI music sequencer ZUX data filer");
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(ZUX_APP_ID));
    application.CreateForm(Form1);
}
