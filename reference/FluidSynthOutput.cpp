#include "reference/FluidSynthOutput.h"

#include <fluidsynth.h>

#include <cstdio>
#include <cstring>
#include <optional>

#include "capture/QuietSoundLibraries.h"

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
    std::string line = "harmolune: no reference tone: " + what;
    if (lastFluidError[0] != '\0') {
        line += " (";
        line += lastFluidError;
        line += ")";
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

FluidSynthOutput::FluidSynthOutput(FluidSynthOptions options) : options_(std::move(options)) {}

FluidSynthOutput::~FluidSynthOutput() { Close(); }

void FluidSynthOutput::Open() {
    Close();
    QuietFluidSynth();
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) {
        return;
    }
    fluid_settings_setnum(settings_, "synth.gain", options_.gain);
    fluid_settings_setnum(settings_, "synth.sample-rate", options_.sampleRateHz);
    // The tone's bank-select message carries only the low byte (60). In GS
    // style FluidSynth takes the bank from controller 0 alone, so it cannot
    // move the channel to a bank the SoundFont lacks and silence the piano.
    fluid_settings_setstr(settings_, "synth.midi-bank-select", "gs");
    // The PulseAudio driver asks the server for one period of latency. The
    // default period, 64 frames (1.5 ms), runs dry on a busy machine and the
    // tone comes out in pieces, which the measurement then reads several hertz
    // off; 4096 frames (93 ms) held on two cores kept fully busy. A reference
    // tone that late is not heard as late, and the synthesiser wakes 64 times
    // less often.
    fluid_settings_setint(settings_, "audio.period-size", 4096);
    // A reference tone is heard dry. The two effects also cost the synthesiser
    // most of its time once the note has died away.
    fluid_settings_setint(settings_, "synth.reverb.active", 0);
    fluid_settings_setint(settings_, "synth.chorus.active", 0);
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        Report("FluidSynth could not start");
        delete_fluid_settings(settings_);
        settings_ = nullptr;
        return;
    }
    ready_.store(false, std::memory_order_release);
    pendingCount_ = 0;
    soundFontLoaded_ = false;
    loader_ = std::thread([this] { Load(); });
}

// The loading thread: the SoundFont first, then the messages that waited for
// it, then the audio output.
void FluidSynthOutput::Load() {
    lastFluidError[0] = '\0';
    soundFontLoaded_ = fluid_synth_sfload(synth_, options_.soundFont.c_str(), 1) != FLUID_FAILED;
    if (!soundFontLoaded_) {
        Report("cannot load the SoundFont " + options_.soundFont);
    }
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        for (int i = 0; i < pendingCount_; ++i) {
            Play(pending_[i]);
        }
        pendingCount_ = 0;
        ready_.store(true, std::memory_order_release);
    }
    if (!options_.audioOutput) {
        return;
    }
    QuietSoundLibraries();
    lastFluidError[0] = '\0';
    for (const char* name : {"pulseaudio", "alsa"}) {
        fluid_settings_setstr(settings_, "audio.driver", name);
        std::optional<SoundLibraryLoad> load;
        if (std::strcmp(name, "alsa") == 0) {
            load.emplace();
        }
        driver_ = new_fluid_audio_driver(settings_, synth_);
        if (driver_ != nullptr) {
            return;
        }
    }
    Report("no audio output (neither PulseAudio nor ALSA could be opened)");
}

void FluidSynthOutput::Send(std::uint32_t message) {
    if (synth_ == nullptr) {
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
void FluidSynthOutput::Play(std::uint32_t message) {
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
                fluid_synth_noteon(synth_, channel, data1, data2);
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
    if (driver_ != nullptr) {
        delete_fluid_audio_driver(driver_);
        driver_ = nullptr;
    }
    if (synth_ != nullptr) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
    if (settings_ != nullptr) {
        delete_fluid_settings(settings_);
        settings_ = nullptr;
    }
}

std::unique_ptr<MidiOutput> MakeFluidSynthOutput() { return std::make_unique<FluidSynthOutput>(); }

}  // namespace harmolune
