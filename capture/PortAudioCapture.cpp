#include "capture/PortAudioCapture.h"

#include <portaudio.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "capture/Block.h"
#include "capture/BlockRing.h"
#include "capture/QuietSoundLibraries.h"

namespace harmolune {

namespace {

std::string ErrorText(PaError code) {
    std::string text = Pa_GetErrorText(code);
    if (code == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host != nullptr && host->errorText != nullptr && host->errorText[0] != '\0') {
            text += ": ";
            text += host->errorText;
        }
    }
    return text;
}

}  // namespace

PortAudioCapture::~PortAudioCapture() { Stop(); }

bool PortAudioCapture::Start(BlockRing& ring, std::string& error) {
    Stop();
    QuietSoundLibraries();
    PaError status = paNoError;
    {
        const SoundLibraryLoad load;
        status = Pa_Initialize();
    }
    if (status != paNoError) {
        error = ErrorText(status);
        return false;
    }
    initialized_ = true;

    // With no input at all the default is paNoDevice; opening it anyway lets
    // PortAudio describe the failure in its own words.
    PaStreamParameters input{};
    input.device = Pa_GetDefaultInputDevice();
    input.channelCount = 1;
    input.sampleFormat = paUInt8;
    // A block's worth of latency: nothing is gained by hearing of a block
    // before it is complete, and the capture thread wakes less often.
    input.suggestedLatency = static_cast<double>(kFrameLength) / kSampleRate;

    ring_ = &ring;
    stopping_.store(false, std::memory_order_release);
    lost_.store(false, std::memory_order_release);
    PaStream* stream = nullptr;
    status = Pa_OpenStream(&stream, &input, nullptr, kSampleRate, kFrameLength, paNoFlag,
                           &PortAudioCapture::Callback, this);
    if (status == paNoError) {
        stream_ = stream;
        status = Pa_SetStreamFinishedCallback(stream, &PortAudioCapture::Finished);
    }
    if (status == paNoError) {
        status = Pa_StartStream(stream);
    }
    if (status != paNoError) {
        error = ErrorText(status);
        Stop();
        return false;
    }
    return true;
}

void PortAudioCapture::Stop() {
    stopping_.store(true, std::memory_order_release);
    if (stream_ != nullptr) {
        // Abort rather than stop: nothing recorded after this point is wanted,
        // and it returns at once even when the server has gone.
        Pa_AbortStream(static_cast<PaStream*>(stream_));
        Pa_CloseStream(static_cast<PaStream*>(stream_));
        stream_ = nullptr;
    }
    if (initialized_) {
        Pa_Terminate();
        initialized_ = false;
    }
    ring_ = nullptr;
}

// PortAudio's callback thread.
int PortAudioCapture::Callback(const void* input, void*, unsigned long frames,
                               const PaStreamCallbackTimeInfo*, unsigned long, void* self) {
    auto* capture = static_cast<PortAudioCapture*>(self);
    if (input != nullptr) {
        // Noted before the push, so that whoever sees the block sees its time.
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        capture->lastBufferNs_.store(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count(),
            std::memory_order_release);
        capture->ring_->Push(static_cast<const std::uint8_t*>(input), frames);
    }
    return paContinue;
}

// PortAudio's callback thread, as the stream ends: after Stop, or on its own
// when the device fails.
void PortAudioCapture::Finished(void* self) {
    auto* capture = static_cast<PortAudioCapture*>(self);
    if (capture->stopping_.load(std::memory_order_acquire)) {
        return;
    }
    capture->lost_.store(true, std::memory_order_release);
    static constexpr char kMessage[] =
        "harmolune: sound capture stopped: the input device or the sound server went away\n";
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
}

std::unique_ptr<CaptureDevice> MakePortAudioCapture() {
    return std::make_unique<PortAudioCapture>();
}

}  // namespace harmolune
