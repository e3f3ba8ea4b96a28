#include "sound/pulse/PulsePlayback.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace harmolune {

namespace {

// Interleaved stereo, 32-bit float.
constexpr std::size_t kBytesPerFrame = 2 * sizeof(float);
// What the stream holds ahead of the sink, in seconds. A sound that starts
// does not wait behind it: Uncork flushes the stream and the server rewinds.
// It has to outlast the time the mainloop thread may be kept from running on
// a machine whose cores are all busy; a shorter buffer, or one the server
// shortens to match its own latency (PA_STREAM_ADJUST_LATENCY), lets the
// server find the stream empty there. Twice what that needs lets the thread
// wake less often while something sounds (see BufferAttr).
constexpr double kBufferSeconds = 0.400;
// How far ahead the server runs the sink while something sounds. PipeWire
// runs its whole graph at the period its streams ask for, and a sound that
// starts waits for the next period: close ahead, it starts soon. Between
// sounds the stream asks to run far ahead again, so that a corked stream does
// not keep the sink waking a hundred times a second.
constexpr double kSoundingSinkSeconds = 0.010;

}  // namespace

PulsePlayback::PulsePlayback(Source& source, double sampleRateHz, const std::string& threadName,
                             std::string streamName)
    : source_(source),
      sampleRateHz_(sampleRateHz),
      streamName_(std::move(streamName)),
      client_(*this, "Harmolune", threadName) {}

PulsePlayback::~PulsePlayback() { Stop(); }

bool PulsePlayback::Start(std::string& error) { return client_.Start(error, true); }

void PulsePlayback::Stop() { client_.Stop(); }

// Mainloop thread, locked. The stream starts corked unless something sounds.
void PulsePlayback::Make(pa_context* context, bool) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(sampleRateHz_), 2};
    stream_ = pa_stream_new(context, streamName_.c_str(), &format, nullptr);
    if (stream_ == nullptr) {
        client_.StreamFailed(context);
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseClient::OnStreamState, &client_);
    pa_stream_set_write_callback(stream_, &PulsePlayback::OnWrite, this);
    pa_stream_set_underflow_callback(stream_, &PulsePlayback::OnUnderflow, this);
    silentFrames_ = 0;
    const bool silent = !source_.Sounding();
    const pa_buffer_attr attr = BufferAttr(!silent);
    corked_.store(silent, std::memory_order_release);
    const pa_stream_flags_t flags = silent ? PA_STREAM_START_CORKED : PA_STREAM_NOFLAGS;
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        client_.StreamFailed(context);
    }
}

// The server runs the sink tlength - 2 * minreq ahead for a stream like this
// one (no PA_STREAM_ADJUST_LATENCY), corked or not; PipeWire takes the same
// figure for its graph's period. Between sounds: 200 ms ahead, asked for
// 100 ms at a time. (Asked for half the buffer at a time, the sink runs at its
// shortest period, waking every recorder of its monitor, our capture among
// them, hundreds of times a second.) While something sounds: 10 ms ahead,
// asked for 195 ms at a time, so that the thread wakes five times a second
// with never less than 200 ms in hand.
pa_buffer_attr PulsePlayback::BufferAttr(bool sounding) const {
    const auto bytes = [this](double seconds) {
        return static_cast<std::uint32_t>(sampleRateHz_ * seconds) *
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
void PulsePlayback::SetBufferAttr(pa_stream* stream, bool sounding) const {
    const pa_buffer_attr attr = BufferAttr(sounding);
    ReleaseOperation(pa_stream_set_buffer_attr(stream, &attr, nullptr, nullptr));
}

// Mainloop thread, locked.
void PulsePlayback::Drop() {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    PulseClient::CloseStream(stream_, corked_.load(std::memory_order_relaxed));
    corked_.store(true, std::memory_order_release);
}

// Locked.
void PulsePlayback::Uncork() {
    if (stream_ == nullptr || pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return;
    }
    silentFrames_ = 0;
    const bool corked = corked_.load(std::memory_order_relaxed);
    if (corked) {
        SetBufferAttr(stream_, true);
    }
    ReleaseOperation(pa_stream_flush(stream_, nullptr, nullptr));
    if (corked) {
        ReleaseOperation(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    corked_.store(false, std::memory_order_release);
}

// Mainloop thread: renders what the server asks for, into its own memory.
// Once a whole buffer of silence has gone out after the last sound, the
// stream holds nothing audible and is corked.
void PulsePlayback::OnWrite(pa_stream* stream, std::size_t bytes, void* self) {
    auto* playback = static_cast<PulsePlayback*>(self);
    while (bytes >= kBytesPerFrame) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || data == nullptr) {
            return;
        }
        const int frames = static_cast<int>(std::min(size, bytes) / kBytesPerFrame);
        const bool silent = !playback->source_.Sounding();
        playback->source_.Fill(static_cast<float*>(data), frames);
        pa_stream_write(stream, data, static_cast<std::size_t>(frames) * kBytesPerFrame, nullptr, 0,
                        PA_SEEK_RELATIVE);
        bytes -= static_cast<std::size_t>(frames) * kBytesPerFrame;
        playback->silentFrames_ =
            silent ? playback->silentFrames_ + static_cast<std::size_t>(frames) : 0;
    }
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream);
    if (attr != nullptr && playback->silentFrames_ * kBytesPerFrame >= attr->tlength &&
        !playback->corked_.load(std::memory_order_relaxed)) {
        ReleaseOperation(pa_stream_cork(stream, 1, nullptr, nullptr));
        playback->SetBufferAttr(stream, false);
        playback->corked_.store(true, std::memory_order_release);
    }
}

PulsePlayback::Lock::Lock(PulsePlayback& playback) : lock_(playback.client_) {}

PulsePlayback::Lock::~Lock() = default;

// Mainloop thread.
void PulsePlayback::OnUnderflow(pa_stream*, void* self) {
    static_cast<PulsePlayback*>(self)->underflows_.fetch_add(1, std::memory_order_release);
}

}  // namespace harmolune
