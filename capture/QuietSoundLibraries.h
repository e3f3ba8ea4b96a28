#pragma once
// The sound libraries under PortAudio and FluidSynth talk on stderr: probing
// devices, ALSA prints dozens of lines about cards this machine does not have,
// and the JACK client about a server nobody started. This turns off those two
// libraries' own printing, and nothing else: the program's messages still go
// to stderr, and the backends say in one line of their own what failed.

namespace harmolune {

// Installs silent error handlers for ALSA and JACK. Safe to call from any
// thread and more than once; call it before the first Pa_Initialize or
// new_fluid_audio_driver.
void QuietSoundLibraries();

// Held while a call loads ALSA's PCM plugins (Pa_Initialize, FluidSynth's
// ALSA driver). The plugins' initialisers allocate what they never free, and
// the plugins are unloaded again before the process ends, so a leak checker
// can tell those blocks from ours only by unwinding every allocation the slow
// way, which starves the audio threads. In a build with AddressSanitizer this
// leaves out of the leak check what the calling thread allocates meanwhile;
// elsewhere it does nothing.
class SoundLibraryLoad {
  public:
    SoundLibraryLoad();
    // Not trivial in a build with AddressSanitizer, whatever this build is.
    // NOLINTNEXTLINE(performance-trivially-destructible)
    ~SoundLibraryLoad();
    SoundLibraryLoad(const SoundLibraryLoad&) = delete;
    SoundLibraryLoad& operator=(const SoundLibraryLoad&) = delete;
};

}  // namespace harmolune
