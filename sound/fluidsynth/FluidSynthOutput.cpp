#include "sound/fluidsynth/FluidSynthOutput.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

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

// Interleaved stereo, 32-bit float.
constexpr std::size_t kBytesPerFrame = 2 * sizeof(float);
// What the stream holds ahead of the sink, in seconds. A note-on does not wait
// behind it: the stream is flushed and the server rewinds, so a note sounds
// about 8 ms after the click with PulseAudio and 14 ms with PipeWire, whatever
// this is. It has to outlast the time the synthesiser's thread may be kept
// from running: with 40 ms, and with 100 ms when the server also shortens its
// own latency to match (PA_STREAM_ADJUST_LATENCY), the server found the stream
// empty a few times a second while two busy loops and other builds kept both
// cores busy; with 200 ms on its own, never. Twice that lets the thread wake
// less often while a note sounds (see BufferAttr).
constexpr double kBufferSeconds = 0.400;
// How far ahead the server runs the sink while a note sounds. PipeWire runs
// its whole graph at the period its streams ask for: asked for 200 ms, it
// ran at its longest (43 ms), and a note waited for the next period, 62 ms
// from click to sink in the median (read in 50 ms pieces); asked for 10 ms,
// 16 ms. Between notes the stream asks for 200 ms again, so that a corked
// stream does not keep the sink waking a hundred times a second.
constexpr double kSoundingSinkSeconds = 0.010;

}  // namespace

FluidSynthOutput::FluidSynthOutput(FluidSynthOptions options)
    : options_(std::move(options)), client_(*this, "Harmolune", "reference tone") {}

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
        soundFontLoaded_ =
            fluid_synth_sfload(synth_, options_.soundFont.c_str(), 1) != FLUID_FAILED;
        if (!soundFontLoaded_) {
            Report("cannot load the SoundFont " + options_.soundFont);
        }
    }
    if (options_.audioOutput && soundFontLoaded_) {
        lastFluidError[0] = '\0';
        std::string error;
        // Without a server now, the client keeps trying and the tone starts
        // once one answers.
        if (!client_.Start(error, true)) {
            Report("no audio output (" + error + ")");
        }
    }
    std::lock_guard<std::mutex> lock(pendingMutex_);
    for (int i = 0; i < pendingCount_; ++i) {
        Play(pending_[i]);
    }
    pendingCount_ = 0;
    ready_.store(true, std::memory_order_release);
}

// The loading thread.
bool FluidSynthOutput::MakeSynth() {
    settings_ = new_fluid_settings();
    if (settings_ == nullptr) {
        Report("FluidSynth could not start");
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
    synth_ = new_fluid_synth(settings_);
    if (synth_ == nullptr) {
        Report("FluidSynth could not start");
        delete_fluid_settings(settings_);
        settings_ = nullptr;
        return false;
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
                const PulseClient::Lock lock(client_);
                fluid_synth_noteon(synth_, channel, data1, data2);
                Uncork();
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
    client_.Stop();
    if (synth_ != nullptr) {
        delete_fluid_synth(synth_);
        synth_ = nullptr;
    }
    if (settings_ != nullptr) {
        delete_fluid_settings(settings_);
        settings_ = nullptr;
    }
}

// Mainloop thread, locked. The stream starts corked unless a voice sounds.
void FluidSynthOutput::Make(pa_context* context, bool) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE,
                                static_cast<std::uint32_t>(options_.sampleRateHz), 2};
    stream_ = pa_stream_new(context, "Note de référence", &format, nullptr);
    if (stream_ == nullptr) {
        client_.StreamFailed(context);
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseClient::OnStreamState, &client_);
    pa_stream_set_write_callback(stream_, &FluidSynthOutput::OnWrite, this);
    pa_stream_set_underflow_callback(stream_, &FluidSynthOutput::OnUnderflow, this);
    silentFrames_ = 0;
    const bool silent = fluid_synth_get_active_voice_count(synth_) == 0;
    const pa_buffer_attr attr = BufferAttr(!silent);
    corked_.store(silent, std::memory_order_release);
    const pa_stream_flags_t flags = silent ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS;
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        client_.StreamFailed(context);
    }
}

