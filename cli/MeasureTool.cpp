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

#include "cli/MeasureTexts.h"
#include "cli/PianoCommands.h"
#include "cli/PianoTexts.h"
#include "cli/SoundFile.h"
#include "core/Numbers.h"
#include "measure/LiveTuner.h"
#include "measure/MeasuringCycle.h"
#include "measure/WavReader.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"

namespace harmolune {

const char* const kMeasureUsage = measure_texts::kUsage;

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
           const std::string& source, bool live, std::ostream& out, std::ostream& err,
           std::optional<FineReading>& reading) {
    const std::string input =
        source.empty() ? measure_texts::kDefaultInput : measure_texts::NamedSource(source);
    auto ring = std::make_unique<BlockRing>();
    std::string error;
    if (!recorder.Start(*ring, error)) {
        err << measure_texts::kTag << measure_texts::CannotRecord(input, !source.empty()) << error
            << '\n';
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
    reading = RunMeasurement(
        note, next, out, [&ring] { return ring->Dropped(); }, live);
    recorder.Stop();
    if (silent) {
        err << measure_texts::kTag
            << measure_texts::NoSoundCame(input, kRecordPatienceMs / 1000, taken, blocks) << '\n';
        return 2;
    }
    return 0;
}

// One line per source: its name, "yes" for the default and "no" for the
// others, and its description, tab-separated under a header.
int ListSources(const SoundInput& input, std::ostream& out, std::ostream& err) {
    if (!input.listSources) {
        err << measure_texts::kTag << measure_texts::kNoSourceList << '\n';
        return 2;
    }
    std::vector<SoundSource> sources;
    std::string error;
    if (!input.listSources(sources, error)) {
        err << measure_texts::kTag << measure_texts::kCannotList << error << '\n';
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

// A recording in any other format, converted as the window's capture would
// receive the same sound: one line says so, and a second one when its peak
// stays below what the measurement takes.
int MeasureSoundFile(const NoteChoice& note, const std::string& path, bool live, std::ostream& out,
                     std::ostream& err, std::optional<FineReading>& reading) {
    SoundFile sound;
    std::string error;
    if (!sound.Open(path, error)) {
        err << measure_texts::kTag << path << " : " << error << '\n';
        return 2;
    }
    err << measure_texts::kTag << path << " : " << measure_texts::Converted(sound.Description())
        << '\n';
    long long blocks = 0;
    reading = RunMeasurement(
        note,
        [&sound, &blocks](Block& b) {
            const bool more = sound.ReadBlock(b);
            blocks += more ? 1 : 0;
            return more;
        },
        out, {}, live);
    if (!sound.ReadError().empty()) {
        err << measure_texts::kTag << path << " : "
            << measure_texts::ReadStopped(static_cast<unsigned long long>(blocks))
            << sound.ReadError() << '\n';
        return 2;
    }
    if (blocks > 0 && sound.PeakLevel() < kSoundThreshold) {
        err << measure_texts::kTag << path << " : "
            << measure_texts::LowLevel(sound.PeakLevel(), kSoundThreshold) << '\n';
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
            error = measure_texts::kListSourcesAlone;
            return std::nullopt;
        }
        options.listSources = true;
        return options;
    }
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--live") {
            options.live = true;
            continue;
        }
        if (arg == "--source") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = measure_texts::kSourceNeedsName;
                return std::nullopt;
            }
            options.source = args[++i];
            continue;
        }
        const bool takesValue =
            arg == "--key" || arg == "--octave" || arg == "--string" || arg == "--record";
        if (takesValue) {
            if (i + 1 >= args.size()) {
                error = measure_texts::NeedsValue(arg);
                return std::nullopt;
            }
            const std::optional<long long> value = ParseInteger(args[++i]);
            if (!value) {
                error = measure_texts::NotWholeNumber(arg, args[i]);
                return std::nullopt;
            }
            if (arg == "--key") {
                if (*value < 0 || *value > 11) {
                    error = measure_texts::kKeyRange;
                    return std::nullopt;
                }
                options.key = static_cast<int>(*value);
            } else if (arg == "--octave") {
                if (*value < kMinOctave || *value > kMaxOctave) {
                    error = measure_texts::kOctaveRange;
                    return std::nullopt;
                }
                options.octave = static_cast<int>(*value);
            } else if (arg == "--string") {
                if (!IsStringIndex(static_cast<int>(*value)) || *value > 28) {
                    error = measure_texts::kStringChoice;
                    return std::nullopt;
                }
                options.string = static_cast<int>(*value);
            } else {
                if (*value < 1) {
                    error = measure_texts::kRecordAtLeastOne;
                    return std::nullopt;
                }
                options.recordBlocks = *value;
            }
        } else if (arg.starts_with("-") && arg != "-") {
            error = measure_texts::UnknownOption(arg);
            return std::nullopt;
        } else if (options.file.empty()) {
            options.file = arg;
        } else {
            error = measure_texts::kOneFile;
            return std::nullopt;
        }
    }
    if (options.string && (options.key || options.octave)) {
        error = measure_texts::kKeyOrString;
        return std::nullopt;
    }
    if (!options.string && !(options.key && options.octave)) {
        error = measure_texts::kChooseNote;
        return std::nullopt;
    }
    if (options.recordBlocks.has_value() == !options.file.empty()) {
        error = measure_texts::kOneRecording;
        return std::nullopt;
    }
    if (!options.source.empty() && !options.recordBlocks) {
        error = measure_texts::kSourceWithRecord;
        return std::nullopt;
    }
    return options;
}

