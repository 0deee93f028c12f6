// The names the port lists show. The capability record holds 31 bytes, and
// JACK and PipeWire names are often longer, with the part that tells a
// port from its siblings at the end ("Midi-Bridge:Virtual MIDI Card 1:
// (capture_2) VirMIDI 1-2"). Cut naively, every port of an interface would
// show the same text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace midi {

constexpr std::size_t kShownNameBytes = 31;

// One shown name per name, in order, each at most kShownNameBytes bytes and
// never cut inside a UTF-8 character. A name that fits is shown whole. A
// longer one drops the prefix it shares with the other names (back to the
// start of a word) and keeps the tail; a cut name never equals another
// shown name.
std::vector<std::string> shownNames(const std::vector<std::string>& names);

}  // namespace midi
