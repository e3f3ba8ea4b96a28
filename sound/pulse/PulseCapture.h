#pragma once
// Capture from the sound server's default source, or from one named source,
// through libpulse (PulseAudio, or PipeWire's PulseAudio server): 8-bit
// unsigned mono at 32768 samples per second. The server is asked for fragments of one block at
// most; it sends what the source has at the end of each of its periods, so the mainloop thread
// wakes once per block only where the source's period is that long.
//
// The read callback only moves samples into the BlockRing and notes the time;
// it never allocates or waits. A hole in the stream, the source suspended and
// resumed, the stream moved to another source (the default one removed or
// another chosen), or the stream made again after the server came back, is
// marked in the ring as a gap, so that no block joins sound from before and
// after it; after a move, what may still be the old source's sound is thrown
// away. A suspend or a move is no loss for the user and says nothing. If the
// source or the server goes away, capture comes back on its own once the
// server answers again (PulseClient says so on stderr). A named source is
// never swapped for another: if it goes away, capture waits for it to come
// back.

#include <pulse/stream.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "sound/CaptureDevice.h"
#include "sound/pulse/PulseClient.h"

namespace harmolune {

class PulseCapture final : public CaptureDevice, private PulseClient::Streams {
  public:
    // source names the server's source to record from; empty for the
    // default, which the user may change while capture runs. (With no name,
    // libpulse still honours PULSE_SOURCE.)
    explicit PulseCapture(std::string source = {});
    ~PulseCapture() override;
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

    // Called on the UI thread. On failure, error holds libpulse's own text
    // ("Connection refused" with no server) and nothing keeps running.
    bool Start(BlockRing& ring, std::string& error) override;
    void Stop() override;

    // Steady-clock time in nanoseconds at which the latest fragment arrived,
    // just before it went into the ring; 0 before the first. Any thread; a
    // reader that has taken a block sees at least that block's time.
    std::int64_t LastBufferNanoseconds() const {
        return lastBufferNs_.load(std::memory_order_acquire);
    }

    // True while the source or the server is gone. Any thread.
    bool Lost() const { return client_.Lost(); }
    // Times capture came back after a loss. Any thread.
    int Recoveries() const { return client_.Recoveries(); }

  private:
    void Make(pa_context* context, bool again) override;
    void Drop() override;
    static void OnRead(pa_stream* stream, std::size_t bytes, void* self);
    static void OnSuspended(pa_stream* stream, void* self);
    static void OnMoved(pa_stream* stream, void* self);
    static void OnFlushed(pa_stream* stream, int success, void* self);
    void Gap();

    const std::string source_;
    PulseClient client_;
    BlockRing* ring_ = nullptr;
    pa_stream* stream_ = nullptr;  // under the mainloop lock
    // Samples went into the ring since the last gap was marked; mainloop
    // thread only. One interruption then counts as one lost block, even when
    // the server reports it twice (moved to a stand-in, then to the new default).
    bool heardSinceGap_ = false;
    // After a move, flushes of the stream asked for and not yet done, and
    // samples still to throw away once they are (0 to one block). Mainloop
    // thread only.
    int flushes_ = 0;
    std::size_t discard_ = 0;
    std::atomic<std::int64_t> lastBufferNs_{0};
};

// The capture the window (the default source) and harmolune-measure use.
std::unique_ptr<CaptureDevice> MakePulseCapture(const std::string& source = {});

}  // namespace harmolune
