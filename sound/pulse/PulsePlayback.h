#pragma once
// A playback stream on the sound server's default sink (PulseAudio, or
// PipeWire's PulseAudio server) that renders on demand: the server asks for
// sound, and the owner's Source renders it into the server's own memory.
//
// The stream is corked while nothing sounds, so that it costs nothing
// between notes; Uncork flushes what the stream holds, so that the next
// thing the sink hears is what starts now. If the server goes away, the
// stream comes back on its own once it answers again (PulseClient says so on
// stderr).

#include <pulse/stream.h>

#include <atomic>
#include <cstddef>
#include <string>

#include "sound/pulse/PulseClient.h"

namespace harmolune {

class PulsePlayback final : private PulseClient::Streams {
  public:
    // What the stream plays. Both are called on the mainloop thread with the
    // mainloop locked, and must not wait.
    class Source {
      public:
        virtual ~Source() = default;
        // Fills frames of interleaved stereo, 32-bit float (2 * frames values).
        virtual void Fill(float* stereo, int frames) = 0;
        // True while anything sounds; false once everything has died away.
        virtual bool Sounding() = 0;
    };

    // sampleRateHz is the source's; threadName names the mainloop thread (15
    // characters at most), streamName is what the server shows for the stream.
    PulsePlayback(Source& source, double sampleRateHz, const std::string& threadName,
                  std::string streamName);
    ~PulsePlayback() override;
    PulsePlayback(const PulsePlayback&) = delete;
    PulsePlayback& operator=(const PulsePlayback&) = delete;

    // Connects and waits until the stream is ready, the first attempt fails,
    // or 5 s pass; on failure returns false with libpulse's text in error,
    // and goes on trying in the background. Any thread but the mainloop's.
    bool Start(std::string& error);
    // Ends the stream and the connection. Any thread but the mainloop's.
    void Stop();

    // Holds the mainloop lock: the source's state may change under it without
    // a render in between. Does nothing when the stream is not started.
    class Lock {
      public:
        explicit Lock(PulsePlayback& playback);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        PulseClient::Lock lock_;
    };

    // Under Lock, once the source sounds: what the stream holds was rendered
    // before, so out with it, and the stream plays from now on.
    void Uncork();

    // Times the server found the stream empty while it played: pieces of the
    // sound missing. Any thread.
    int Underflows() const { return underflows_.load(std::memory_order_acquire); }
    // True while the stream is corked, silent and costing nothing. Any thread.
    bool Corked() const { return corked_.load(std::memory_order_acquire); }
    // True while the sound server is gone. Any thread.
    bool Lost() const { return client_.Lost(); }

  private:
    void Make(pa_context* context, bool again) override;
    void Drop() override;
    pa_buffer_attr BufferAttr(bool sounding) const;
    void SetBufferAttr(pa_stream* stream, bool sounding) const;
    static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void OnUnderflow(pa_stream* stream, void* self);

    Source& source_;
    const double sampleRateHz_;
    const std::string streamName_;
    PulseClient client_;
    pa_stream* stream_ = nullptr;   // under the mainloop lock
    std::size_t silentFrames_ = 0;  // rendered with nothing sounding since the last sound, locked
    std::atomic<bool> corked_{true};
    std::atomic<int> underflows_{0};
};

}  // namespace harmolune
