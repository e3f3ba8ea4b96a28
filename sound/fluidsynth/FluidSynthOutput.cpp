#include "sound/fluidsynth/FluidSynthOutput.h"

#include <fluidsynth.h>

#include <cstdio>
#include <cstring>

#include "core/Notes.h"
#include "sound/SoundTexts.h"

namespace harmolune {

namespace {

// FluidSynth's last error on this thread, so that our one line can say why.
thread_local char lastFluidError[256];

void KeepFluidError(int level, const char* message, void*) {
    if (level <= FLUID_ERR && message != nullptr) {
        std::snprintf(lastFluidError, sizeof lastFluidError, "%s", message);
    }
}

void QuietFluidSynth() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
            fluid_set_log_function(level, KeepFluidError, nullptr);
        }
    });
}

// One line on stderr, with FluidSynth's own reason when it gave one.
void Report(const std::string& what) {
    std::string line = sound_texts::kNoToneLine + what;
    if (lastFluidError[0] != '\0') {
        line += " (";
        line += lastFluidError;
        line += ")";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

FluidSynthOutput::FluidSynthOutput(FluidSynthOptions options)
    : options_(std::move(options)),
      playback_(*this, options_.sampleRateHz, "reference tone", "Note de référence") {}

FluidSynthOutput::~FluidSynthOutput() { Close(); }

void FluidSynthOutput::Open() {
    Close();
    QuietFluidSynth();
    opened_ = true;
    ready_.store(false, std::memory_order_release);
    pendingCount_ = 0;
    soundFontLoaded_ = false;
    // Making the synthesiser takes tens of milliseconds on a busy machine:
    // the window does not wait for it either.
    loader_ = std::thread([this] { Load(); });
}

// The loading thread: the synthesiser, the SoundFont, then the audio output,
// then the messages that waited for them.
void FluidSynthOutput::Load() {
    lastFluidError[0] = '\0';
    if (MakeSynth()) {
        // No reset of the channels' presets: it would select the piano on
        // fifteen channels and the drum kit on the tenth, and read the kit's
        // samples.
        const int soundFontId = fluid_synth_sfload(synth_, options_.soundFont.c_str(), 0);
        soundFontLoaded_ = soundFontId != FLUID_FAILED;
        if (soundFontLoaded_) {
            KeepInstruments(soundFontId);
        } else {
            Report(sound_texts::kNoSoundFont + options_.soundFont);
        }
    }
    if (options_.audioOutput && soundFontLoaded_) {
        lastFluidError[0] = '\0';
        std::string error;
        // Without a server now, the client keeps trying and the tone starts
        // once one answers.
        if (!playback_.Start(error)) {
            Report(std::string(sound_texts::kNoOutput) + " (" + error + ")");
        }
    }
    std::lock_guard<std::mutex> lock(pendingMutex_);
    for (int i = 0; i < pendingCount_; ++i) {
        Play(pending_[i]);
    }
    pendingCount_ = 0;
    ready_.store(true, std::memory_order_release);
}

// The loading thread. FluidSynth reads a preset's samples from the disk when
// a channel first selects it, and lets them go when no channel holds it any
// more. The tone plays two presets, the piano for keys and the guitar for
// strings: both are read here, and held (pinned) until the synthesiser goes,
// so that neither the first click of each nor a change from one to the other
// waits for the disk, and nothing else of the SoundFont is held in memory.
// A SoundFont that lacks one gets FluidSynth's fallback as usual when the
// program is selected, the piano of bank 0, which is held too. The tone's
// channel (MIDI channel 1) starts on the piano, as a reset would leave it.
void FluidSynthOutput::KeepInstruments(int soundFontId) {
    for (const int program : {kPianoProgram, kGuitarProgram}) {
        fluid_synth_pin_preset(synth_, soundFontId, 0, program);
    }
    fluid_synth_program_change(synth_, 0, kPianoProgram);
    // A program the SoundFont lacks has said so: not a reason for a later line.
    lastFluidError[0] = '\0';
}

// The loading thread.
bool FluidSynthOutput::MakeSynth() {
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) {
        Report(sound_texts::kNoSynth);
        return false;
    }
    fluid_settings_setnum(settings_, "synth.gain", options_.gain);
    fluid_settings_setnum(settings_, "synth.sample-rate", options_.sampleRateHz);
    // The tone's bank-select message carries only the low byte (60). In GS
    // style FluidSynth takes the bank from controller 0 alone, so it cannot
    // move the channel to a bank the SoundFont lacks and silence the piano.
    fluid_settings_setstr(settings_, "synth.midi-bank-select", "gs");
    // A reference tone is heard dry. The two effects also cost the synthesiser
    // most of its time once the note has died away.
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    // Only the samples of the presets in use are read (see KeepInstruments):
    // FluidR3, a common General MIDI SoundFont, holds 141 MiB of samples, of
    // which the piano and the guitar take 9.5 MiB.
    fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        Report(sound_texts::kNoSynth);
        delete_fluid_settings(settings_);
        settings_ = nullptr;
        return false;
    }
    if (options_.soundFontLoader) {
        fluid_synth_add_sfloader(synth_, options_.soundFontLoader(settings_));
    }
    return true;
}

