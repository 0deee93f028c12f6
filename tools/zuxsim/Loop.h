// The main loop: commands on standard input, signals, and news from the
// ports, all arriving as letters through one pipe.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/zuxsim/Options.h"
#include "tools/zuxsim/Ports.h"

namespace zuxsim {

enum class Event : char { Send = 's', Quit = 'q', Connected = 'c', Gone = 'x' };

// Installs the signal handlers; false if the pipe cannot be made.
bool startEvents();
// Safe from signal handlers and any thread.
void post(Event e);

// Runs until "quit", a signal or Event::Gone; returns the exit status.
int run(Ports& ports, const std::vector<std::uint8_t>& dump, const Options& o);

}  // namespace zuxsim
