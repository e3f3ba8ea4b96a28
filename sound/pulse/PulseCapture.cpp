#include "sound/pulse/PulseCapture.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "core/Block.h"
#include "sound/BlockRing.h"

namespace harmolune {

PulseCapture::PulseCapture(std::string source)
    : source_(std::move(source)), client_(*this, "Harmolune", "sound capture") {}

PulseCapture::~PulseCapture() { Stop(); }

bool PulseCapture::Start(BlockRing& ring, std::string& error) {
    Stop();
    ring_ = &ring;
    heardSinceGap_ = false;  // the mainloop thread is not running
    discard_ = 0;
    flushes_ = 0;
    if (!client_.Start(error, false)) {
        ring_ = nullptr;
        return false;
    }
    return true;
}

void PulseCapture::Stop() {
    client_.Stop();
    ring_ = nullptr;
}

// Mainloop thread, locked.
void PulseCapture::Make(pa_context* context, bool again) {
    if (again) {
        // Whatever was on its way before the loss is not continued.
        Gap();
    }
    discard_ = 0;
    flushes_ = 0;
    const pa_sample_spec format{PA_SAMPLE_U8, static_cast<std::uint32_t>(kSampleRate), 1};
    stream_ = pa_stream_new(context, "Échantillonnage", &format, nullptr);
    if (stream_ == nullptr) {
        client_.StreamFailed(context);
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseClient::OnStreamState, &client_);
    pa_stream_set_read_callback(stream_, &PulseCapture::OnRead, this);
    pa_stream_set_suspended_callback(stream_, &PulseCapture::OnSuspended, this);
    pa_stream_set_moved_callback(stream_, &PulseCapture::OnMoved, this);
    // Fragments of one block at most: nothing is gained by hearing of a block
    // before it is complete. (The server still sends what its source has at
    // the end of each of its periods, shorter when another client asks.)
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = kFrameLength;
    // A named source is the one the user asked for: the server may not move
    // the stream elsewhere, and if the source goes, so does the stream.
    const bool named = !source_.empty();
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | (named ? PA_STREAM_DONT_MOVE : PA_STREAM_NOFLAGS));
    if (pa_stream_connect_record(stream_, named ? source_.c_str() : nullptr, &attr, flags) < 0) {
        client_.StreamFailed(context);
    }
}

// Mainloop thread, locked.
void PulseCapture::Drop() {
    if (stream_ == nullptr) {
        return;
    }
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    PulseClient::CloseStream(stream_, false);
}

// Mainloop thread: everything the server has, in order.
void PulseCapture::OnRead(pa_stream* stream, std::size_t, void* self) {
    auto* capture = static_cast<PulseCapture*>(self);
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) >= 0 &&
           bytes > 0) {
        if (data == nullptr) {
            // A hole: samples the server lost.
            capture->Gap();
        } else {
            const std::size_t skipped =
                capture->flushes_ > 0 ? bytes : std::min(bytes, capture->discard_);
            capture->discard_ -= std::min(skipped, capture->discard_);
            if (skipped < bytes) {
                // Noted before the push, so that whoever sees the block sees its time.
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                capture->lastBufferNs_.store(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(),
                    std::memory_order_release);
                capture->ring_->Push(static_cast<const std::uint8_t*>(data) + skipped,
                                     bytes - skipped);
                capture->heardSinceGap_ = true;
            }
        }
        pa_stream_drop(stream);
    }
}

// Mainloop thread. The gap is marked as the source resumes, not as it is
// suspended: PulseAudio still delivers the fragment it held when it announces
// the suspend, and that fragment belongs with the sound before it.
void PulseCapture::OnSuspended(pa_stream* stream, void* self) {
    if (pa_stream_is_suspended(stream) == 0) {
        static_cast<PulseCapture*>(self)->Gap();
    }
}

// Mainloop thread: the stream now reads another source. The news comes ahead
// of the last of the old source's sound: PulseAudio still sends a few hundred
// samples of it, PipeWire's server a fragment or more. The server is asked to
// drop what it holds; everything that arrives until it has, and one block's
// worth after it (PulseAudio may still let a few samples of the old source
// through), is thrown away, so that the first block after the gap is all from
// the new source.
void PulseCapture::OnMoved(pa_stream* stream, void* self) {
    auto* capture = static_cast<PulseCapture*>(self);
    capture->Gap();
    pa_operation* flush = pa_stream_flush(stream, &PulseCapture::OnFlushed, capture);
    if (flush != nullptr) {
        ++capture->flushes_;
    } else {
        capture->discard_ = kFrameLength;
    }
    ReleaseOperation(flush);
}

// Mainloop thread: what the server held of the old source is gone. A flush
// asked of a stream since dropped counts for nothing.
// cppcheck-suppress constParameter ; the type libpulse calls back
void PulseCapture::OnFlushed(pa_stream* stream, int, void* self) {
    auto* capture = static_cast<PulseCapture*>(self);
    if (stream == capture->stream_ && capture->flushes_ > 0) {
        --capture->flushes_;
        capture->discard_ = kFrameLength;
    }
}

// Mainloop thread: what comes next does not follow what came before.
void PulseCapture::Gap() {
    if (heardSinceGap_) {
        ring_->MarkGap();
        heardSinceGap_ = false;
    }
}

std::unique_ptr<CaptureDevice> MakePulseCapture(const std::string& source) {
    return std::make_unique<PulseCapture>(source);
}

}  // namespace harmolune
