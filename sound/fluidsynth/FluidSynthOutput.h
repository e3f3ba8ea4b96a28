#pragma once
// The reference tone through FluidSynth, a software synthesiser running in
// this process: each short message becomes a program change, a control change,
// a note-off or a note-on, played with the system's General MIDI SoundFont
// through a playback stream of the sound server (PulsePlayback) that renders
// on demand.
//
// The stream is corked while no voice sounds, so the synthesiser costs nothing
// between notes; a note-on flushes what the stream holds and uncorks it, so
// the note is heard within a few milliseconds. If the server goes away, one
// line on stderr says so, and the tone comes back on its own once the server
// answers again.
//
// Opening returns at once. The SoundFont is read and the audio output opened
// on a thread of their own; messages sent meanwhile wait in a fixed buffer and
// are played, in order, as soon as the SoundFont is in. A failure writes one
// line on stderr and the tuner goes on without sound.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "sound/MidiOutput.h"
#include "sound/pulse/PulsePlayback.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sfloader_t fluid_sfloader_t;

namespace harmolune {

// Debian's alternatives link: TimGM6mb, or FluidR3 once fluid-soundfont-gm is
// installed.
inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

struct FluidSynthOptions {
    std::string soundFont = kDefaultSoundFont;
    // False renders nothing by itself: the caller pulls samples with Render.
    bool audioOutput = true;
    // FluidSynth's default of 0.2 is too quiet for a reference tone.
    double gain = 0.6;
    double sampleRateHz = 44100.0;
    // When set, makes the loader that reads the SoundFont in place of
    // FluidSynth's own, on the loading thread, from the synthesiser's
    // settings; the synthesiser owns and frees it. A test counts what is read
    // from the file with it.
    std::function<fluid_sfloader_t*(fluid_settings_t*)> soundFontLoader;
};

class FluidSynthOutput final : public MidiOutput, private PulsePlayback::Source {
  public:
    explicit FluidSynthOutput(FluidSynthOptions options = {});
    ~FluidSynthOutput() override;
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    // Open, Send and Close: UI thread only.
    void Open() override;
    void Send(std::uint32_t message) override;
    void Close() override;

    // Waits for the loading thread; true when the SoundFont was loaded.
    bool WaitUntilLoaded();

    // Without audio output only: waits for the SoundFont, then renders frames
    // of interleaved stereo at the options' sample rate (2 * frames values).
    void Render(std::int16_t* stereo, int frames);

    // Times the server found the stream empty while it played: pieces of the
    // tone missing. Any thread.
    int Underflows() const { return playback_.Underflows(); }
    // True while the stream is corked, silent and costing nothing. Any thread.
    bool Corked() const { return playback_.Corked(); }
    // True while the sound server is gone. Any thread.
    bool Lost() const { return playback_.Lost(); }

  private:
    void Load();
    bool MakeSynth();
    void KeepInstruments(int soundFontId);
    void Play(std::uint32_t message);
    void Fill(float* stereo, int frames) override;
    bool Sounding() override;

    // Enough for the set-up messages and a few dozen clicks during a slow load;
    // anything beyond is not played.
    static constexpr int kPendingCapacity = 256;

    FluidSynthOptions options_;
    // Made by the loader before ready_.
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    PulsePlayback playback_;
    std::thread loader_;
    bool opened_ = false;           // UI thread only
    bool soundFontLoaded_ = false;  // written by the loader before ready_

    std::mutex pendingMutex_;
    std::atomic<bool> ready_{false};
    std::array<std::uint32_t, kPendingCapacity> pending_{};
    int pendingCount_ = 0;
};

// The MIDI output the window uses.
std::unique_ptr<MidiOutput> MakeFluidSynthOutput();

}  // namespace harmolune
