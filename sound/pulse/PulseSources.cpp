#include "sound/pulse/PulseSources.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/timeval.h>

#include "sound/SoundTexts.h"

namespace harmolune {

namespace {

constexpr pa_usec_t kPatienceUs = 5 * PA_USEC_PER_SEC;

// What the callbacks fill in; they run inside pa_mainloop_iterate, on the
// caller's thread.
struct Listing {
    std::vector<SoundSource>* sources = nullptr;
    std::string defaultName;
    int pending = 0;  // queries not yet answered
    int failure = 0;  // a libpulse error code, or 0
    bool timedOut = false;
};

// libpulse's code for what went wrong, never 0.
int ErrorCode(pa_context* context) {
    const int code = context != nullptr ? pa_context_errno(context) : PA_ERR_INTERNAL;
    return code != 0 ? code : PA_ERR_UNKNOWN;
}

void OnServerInfo(pa_context*, const pa_server_info* info, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (info != nullptr && info->default_source_name != nullptr) {
        listing->defaultName = info->default_source_name;
    }
    --listing->pending;
}

void OnSourceInfo(pa_context* context, const pa_source_info* info, int eol, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (eol < 0) {
        listing->failure = ErrorCode(context);
    }
    if (eol != 0) {
        --listing->pending;
        return;
    }
    if (info != nullptr && info->name != nullptr) {
        listing->sources->push_back(
            {info->name, info->description != nullptr ? info->description : "", false});
    }
}

void OnTimeout(pa_mainloop_api*, pa_time_event*, const timeval*, void* data) {
    static_cast<Listing*>(data)->timedOut = true;
}

}  // namespace

bool ListPulseSources(std::vector<SoundSource>& sources, std::string& error) {
    sources.clear();
    pa_mainloop* mainloop = pa_mainloop_new();
    if (mainloop == nullptr) {
        error = sound_texts::kNoClient;
        return false;
    }
    pa_mainloop_api* api = pa_mainloop_get_api(mainloop);
    Listing listing;
    listing.sources = &sources;
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, kPatienceUs);
    pa_time_event* timeout = api->time_new(api, &when, &OnTimeout, &listing);

    pa_context* context = pa_context_new(api, "harmolune-measure");
    // Never start a server of our own: the desktop's is the one to list.
    if (context != nullptr &&
        pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        bool asked = false;
        while (!listing.timedOut && listing.failure == 0) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                listing.failure = ErrorCode(context);
                break;
            }
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                listing.pending = 2;
                for (pa_operation* op :
                     {pa_context_get_server_info(context, &OnServerInfo, &listing),
                      pa_context_get_source_info_list(context, &OnSourceInfo, &listing)}) {
                    if (op == nullptr) {
                        listing.failure = ErrorCode(context);
                        --listing.pending;
                    } else {
                        pa_operation_unref(op);
                    }
                }
            }
            if (asked && listing.pending == 0) {
                break;
            }
            if (pa_mainloop_iterate(mainloop, 1, nullptr) < 0) {
                listing.failure = PA_ERR_INTERNAL;
            }
        }
    } else {
        listing.failure = ErrorCode(context);
    }
    if (listing.timedOut && listing.failure == 0) {
        listing.failure = PA_ERR_TIMEOUT;
    }
    api->time_free(timeout);
    if (context != nullptr) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(mainloop);

    if (listing.failure != 0) {
        sources.clear();
        error = pa_strerror(listing.failure);
        return false;
    }
    for (SoundSource& source : sources) {
        source.isDefault = source.name == listing.defaultName;
    }
    return true;
}

}  // namespace harmolune