// The server runs the sink tlength - 2 * minreq ahead for a stream like this
// one (no PA_STREAM_ADJUST_LATENCY), corked or not; PipeWire takes the same
// figure for its graph's period. Between notes: 200 ms ahead, asked for
// 100 ms at a time. (Asked for half the buffer at a time, the sink ran at its
// shortest period, 0.5 ms on a null sink, all the time the program was open,
// waking every recorder of its monitor, our capture among them, hundreds of
// times a second.) While a note sounds: 10 ms ahead, asked for 195 ms at a
// time, so the thread wakes five times a second to render, with never less
// than 200 ms in hand.
pa_buffer_attr FluidSynthOutput::BufferAttr(bool sounding) const {
    const auto bytes = [this](double seconds) {
        return static_cast<std::uint32_t>(options_.sampleRateHz * seconds) *
               static_cast<std::uint32_t>(kBytesPerFrame);
    };
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = bytes(kBufferSeconds);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    const std::uint32_t sinkAhead = sounding ? bytes(kSoundingSinkSeconds) : attr.tlength / 2;
    attr.minreq = (attr.tlength - sinkAhead) / 2;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    return attr;
}

// Locked.
void FluidSynthOutput::SetBufferAttr(pa_stream* stream, bool sounding) const {
    const pa_buffer_attr attr = BufferAttr(sounding);
    pa_operation* operation = pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr);
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

// Mainloop thread, locked.
void FluidSynthOutput::Drop() {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    PulseClient::CloseStream(stream_, corked_.load(std::memory_order_relaxed));
    corked_.store(true, std::memory_order_release);
}

// Locked. What the stream holds was rendered before this note: out with it,
// so that the note is the next thing the sink hears.
void FluidSynthOutput::Uncork() {
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return;
    }
    silentFrames_ = 0;
    if (corked_.load(std::memory_order_relaxed)) {
        SetBufferAttr(stream_, true);
    }
    for (pa_operation* operation :
         {pa_stream_flush(stream_, nullptr, nullptr),
          corked_.load(std::memory_order_relaxed) ? pa_stream_cork(stream_, 0, nullptr, nullptr)
                                                  : nullptr}) {
        if (operation != nullptr) {
            pa_operation_unref(operation);
        }
    }
    corked_.store(false, std::memory_order_release);
}

// Mainloop thread: renders what the server asks for, into its own memory.
// Once a whole buffer of silence has gone out after the last voice, the
// stream holds nothing audible and is corked.
void FluidSynthOutput::OnWrite(pa_stream* stream, std::size_t bytes, void* self) {
    auto* output = static_cast<FluidSynthOutput*>(self);
    while (bytes >= kBytesPerFrame) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) {
            return;
        }
        const int frames = static_cast<int>(std::min(size, bytes) / kBytesPerFrame);
        const bool silent = fluid_synth_get_active_voice_count(output->synth_) == 0;
        auto* stereo = static_cast<float*>(data);
        fluid_synth_write_float(output->synth_, frames, stereo, 0, 2, stereo, 1, 2);
        pa_stream_write(stream, data, static_cast<std::size_t>(frames) * kBytesPerFrame, nullptr, 0,
                        PA_SEEK_RELATIVE);
        bytes -= static_cast<std::size_t>(frames) * kBytesPerFrame;
        output->silentFrames_ =
            silent ? output->silentFrames_ + static_cast<std::size_t>(frames) : 0;
    }
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream);
    if (attr != nullptr && output->silentFrames_ * kBytesPerFrame >= attr->tlength &&
        !output->corked_.load(std::memory_order_relaxed)) {
        pa_operation* cork = pa_stream_cork(stream, 1, nullptr, nullptr);
        if (cork != nullptr) {
            pa_operation_unref(cork);
        }
        output->SetBufferAttr(stream, false);
        output->corked_.store(true, std::memory_order_release);
    }
}

// Mainloop thread.
void FluidSynthOutput::OnUnderflow(pa_stream*, void* self) {
    static_cast<FluidSynthOutput*>(self)->underflows_.fetch_add(1, std::memory_order_release);
}

std::unique_ptr<MidiOutput> MakeFluidSynthOutput() { return std::make_unique<FluidSynthOutput>(); }

}  // namespace harmolune
