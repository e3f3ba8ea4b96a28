#include "capture/PulseCapture.h"

#include <chrono>

#include "capture/Block.h"
#include "capture/BlockRing.h"

namespace harmolune {

PulseCapture::PulseCapture() : client_(*this, "Harmolune", "sound capture") {}

PulseCapture::~PulseCapture() { Stop(); }

bool PulseCapture::Start(BlockRing& ring, std::string& error) {
    Stop();
    ring_ = &ring;
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
        ring_->MarkGap();
    }
    const pa_sample_spec format{PA_SAMPLE_U8, static_cast<std::uint32_t>(kSampleRate), 1};
    stream_ = pa_stream_new(context, "Échantillonnage", &format, nullptr);
    if (stream_ == nullptr) {
        client_.StreamFailed(context);
        return;
    }
    pa_stream_set_state_callback(stream_, &PulseClient::OnStreamState, &client_);
    pa_stream_set_read_callback(stream_, &PulseCapture::OnRead, this);
    // Fragments of one block: nothing is gained by hearing of a block before
    // it is complete, and the thread wakes once per block.
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = kFrameLength;
    if (pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
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
            capture->ring_->MarkGap();
        } else {
            // Noted before the push, so that whoever sees the block sees its time.
            const auto now = std::chrono::steady_clock::now().time_since_epoch();
            capture->lastBufferNs_.store(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(),
                std::memory_order_release);
            capture->ring_->Push(static_cast<const std::uint8_t*>(data), bytes);
        }
        pa_stream_drop(stream);
    }
}

std::unique_ptr<CaptureDevice> MakePulseCapture() { return std::make_unique<PulseCapture>(); }

}  // namespace harmolune
