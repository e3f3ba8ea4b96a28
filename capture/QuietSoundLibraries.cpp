#include "capture/QuietSoundLibraries.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define HARMOLUNE_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HARMOLUNE_LEAK_CHECK 1
#endif
#endif
#ifdef HARMOLUNE_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace harmolune {

namespace {

void IgnoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void IgnoreJackMessage(const char*) {}

using JackMessageFunction = void (*)(const char*);
using JackSetFunction = void (*)(JackMessageFunction);

// The JACK client library is present only as PortAudio's dependency, and may
// be either JACK implementation, so it is reached by name rather than linked.
void QuietJack() {
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"}) {
        if (void* symbol = dlsym(RTLD_DEFAULT, name)) {
            reinterpret_cast<JackSetFunction>(symbol)(IgnoreJackMessage);
        }
    }
}

}  // namespace

void QuietSoundLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(IgnoreAlsaMessage);
        QuietJack();
    });
}

#ifdef HARMOLUNE_LEAK_CHECK
SoundLibraryLoad::SoundLibraryLoad() { __lsan_disable(); }
SoundLibraryLoad::~SoundLibraryLoad() { __lsan_enable(); }
#else
SoundLibraryLoad::SoundLibraryLoad() = default;
SoundLibraryLoad::~SoundLibraryLoad() = default;
#endif

}  // namespace harmolune
