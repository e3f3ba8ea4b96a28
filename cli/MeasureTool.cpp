#include "cli/MeasureTool.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <memory>
#include <ostream>

#include "cli/SoundFile.h"
#include "core/Numbers.h"
#include "measure/MeasuringCycle.h"
#include "measure/WavReader.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"

namespace harmolune {

const char* const kMeasureUsage =
    "usage: harmolune-measure --key K --octave O FILE\n"
    "       harmolune-measure --string S FILE\n"
    "       harmolune-measure (--key K --octave O | --string S) --record N [--source NAME]\n"
    "       harmolune-measure --list-sources\n"
    "       harmolune-measure --help | --version\n"
    "\n"
    "Measures a recording the way the window measures the instrument: chooses\n"
    "the note, arms a measurement, then analyses each block of 4096 samples.\n"
    "  --key K          piano key 0 (Do) to 11 (Si)\n"
    "  --octave O       octave -1 to 8, with --key\n"
    "  --string S       guitar string 4, 9, 14, 19, 23 or 28 (low Mi to high Mi)\n"
    "  --record N       measure N blocks from the default input instead of a file\n"
    "  --source NAME    with --record, record from this source instead\n"
    "  --list-sources   list the sources: name, default (yes or no), description\n"
    "  -h, --help       print this text\n"
    "  --version        print the version\n"
    "FILE may be WAV of any sample format, FLAC, Ogg Vorbis or Opus, MP3, AIFF,\n"
    "or anything else libsndfile reads, at 1000 Hz to 1 MHz, with any number of\n"
    "channels: it is converted as the window hears sound (32768 Hz, mono,\n"
    "8-bit), with one line on stderr saying so. 8-bit unsigned mono PCM WAV at\n"
    "32768 Hz is read as it is.\n"
    "- reads standard input. Standard input, pipes and FIFOs are read as they\n"
    "come, and carry only that 8-bit WAV: give other recordings as a file.\n"
    "Exit status: 0 when measured, 2 for bad arguments, a file that cannot be\n"
    "measured, a recording that fails, or output that cannot be written.\n";

namespace {

std::optional<long long> ParseInteger(const std::string& text) {
    long long value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Measures `blocks` blocks from recorder. The blocks are taken as they come:
// the ring keeps the newest when this falls behind.
int Record(const NoteChoice& note, long long blocks, CaptureDevice& recorder,
           const std::string& source, std::ostream& out, std::ostream& err) {
    const std::string input = source.empty() ? "the default input" : "source " + source;
    auto ring = std::make_unique<BlockRing>();
    std::string error;
    if (!recorder.Start(*ring, error)) {
        err << "harmolune-measure: cannot record from " << input << ": " << error
            << (source.empty() ? "" : " (--list-sources lists them)") << '\n';
        return 2;
    }
    long long taken = 0;
    bool silent = false;
    const BlockSource next = [&](Block& block) {
        if (taken == blocks) {
            return false;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kRecordPatienceMs);
        while (!ring->Pop(block)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                silent = true;
                return false;
            }
            // Without an eventfd the ring must be polled; 10 ms is a tenth of a block.
            const int fd = ring->WakeUpFd();
            pollfd wake{fd, POLLIN, 0};
            poll(&wake, fd >= 0 ? 1 : 0, fd >= 0 ? static_cast<int>(left.count()) : 10);
            ring->ClearWakeUp();
        }
        ++taken;
        return true;
    };
    RunMeasurement(note, next, out, [&ring] { return ring->Dropped(); });
    recorder.Stop();
    if (silent) {
        err << "harmolune-measure: no sound came from " << input << " for "
            << kRecordPatienceMs / 1000 << " s; " << taken << " of " << blocks
            << " blocks measured\n";
        return 2;
    }
    return 0;
}

// One line per source: its name, "yes" for the default and "no" for the
// others, and its description, tab-separated under a header.
int ListSources(const SoundInput& input, std::ostream& out, std::ostream& err) {
    if (!input.listSources) {
        err << "harmolune-measure: listing the sources is not available in this build\n";
        return 2;
    }
    std::vector<SoundSource> sources;
    std::string error;
    if (!input.listSources(sources, error)) {
        err << "harmolune-measure: cannot list the sources: " << error << '\n';
        return 2;
    }
    out << "source\tdefault\tdescription\n";
    for (const SoundSource& source : sources) {
        std::string description = source.description;
        std::replace_if(
            description.begin(), description.end(), [](char c) { return c == '\t' || c == '\n'; },
            ' ');
        out << source.name << '\t' << (source.isDefault ? "yes" : "no") << '\t' << description
            << '\n';
    }
    return 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return path != "-" && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Standard input, a pipe, a FIFO, a socket or a terminal: read once, front to back.
bool IsStream(const std::string& path) {
    struct stat status {};
    if (path == "-") {
        return true;
    }
    return stat(path.c_str(), &status) == 0 &&
           (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode));
}

constexpr const char* kStreamsCarryOnlyWav =
    " (standard input and pipes carry only 8-bit unsigned mono WAV at 32768 Hz; give other "
    "recordings as a file)";

// A recording in any other format, converted as the window's capture would
// receive the same sound: one line says so, and a second one when its peak
// stays below what the measurement takes.
int MeasureSoundFile(const NoteChoice& note, const std::string& path, std::ostream& out,
                     std::ostream& err) {
    SoundFile sound;
    std::string error;
    if (!sound.Open(path, error)) {
        err << "harmolune-measure: " << path << ": " << error << '\n';
        return 2;
    }
    err << "harmolune-measure: " << path << ": " << sound.Description()
        << "; measured as the window hears it (32768 Hz, mono, 8-bit)\n";
    long long blocks = 0;
    RunMeasurement(
        note,
        [&sound, &blocks](Block& b) {
            const bool more = sound.ReadBlock(b);
            blocks += more ? 1 : 0;
            return more;
        },
        out);
    if (!sound.ReadError().empty()) {
        err << "harmolune-measure: " << path << ": cannot read it to its end: " << sound.ReadError()
            << "; the " << blocks << " complete blocks before it were measured\n";
        return 2;
    }
    if (blocks > 0 && sound.PeakLevel() < kSoundThreshold) {
        err << "harmolune-measure: " << path << ": the level is low: its loudest sample reaches "
            << sound.PeakLevel() << " of 128, and a block is measured from " << kSoundThreshold
            << "; measured as it is, as a quiet microphone would be\n";
    }
    return 0;
}

}  // namespace

std::optional<MeasureOptions> ParseMeasureOptions(const std::vector<std::string>& args,
                                                  std::string& error) {
    MeasureOptions options;
    // Asking for help or the version is never an error, whatever else is given.
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            return options;
        }
        if (arg == "--version") {
            options.version = true;
            return options;
        }
    }
    if (std::find(args.begin(), args.end(), "--list-sources") != args.end()) {
        if (args.size() != 1) {
            error = "--list-sources takes no other argument";
            return std::nullopt;
        }
        options.listSources = true;
        return options;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--source") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "--source needs the name of a source (see --list-sources)";
                return std::nullopt;
            }
            options.source = args[++i];
            continue;
        }
        const bool takesValue =
            arg == "--key" || arg == "--octave" || arg == "--string" || arg == "--record";
        if (takesValue) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::optional<long long> value = ParseInteger(args[++i]);
            if (!value) {
                error = arg + " takes a whole number, not '" + args[i] + "'";
                return std::nullopt;
            }
            if (arg == "--key") {
                if (*value < 0 || *value > 11) {
                    error = "--key must lie from 0 to 11";
                    return std::nullopt;
                }
                options.key = static_cast<int>(*value);
            } else if (arg == "--octave") {
                if (*value < kMinOctave || *value > kMaxOctave) {
                    error = "--octave must lie from -1 to 8";
                    return std::nullopt;
                }
                options.octave = static_cast<int>(*value);
            } else if (arg == "--string") {
                if (!IsStringIndex(static_cast<int>(*value)) || *value > 28) {
                    error = "--string must be 4, 9, 14, 19, 23 or 28";
                    return std::nullopt;
                }
                options.string = static_cast<int>(*value);
            } else {
                if (*value < 1) {
                    error = "--record needs at least 1 block";
                    return std::nullopt;
                }
                options.recordBlocks = *value;
            }
        } else if (arg.starts_with("-") && arg != "-") {
            error = "unknown option " + arg;
            return std::nullopt;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            error = "only one file can be measured at a time";
            return std::nullopt;
        }
    }
    if (options.string && (options.key || options.octave)) {
        error = "choose either a key (--key, --octave) or a string (--string), not both";
        return std::nullopt;
    }
    if (!options.string && !(options.key && options.octave)) {
        error = "choose a note: --key with --octave, or --string";
        return std::nullopt;
    }
    if (options.recordBlocks.has_value() == !options.file.empty()) {
        error = "give one recording, or --record N";
        return std::nullopt;
    }
    if (!options.source.empty() && !options.recordBlocks) {
        error = "--source goes with --record";
        return std::nullopt;
    }
    return options;
}

