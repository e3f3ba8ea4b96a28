#pragma once
// A sound input as the sound server names it to the user: what
// harmolune-measure --list-sources prints and --source takes.

#include <string>

namespace harmolune {

struct SoundSource {
    std::string name;         // the server's name, as --source and PULSE_SOURCE take it
    std::string description;  // what desktop sound settings show
    bool isDefault = false;   // where a capture with no source named goes
};

}  // namespace harmolune
