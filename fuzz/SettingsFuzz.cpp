// Fuzzes the octave settings file: any bytes as the file's content give an
// octave from -1 to 8 and never a crash; an empty file gives the default
// octave 3 and says so. The bytes go to an in-memory file, so nothing
// touches the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/Notes.h"
#include "fuzz/FuzzCheck.h"
#include "settings/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("settings-fuzz", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    const harmolune::LoadedOctave loaded = harmolune::LoadOctave(path);
    FUZZ_CHECK(loaded.octave >= harmolune::kMinOctave && loaded.octave <= harmolune::kMaxOctave);
    if (size == 0) {
        FUZZ_CHECK(loaded.octave == harmolune::kDefaultOctave);
        FUZZ_CHECK(!loaded.note.empty());
    } else {
        // The file and its text agree: only the first line counts, and only
        // its first 4 KiB.
        const std::string_view text(reinterpret_cast<const char*>(data), size);
        FUZZ_CHECK(loaded.note.empty());
        FUZZ_CHECK(loaded.octave == harmolune::OctaveFromFirstLine(text));
        if (size > harmolune::kMaxSettingsLine) {
            FUZZ_CHECK(loaded.octave ==
                       harmolune::OctaveFromFirstLine(text.substr(0, harmolune::kMaxSettingsLine)));
        }
    }
    return 0;
}
