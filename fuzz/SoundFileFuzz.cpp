// Fuzzes the reader of recordings in other formats: any bytes, read from
// memory through libsndfile's virtual I/O, end either in one line of reason
// or in full blocks whose peak the reader reports; the same bytes as a file
// give the same reason or the same blocks. Then the tool itself on that
// file: status 2 with one line, or the conversion line and one output line
// per block.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/MeasureTool.h"
#include "cli/SoundFile.h"
#include "fuzz/FuzzCheck.h"
#include "measure/WavReader.h"

namespace {

int Lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

struct Reading {
    bool opened = false;
    std::string error;
    std::string description;
    long long blocks = 0;
    std::uint64_t sum = 0;  // of every sample, to compare two readings
    std::string readError;
};

// Reads everything the reader gives, checking the blocks as they come.
void ReadAll(harmolune::SoundFile& sound, Reading& r) {
    r.description = sound.Description();
    FUZZ_CHECK(!r.description.empty());
    harmolune::Block block{};
    int peak = 0;
    while (sound.ReadBlock(block)) {
        ++r.blocks;
        peak = std::max(peak, harmolune::BlockLevel(block));
        for (const std::uint8_t sample : block) {
            r.sum += sample;
        }
        FUZZ_CHECK(sound.PeakLevel() == peak);
    }
    r.readError = sound.ReadError();
    FUZZ_CHECK(r.readError.find('\n') == std::string::npos);
}

}  // namespace

// libsndfile 1.2.0 gives up on an Ogg stream whose Vorbis headers are damaged
// without clearing the vorbis_info it set up: a leak in the system's
// libraries, not in ours (scripts/lsan.supp holds the same line).
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name LeakSanitizer calls
extern "C" const char* __lsan_default_suppressions() { return "leak:vorbis_info_init\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reading memory;
    {
        harmolune::SoundFile sound;
        memory.opened = sound.OpenMemory(data, size, memory.error);
        if (memory.opened) {
            ReadAll(sound, memory);
        } else {
            FUZZ_CHECK(!memory.error.empty());
            FUZZ_CHECK(memory.error.find('\n') == std::string::npos);
        }
    }

    static const int fd = memfd_create("sound-file-fuzz", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    Reading file;
    {
        harmolune::SoundFile sound;
        file.opened = sound.Open(path, file.error);
        if (file.opened) {
            ReadAll(sound, file);
        }
    }
    FUZZ_CHECK(file.opened == memory.opened);
    FUZZ_CHECK(file.error == memory.error);
    FUZZ_CHECK(file.blocks == memory.blocks);
    FUZZ_CHECK(file.sum == memory.sum);
    FUZZ_CHECK(file.readError == memory.readError);

    // The tool reads what WavReader takes through WavReader, as before.
    harmolune::WavReader wav;
    std::string wavError;
    if (wav.Open(path, wavError)) {
        return 0;
    }
    std::ostringstream out;
    std::ostringstream err;
    const int status = harmolune::MeasureMain({"--key", "9", "--octave", "4", path}, out, err);
    const std::string prefix = "harmolune-measure: " + path + " : ";
    if (!memory.opened) {
        FUZZ_CHECK(status == 2);
        FUZZ_CHECK(out.str().empty());
        FUZZ_CHECK(err.str() == prefix + memory.error + "\n");
        return 0;
    }
    FUZZ_CHECK(err.str().rfind(prefix + memory.description +
                                   " ; mesuré comme la fenêtre l'entend (32768 Hz, mono, 8 bits)\n",
                               0) == 0);
    FUZZ_CHECK(Lines(err.str()) <= 2);
    FUZZ_CHECK(status == (memory.readError.empty() ? 0 : 2));
    // The note line, the header, one line per block, the result line, the fine
    // measurement's line and the partials line.
    FUZZ_CHECK(Lines(out.str()) == memory.blocks + 5);
    return 0;
}
