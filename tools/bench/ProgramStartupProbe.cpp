// The program's own start-up steps up to its window on screen, then exit, so
// the start-up benchmark can time them.
#include "ShownProbe.h"
#include "app/Startup.h"
#include "app/Unit1.h"
#include "midi/Transport.h"
#include "vcl/Application.h"

int main(int argc, char** argv) {
    vcl::TApplication application(argc, argv);
    midi::installSystemTransports();
    CreateMainWindow(application);
    Form1->show();
    return ReportWhenShown(*Form1);
}