void FluidSynthOutput::Send(std::uint32_t message) {
    if (!opened_) {
        return;
    }
    if (!ready_.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        if (!ready_.load(std::memory_order_relaxed)) {
            if (pendingCount_ < kPendingCapacity) {
                pending_[pendingCount_++] = message;
            }
            return;
        }
    }
    Play(message);
}

// Status byte in bits 0-7, data bytes in bits 8-15 and 16-23.
//
// Called on the loading thread for the messages that waited, holding
// pendingMutex_, and on the UI thread (from Send) once the loader has set
// ready_ under that same lock: the two never play at once, and the UI thread
// sees the synthesiser the loader made. The mainloop thread renders
// meanwhile: FluidSynth's own lock keeps the synthesiser whole, and the
// mainloop lock, held from a note-on to the end of Uncork, keeps a render
// from taking the note's start into what the flush then throws away.
void FluidSynthOutput::Play(std::uint32_t message) {
    if (synth_ == nullptr) {
        return;
    }
    const int status = static_cast<int>(message & 0xF0);
    const int channel = static_cast<int>(message & 0x0F);
    const int data1 = static_cast<int>((message >> 8) & 0x7F);
    const int data2 = static_cast<int>((message >> 16) & 0x7F);
    switch (status) {
        case 0xC0:
            fluid_synth_program_change(synth_, channel, data1);
            break;
        case 0xB0:
            fluid_synth_cc(synth_, channel, data1, data2);
            break;
        case 0x80:
            fluid_synth_noteoff(synth_, channel, data1);
            break;
        case 0x90:
            // A note-on of velocity 0 is a note-off, by MIDI's rule.
            if (data2 == 0) {
                fluid_synth_noteoff(synth_, channel, data1);
            } else {
                const PulsePlayback::Lock lock(playback_);
                fluid_synth_noteon(synth_, channel, data1, data2);
                playback_.Uncork();
            }
            break;
        default:
            break;
    }
}

bool FluidSynthOutput::WaitUntilLoaded() {
    if (loader_.joinable()) {
        loader_.join();
    }
    return soundFontLoaded_;
}

void FluidSynthOutput::Render(std::int16_t* stereo, int frames) {
    WaitUntilLoaded();
    if (synth_ == nullptr || options_.audioOutput) {
        std::memset(stereo, 0, sizeof(std::int16_t) * 2 * static_cast<std::size_t>(frames));
        return;
    }
    fluid_synth_write_s16(synth_, frames, stereo, 0, 2, stereo, 1, 2);
}

void FluidSynthOutput::Close() {
    if (loader_.joinable()) {
        loader_.join();
    }
    opened_ = false;
    playback_.Stop();
    if (synth_ != nullptr) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
    if (settings_ != nullptr) {
        delete_fluid_settings(settings_);
        settings_ = nullptr;
    }
}

// Mainloop thread, locked.
void FluidSynthOutput::Fill(float* stereo, int frames) {
    fluid_synth_write_float(synth_, frames, stereo, 0, 2, stereo, 1, 2);
}

// Mainloop thread, locked.
bool FluidSynthOutput::Sounding() { return fluid_synth_get_active_voice_count(synth_) > 0; }

std::unique_ptr<MidiOutput> MakeFluidSynthOutput() { return std::make_unique<FluidSynthOutput>(); }

}  // namespace harmolune
