#pragma once
// The command-line twin of the window's measuring cycle: chooses a note as a
// click would, arms a measurement, then runs one tick per block and prints
// what each block gave. Kept apart from main() so that tests can drive it.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "core/Block.h"
#include "core/Notes.h"
#include "measure/LiveReading.h"
#include "measure/MeasuringCycle.h"
#include "measure/TickTable.h"
#include "sound/SoundSource.h"

namespace harmolune {

class CaptureDevice;

struct MeasureOptions {
    std::optional<int> key;
    std::optional<int> octave;
    std::optional<int> string;
    std::optional<long long> recordBlocks;  // measure from the sound input
    std::string source;                     // with --record: the source's name, or the default
    std::string file;                       // "-" for standard input
    bool live = false;                      // also the tuning display's reading, block by block
    bool listSources = false;               // list the sound server's sources, nothing else
    bool help = false;                      // print the usage, nothing else
    bool version = false;                   // print the version, nothing else
};

// Parses the arguments (without the program name). On failure returns
// nullopt and puts the reason in error. --help, -h or --version anywhere
// asks for that alone; --list-sources must come alone.
std::optional<MeasureOptions> ParseMeasureOptions(const std::vector<std::string>& args,
                                                  std::string& error);

extern const char* const kMeasureUsage;

// Fills the block and returns true, or returns false when there are no more.
using BlockSource = std::function<bool(Block&)>;

// How many blocks the source has lost so far (a recording that fell behind
// or lost its input); none for a file.
using LostBlocks = std::function<std::uint64_t()>;

// Prints the note line, the header, one line per block, the result line, the
// fine measurement's line and the partials' line; returns the fine reading
// as the last block left it. With live, each block row whose block changed
// the tuning display's reading is followed by a live line.
std::optional<FineReading> RunMeasurement(const NoteChoice& note, const BlockSource& next,
                                          std::ostream& out, const LostBlocks& lostSoFar = {},
                                          bool live = false);

// "live", the block's index, the reading's frequency in hertz (4 decimals),
// its signed cents against the note and its uncertainty in cents (2
// decimals each), and its state: en-cours, stable or final; tab-separated.
void WriteLiveLine(std::ostream& out, long long block, const LiveReading& reading);

// "fine", then the settled frequency in hertz (4 decimals), the signed cents
// against the note, the uncertainty in cents and the seconds of sound used
// (2 decimals each), tab-separated; "fine" and "-" when there is none.
void WriteFineLine(std::ostream& out, const std::optional<FineReading>& fine);

// "partials", then the inharmonicity B in scientific notation to 3
// significant digits (3.04e-04) and each partial measured as n:FREQ, FREQ in
// hertz with 3 decimals, tab-separated, the partials separated by spaces;
// "partials" and "-" with fewer than three partials or for a guitar string.
void WritePartialsLine(std::ostream& out, const std::optional<FineReading>& fine);

// What --record, --source and --list-sources reach: main() gives the sound
// server's, tests give fakes. An empty member refuses its options.
struct SoundInput {
    // The capture from the named source, or from the default one for "";
    // owned by the giver, and alive until the tool returns.
    std::function<CaptureDevice*(const std::string& source)> capture;
    // The server's sources; false with the server's reason.
    std::function<bool(std::vector<SoundSource>& sources, std::string& error)> listSources;
};

// The whole tool: returns the exit status (0, or 2 for bad arguments, a file
// that cannot be measured or read to its end, a recording that cannot start
// or stops giving blocks, or sources that cannot be listed). A data chunk cut
// short is measured over its complete blocks, with a warning on err.
int MeasureMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const SoundInput& input = {});

// How long --record waits for a block before it gives up. A fresh sound
// server can hold the first block back for about 2 s.
inline constexpr int kRecordPatienceMs = 5000;

}  // namespace harmolune
