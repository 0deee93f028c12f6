#include "app/Startup.h"

#include <exception>

#include "app/Unit1.h"
#include "midi/Transport.h"
#include "receive/Reception.h"
#include "vcl/Application.h"

int RunZuxFiler(int argc, char** argv) {
    vcl::TApplication application(argc, argv);
    try {
        // The port lists are filled when the window is created.
        midi::installSystemTransports();
        CreateMainWindow(application);
        application.Run();
    } catch (const std::exception& e) {
        application.ShowException(e);
    }
    // The window is closed: a reception still running must not outlive it.
    vcl::Guard([] {
        EndReceptionOnExit();
        midi::closeSystemTransports();
    });
    return 0;  // the window is destroyed with the application
}
