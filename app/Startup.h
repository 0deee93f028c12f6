// Start-up: the application object, the main window, the message loop.
#pragma once

// Always returns 0, the program's exit code.
int RunZuxFiler(int argc, char** argv);
