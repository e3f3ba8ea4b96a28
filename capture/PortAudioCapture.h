#pragma once
// Capture from the default input through PortAudio: 8-bit unsigned mono at
// 32768 samples per second, handed over in buffers of 4096 frames. On a
// desktop the default input is the sound server's default source, the one
// chosen in the sound settings.
//
// PortAudio's callback thread only pushes the samples into the BlockRing and
// notes the time; it never allocates, locks or blocks. If the device or the
// sound server goes away while recording, PortAudio ends the stream: one line
// on stderr says so, and no more blocks arrive.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "capture/CaptureDevice.h"

struct PaStreamCallbackTimeInfo;

namespace harmolune {

class PortAudioCapture final : public CaptureDevice {
  public:
    PortAudioCapture() = default;
    ~PortAudioCapture() override;
    PortAudioCapture(const PortAudioCapture&) = delete;
    PortAudioCapture& operator=(const PortAudioCapture&) = delete;

    // Called on the UI thread. On failure, error holds PortAudio's own text.
    bool Start(BlockRing& ring, std::string& error) override;
    void Stop() override;

    // Steady-clock time in nanoseconds at which the latest buffer arrived from
    // PortAudio, just before it went into the ring; 0 before the first. Any
    // thread; a reader that has taken a block sees at least that block's time.
    std::int64_t LastBufferNanoseconds() const {
        return lastBufferNs_.load(std::memory_order_acquire);
    }

    // True once the stream has ended without Stop: device or server gone.
    bool Lost() const { return lost_.load(std::memory_order_acquire); }

  private:
    static int Callback(const void* input, void* output, unsigned long frames,
                        const ::PaStreamCallbackTimeInfo* time, unsigned long flags, void* self);
    static void Finished(void* self);

    void* stream_ = nullptr;  // PaStream
    bool initialized_ = false;
    BlockRing* ring_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> lost_{false};
    std::atomic<std::int64_t> lastBufferNs_{0};
};

// The capture the window uses.
std::unique_ptr<CaptureDevice> MakePortAudioCapture();

}  // namespace harmolune
