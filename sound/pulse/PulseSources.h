#pragma once
// The sound server's sources, listed once through libpulse: their names,
// their descriptions and which one is the default. For harmolune-measure
// --list-sources; the window never names a source.

#include <string>
#include <vector>

#include "sound/SoundSource.h"

namespace harmolune {

// Asks the server for its sources, in the server's order. On failure returns
// false with libpulse's own text in error ("Connection refused" with no
// server). Gives up after 5 s. Any thread; it runs a mainloop of its own.
bool ListPulseSources(std::vector<SoundSource>& sources, std::string& error);

}  // namespace harmolune
