// Start-up: the application object, the main window, the message loop.
#pragma once

namespace vcl {
class TApplication;
}

// Always returns 0, the program's exit code.
int RunZuxFiler(int argc, char** argv);

// Start-up's steps before the message loop: initialise, set the title and
// create the main window into Form1 (its FormCreate included). The tests
// make the window the same way.
void CreateMainWindow(vcl::TApplication& application);
