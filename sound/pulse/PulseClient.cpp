#include "sound/pulse/PulseClient.h"

#include <pulse/error.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>

namespace harmolune {

namespace {

constexpr int kFirstRetryMs = 50;
constexpr int kLongestRetryMs = 500;
constexpr pa_usec_t kStartPatienceUs = 5 * PA_USEC_PER_SEC;

pa_time_event* After(pa_mainloop_api* api, pa_usec_t delayUs, pa_time_event_cb_t callback,
                     void* self) {
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, delayUs);
    return api->time_new(api, &when, callback, self);
}

// How many of the program's clients have lost the sound: the line goes out
// as the count leaves zero and as it comes back to it.
std::mutex lostMutex;
int lostClients = 0;
std::string lineTag = sound_texts::kDefaultTag;  // under lostMutex

}  // namespace

PulseClient::PulseClient(Streams& streams, std::string name, std::string threadName)
    : streams_(streams), name_(std::move(name)), threadName_(std::move(threadName)) {}

PulseClient::~PulseClient() { Stop(); }

bool PulseClient::Start(std::string& error, bool keepTrying) {
    Stop();
    mainloop_ = pa_threaded_mainloop_new();
    if (mainloop_ == nullptr) {
        error = sound_texts::kNoClient;
        return false;
    }
    pa_threaded_mainloop_set_name(mainloop_, threadName_.c_str());
    pa_threaded_mainloop_lock(mainloop_);
    keepTrying_ = keepTrying;
    stopping_ = false;
    settled_ = false;
    everReady_ = false;
    streamsMadeOnce_ = false;
    startError_ = 0;
    retryDelayMs_ = 0;
    Connect();
    startTimeout_ = After(pa_threaded_mainloop_get_api(mainloop_), kStartPatienceUs,
                          &PulseClient::OnStartTimeout, this);
    const bool running = pa_threaded_mainloop_start(mainloop_) >= 0;
    while (running && !settled_) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    const int code = running ? startError_ : PA_ERR_INTERNAL;
    pa_threaded_mainloop_unlock(mainloop_);
    if (running && code == 0) {
        return true;
    }
    error = pa_strerror(code);
    if (running && keepTrying) {
        // Not heard yet: the caller says why, and the first connection is
        // announced like a return.
        const PulseClient::Lock lock(*this);
        SetLost(true, true);
        return false;
    }
    Stop();
    return false;
}

void PulseClient::Stop() {
    if (mainloop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(mainloop_);
    stopping_ = true;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_);
    for (pa_time_event** event : {&retry_, &startTimeout_}) {
        if (*event != nullptr) {
            api->time_free(*event);
            *event = nullptr;
        }
    }
    Disconnect();
    pa_threaded_mainloop_unlock(mainloop_);
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
    mainloop_ = nullptr;
    // Stopped, it no longer waits for the sound: the others may announce it.
    SetLost(false, true);
}

// Under the lock.
void PulseClient::Connect() {
    context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), name_.c_str());
    if (context_ == nullptr) {
        Failed(PA_ERR_INTERNAL);
        return;
    }
    pa_context_set_state_callback(context_, &PulseClient::OnContextState, this);
    // Never start a server of our own: the desktop's is the one to follow.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        Failed(pa_context_errno(context_));
    }
}

// Under the lock.
void PulseClient::Disconnect() {
    if (context_ == nullptr) {
        return;
    }
    streams_.Drop();
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

// Mainloop thread.
void PulseClient::OnContextState(pa_context* context, void* self) {
    auto* client = static_cast<PulseClient*>(self);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            client->streams_.Make(context, client->streamsMadeOnce_);
            client->streamsMadeOnce_ = true;
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            client->Failed(pa_context_errno(context));
            break;
        case PA_CONTEXT_UNCONNECTED:
        case PA_CONTEXT_CONNECTING:
        case PA_CONTEXT_AUTHORIZING:
        case PA_CONTEXT_SETTING_NAME:
            break;
    }
}

