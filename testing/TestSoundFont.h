#pragma once
// The SoundFont whose sound the tests' expectations describe: TimGM6mb's own
// file, which the install step always provides. default-GM.sf2 names
// whichever General MIDI SoundFont Debian ranks best, FluidR3 once
// fluid-soundfont-gm is installed, and its notes sound with other samples,
// levels and tunings (its guitar La 2 reads 111.77 Hz, TimGM6mb's 110.1).

#include "sound/fluidsynth/FluidSynthOutput.h"

namespace harmolune {

inline constexpr const char* kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// The options the program uses, with the tests' SoundFont.
inline FluidSynthOptions TestSoundFontOptions() {
    FluidSynthOptions options;
    options.soundFont = kTestSoundFont;
    return options;
}

}  // namespace harmolune