void WriteFineLine(std::ostream& out, const std::optional<FineReading>& fine) {
    if (!fine) {
        out << "fine\t-\n";
        return;
    }
    const std::string cents = FormatFixed(std::abs(fine->cents), 2, ".");
    const bool zero = cents.find_first_not_of("0.") == std::string::npos;
    out << "fine\t" << FormatFixed(fine->frequencyHz, 4, ".") << '\t'
        << (fine->cents < 0.0 && !zero ? "-" : "+") << cents << '\t'
        << FormatFixed(fine->uncertaintyCents, 2, ".") << '\t' << FormatFixed(fine->seconds, 2, ".")
        << '\n';
}

void WritePartialsLine(std::ostream& out, const std::optional<FineReading>& fine) {
    if (!fine || fine->partialCount < 3 || !fine->inharmonicity) {
        out << "partials\t-\n";
        return;
    }
    // to_chars, like FormatFixed, never depends on the C library's locale.
    std::array<char, 32> b{};
    const auto written = std::to_chars(b.data(), b.data() + b.size(), *fine->inharmonicity,
                                       std::chars_format::scientific, 2);
    out << "partials\t" << std::string_view(b.data(), written.ptr - b.data()) << '\t';
    for (int i = 0; i < fine->partialCount; ++i) {
        out << (i > 0 ? " " : "") << fine->partials[i].number << ':'
            << FormatFixed(fine->partials[i].frequencyHz, 3, ".");
    }
    out << '\n';
}

