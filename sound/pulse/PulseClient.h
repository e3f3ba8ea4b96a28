#pragma once
// One connection to the sound server through libpulse, which PulseAudio and
// PipeWire's PulseAudio server both serve: the threaded mainloop, the context,
// and the reconnection when the server goes away (it stops or restarts). A
// suspended and resumed device keeps the connection: the capture sees a gap in
// its stream, not a loss. A backend owns one, and makes its streams when asked
// to.
//
// When the connection or a stream fails after it was up, everything is torn
// down on the mainloop thread, and the client connects again after 50 ms, then
// after twice as long each time up to 500 ms, until the server answers; the
// backend's streams are then made again. The connection asks for no server by
// name; streams that name no device follow the default source and sink.
//
// To the user the sound is one thing, however many clients the program has:
// the first client to lose it writes one line on stderr, and the last one to
// get it back writes one more, each behind the program's name.

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <string>

#include "sound/SoundTexts.h"

namespace harmolune {

// Lets go of an operation libpulse has started, if it started one: its result
// is not waited for, and the operation runs on without us.
inline void ReleaseOperation(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

class PulseClient {
  public:
    // What the owner does with the connection. Both are called on the
    // mainloop thread with the mainloop locked.
    class Streams {
      public:
        virtual ~Streams() = default;
        // The context is ready: make the streams. again is true when they are
        // made anew after a loss.
        virtual void Make(pa_context* context, bool again) = 0;
        // Clear the streams' callbacks, then cork, disconnect and release them.
        virtual void Drop() = 0;
    };

    // name is the application name the server shows; threadName names the
    // mainloop thread (15 characters at most), as top and perf show it.
    PulseClient(Streams& streams, std::string name, std::string threadName);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    // Starts the mainloop thread and connects, then waits until the streams
    // report ready, the first attempt fails, or 5 s pass. On failure returns
    // false with libpulse's own description in error; with keepTrying the
    // client goes on trying in the background, otherwise it is stopped.
    // Any thread but the mainloop's; not while started.
    bool Start(std::string& error, bool keepTrying);

    // Drops the streams and the connection and ends the mainloop thread. Safe
    // in any state, more than once. Any thread but the mainloop's.
    void Stop();

    // Called by the owner's stream callbacks (mainloop thread, locked).
    void StreamsReady();
    void StreamFailed(pa_context* context);

    // A stream's state callback, with the client as its data: a ready stream
    // brings the sound back, a failed one starts the retries.
    static void OnStreamState(pa_stream* stream, void* client);

    // Corks a ready stream (unless it is corked already), disconnects and
    // releases it, and sets it to null. The owner clears its callbacks first.
    // Mainloop thread, locked.
    static void CloseStream(pa_stream*& stream, bool corked);

    // The two lines on stderr, after the tag.
    static constexpr const char* kLostLine = sound_texts::kLostLine;
    static constexpr const char* kBackLine = sound_texts::kBackLine;

    // The program's name and a colon, which begin the two lines: "harmolune: "
    // unless a program sets its own, before it starts any client.
    static void SetLineTag(std::string tag);

    // True while this client's sound is lost. Any thread.
    bool Lost() const { return lost_.load(std::memory_order_acquire); }
    // Times the streams were made anew after a loss. Any thread.
    int Recoveries() const { return recoveries_.load(std::memory_order_acquire); }

    // Holds the mainloop lock: the streams may be used from another thread
    // only under it. Does nothing when the client is not started.
    class Lock {
      public:
        explicit Lock(PulseClient& client);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* mainloop_;
    };

  private:
    static void OnContextState(pa_context* context, void* self);
    static void OnRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                        void* self);
    static void OnStartTimeout(pa_mainloop_api* api, pa_time_event* event, const struct timeval*,
                               void* self);

    void Connect();
    void Disconnect();
    void Failed(int code);
    void ScheduleRetry();
    void SetLost(bool lost, bool quietly);

    Streams& streams_;
    const std::string name_;
    const std::string threadName_;

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* startTimeout_ = nullptr;
    int retryDelayMs_ = 0;

    // Under the mainloop lock.
    bool keepTrying_ = false;
    bool stopping_ = false;
    bool settled_ = false;  // the first attempt has ended, one way or the other
    bool everReady_ = false;
    int startError_ = 0;
    bool streamsMadeOnce_ = false;

    std::atomic<bool> lost_{false};
    std::atomic<int> recoveries_{0};
};

}  // namespace harmolune