std::optional<FineReading> RunMeasurement(const NoteChoice& note, const BlockSource& next,
                                          std::ostream& out, const LostBlocks& lostSoFar,
                                          bool live) {
    constexpr std::string_view kSeparator = ".";
    MeasuringCycle cycle;
    cycle.Arm(note.referenceText, note.note, kSeparator, note.program == kPianoProgram);
    out << "note\t" << note.name << '\t' << note.octaveText << '\t' << note.referenceText << '\n';
    out << kTickTableHeader;

    // As the window's display follows it: the note chosen, no tone played.
    std::unique_ptr<LiveTuner> tuner;
    if (live) {
        tuner = std::make_unique<LiveTuner>();
        tuner->Choose(note.note, note.program == kPianoProgram);
    }
    Block samples{};
    std::uint64_t lost = 0;
    for (long long index = 0; next(samples); ++index) {
        if (lostSoFar) {
            for (const std::uint64_t now = lostSoFar(); lost < now; ++lost) {
                cycle.BlockLost();
                if (tuner) {
                    tuner->Gap();
                }
            }
        }
        const std::optional<TickReport> r = cycle.Tick(samples, note.referenceText, kSeparator);
        WriteTickRow(out, index, *r, static_cast<long long>(cycle.SamplingState()));
        if (tuner) {
            tuner->Push(samples);
            if (tuner->Changed() && tuner->Reading()) {
                WriteLiveLine(out, index, *tuner->Reading());
            }
        }
    }
    out << "result\t" << cycle.MeasuredText() << '\n';
    WriteFineLine(out, cycle.Fine());
    WritePartialsLine(out, cycle.Fine());
    return cycle.Fine();
}

namespace {

// The note measured from a file, a pipe or the default input.
int MeasureNote(const MeasureOptions& options, const NoteChoice& note, const SoundInput& input,
                std::ostream& out, std::ostream& err, std::optional<FineReading>& reading) {
    if (options.recordBlocks) {
        CaptureDevice* recorder = input.capture ? input.capture(options.source) : nullptr;
        if (recorder == nullptr) {
            err << measure_texts::kTag << measure_texts::kNoRecording << '\n';
            return 2;
        }
        return Record(note, *options.recordBlocks, *recorder, options.source, options.live, out,
                      err, reading);
    }
    std::string error;
    const std::string& name = options.file == "-" ? measure_texts::kStandardInput : options.file;
    WavReader wav;
    if (!wav.Open(options.file, error)) {
        // Anything else is read from a file, through libsndfile; standard
        // input and pipes carry only what WavReader reads.
        if (!IsRegularFile(options.file)) {
            err << measure_texts::kTag << name << " : " << error
                << (IsStream(options.file) ? measure_texts::kStreamsCarryOnlyWav : "") << '\n';
            return 2;
        }
        return MeasureSoundFile(note, options.file, options.live, out, err, reading);
    }
    reading = RunMeasurement(
        note, [&wav](Block& b) { return wav.ReadBlock(b); }, out, {}, options.live);
    // What was there is measured; what was not is said.
    const std::uint64_t blocks = wav.FoundBytes() / kFrameLength;
    if (!wav.ReadError().empty()) {
        err << measure_texts::kTag << name << " : "
            << measure_texts::WavReadStopped(wav.FoundBytes(), blocks) << wav.ReadError() << '\n';
        return 2;
    }
    if (wav.CutShort()) {
        err << measure_texts::kTag << name << " : "
            << measure_texts::CutShort(*wav.DeclaredBytes(), wav.FoundBytes(), blocks) << '\n';
    }
    return 0;
}

}  // namespace

int MeasureMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const SoundInput& input) {
    std::string error;
    PianoOptions piano;
    std::vector<std::string> rest;
    if (!SplitPianoOptions(args, piano, rest, error)) {
        err << measure_texts::kTag << error << "\n\n" << kMeasureUsage;
        return 2;
    }
    // --curve comes alone, or with --help or --version, which win.
    if (!piano.curveFile.empty() && rest.empty()) {
        return PrintCurve(piano, out, err);
    }
    const std::optional<MeasureOptions> options = ParseMeasureOptions(rest, error);
    if (!options) {
        err << measure_texts::kTag << error << "\n\n" << kMeasureUsage;
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
    if (!piano.pianoFile.empty() &&
        (options->string || note.note < tuning::kLowestKey || note.note > tuning::kHighestKey)) {
        err << measure_texts::kTag << piano_texts::kPianoNeedsKey << "\n\n" << kMeasureUsage;
        return 2;
    }
    std::optional<FineReading> reading;
    const int status = MeasureNote(*options, note, input, out, err, reading);
    if (status != 0 || piano.pianoFile.empty()) {
        return status;
    }
    return AddToPiano(piano.pianoFile, note.note, reading, UtcNow(), err);
}

}  // namespace harmolune