void RunMeasurement(const NoteChoice& note, const BlockSource& next, std::ostream& out,
                    const LostBlocks& lostSoFar) {
    constexpr std::string_view kSeparator = ".";
    MeasuringCycle cycle;
    cycle.Arm(note.referenceText, note.note, kSeparator, note.program == kPianoProgram);
    out << "note\t" << note.name << '\t' << note.octaveText << '\t' << note.referenceText << '\n';
    out << kTickTableHeader;

    Block samples{};
    std::uint64_t lost = 0;
    for (long long index = 0; next(samples); ++index) {
        if (lostSoFar) {
            for (const std::uint64_t now = lostSoFar(); lost < now; ++lost) {
                cycle.BlockLost();
            }
        }
        const std::optional<TickReport> r = cycle.Tick(samples, note.referenceText, kSeparator);
        WriteTickRow(out, index, *r, static_cast<long long>(cycle.SamplingState()));
    }
    out << "result\t" << cycle.MeasuredText() << '\n';
    WriteFineLine(out, cycle.Fine());
    WritePartialsLine(out, cycle.Fine());
}

int MeasureMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const SoundInput& input) {
    std::string error;
    const std::optional<MeasureOptions> options = ParseMeasureOptions(args, error);
    if (!options) {
        err << "harmolune-measure: " << error << "\n\n" << kMeasureUsage;
        return 2;
    }
    if (options->help) {
        out << kMeasureUsage;
        return 0;
    }
    if (options->version) {
        out << "harmolune-measure " << HARMOLUNE_VERSION << '\n';
        return 0;
    }
    if (options->listSources) {
        return ListSources(input, out, err);
    }
    const NoteChoice note = options->string ? ChooseString(*options->string, ".")
                                            : ChooseKey(*options->key, *options->octave, ".");
    if (options->recordBlocks) {
        CaptureDevice* recorder = input.capture ? input.capture(options->source) : nullptr;
        if (recorder == nullptr) {
            err << "harmolune-measure: recording from the default input is not available in "
                   "this build\n";
            return 2;
        }
        return Record(note, *options->recordBlocks, *recorder, options->source, out, err);
    }
    const std::string& name = options->file == "-" ? "standard input" : options->file;
    WavReader wav;
    if (!wav.Open(options->file, error)) {
        // Anything else is read from a file, through libsndfile; standard
        // input and pipes carry only what WavReader reads.
        if (!IsRegularFile(options->file)) {
            err << "harmolune-measure: " << name << ": " << error
                << (IsStream(options->file) ? kStreamsCarryOnlyWav : "") << '\n';
            return 2;
        }
        return MeasureSoundFile(note, options->file, out, err);
    }
    RunMeasurement(
        note, [&wav](Block& b) { return wav.ReadBlock(b); }, out);
    // What was there is measured; what was not is said.
    const std::uint64_t blocks = wav.FoundBytes() / kFrameLength;
    if (!wav.ReadError().empty()) {
        err << "harmolune-measure: " << name << ": " << wav.ReadError() << " after "
            << wav.FoundBytes() << " bytes of samples; the " << blocks
            << " complete blocks before it were measured\n";
        return 2;
    }
    if (wav.CutShort()) {
        err << "harmolune-measure: " << name << ": warning: the data chunk declares "
            << *wav.DeclaredBytes() << " bytes but only " << wav.FoundBytes() << " follow; the "
            << blocks << " complete blocks there were measured\n";
    }
    return 0;
}

}  // namespace harmolune