void PulseClient::StreamsReady() {
    if (!settled_) {
        settled_ = true;
        startError_ = 0;
        pa_threaded_mainloop_signal(mainloop_, 0);
    }
    everReady_ = true;
    retryDelayMs_ = 0;
    if (lost_.load(std::memory_order_relaxed)) {
        recoveries_.fetch_add(1, std::memory_order_release);
        SetLost(false, false);
    }
}

void PulseClient::StreamFailed(pa_context* context) { Failed(pa_context_errno(context)); }

void PulseClient::OnStreamState(pa_stream* stream, void* client) {
    auto* self = static_cast<PulseClient*>(client);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->StreamsReady();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->StreamFailed(pa_stream_get_context(stream));
            break;
        case PA_STREAM_UNCONNECTED:
        case PA_STREAM_CREATING:
            break;
    }
}

void PulseClient::CloseStream(pa_stream*& stream, bool corked) {
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY && !corked) {
        ReleaseOperation(pa_stream_cork(stream, 1, nullptr, nullptr));
    }
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING) {
        pa_stream_disconnect(stream);
    }
    pa_stream_unref(stream);
    stream = nullptr;
}

// The connection or a stream failed: say so once, and try again later. The
// teardown waits for the retry, outside the callback that reported it.
void PulseClient::Failed(int code) {
    if (stopping_) {
        return;
    }
    if (!settled_) {
        settled_ = true;
        startError_ = code != 0 ? code : PA_ERR_UNKNOWN;
        pa_threaded_mainloop_signal(mainloop_, 0);
        if (!keepTrying_) {
            return;  // Start stops everything
        }
    } else if (everReady_) {
        SetLost(true, false);
    }
    ScheduleRetry();
}

// Counts this client in or out of the program's lost ones; the first in and
// the last out write their line, unless quietly.
void PulseClient::SetLost(bool lost, bool quietly) {
    if (lost_.load(std::memory_order_relaxed) == lost) {
        return;
    }
    lost_.store(lost, std::memory_order_release);
    const std::lock_guard<std::mutex> lock(lostMutex);
    lostClients += lost ? 1 : -1;
    if (!quietly && lostClients == (lost ? 1 : 0)) {
        std::fprintf(stderr, "%s%s\n", lineTag.c_str(), lost ? kLostLine : kBackLine);
    }
}

void PulseClient::SetLineTag(std::string tag) {
    const std::lock_guard<std::mutex> lock(lostMutex);
    lineTag = std::move(tag);
}

void PulseClient::ScheduleRetry() {
    if (retry_ != nullptr) {
        return;
    }
    retryDelayMs_ =
        retryDelayMs_ == 0 ? kFirstRetryMs : std::min(2 * retryDelayMs_, kLongestRetryMs);
    retry_ = After(pa_threaded_mainloop_get_api(mainloop_),
                   static_cast<pa_usec_t>(retryDelayMs_) * PA_USEC_PER_MSEC, &PulseClient::OnRetry,
                   this);
}

// Mainloop thread, from the mainloop itself: no context callback is running.
void PulseClient::OnRetry(pa_mainloop_api* api, pa_time_event* event, const timeval*, void* self) {
    auto* client = static_cast<PulseClient*>(self);
    api->time_free(event);
    client->retry_ = nullptr;
    if (client->stopping_) {
        return;
    }
    client->Disconnect();
    client->Connect();
}

void PulseClient::OnStartTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                                 void* self) {
    auto* client = static_cast<PulseClient*>(self);
    api->time_free(event);
    client->startTimeout_ = nullptr;
    if (!client->settled_) {
        client->settled_ = true;
        client->startError_ = PA_ERR_TIMEOUT;
        pa_threaded_mainloop_signal(client->mainloop_, 0);
    }
}

PulseClient::Lock::Lock(PulseClient& client) : mainloop_(client.mainloop_) {
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_lock(mainloop_);
    }
}

PulseClient::Lock::~Lock() {
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

}  // namespace harmolune
