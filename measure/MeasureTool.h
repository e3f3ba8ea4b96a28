#pragma once
// The command-line twin of the window's measuring cycle: chooses a note as a
// click would, arms a measurement, then runs one tick per block and prints
// what each block gave. Kept apart from main() so that tests can drive it.

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "capture/Block.h"
#include "reference/Notes.h"

namespace harmolune {

struct MeasureOptions {
    std::optional<int> key;
    std::optional<int> octave;
    std::optional<int> string;
    std::optional<long long> recordBlocks;  // measure from the default input
    std::string file;
};

// Parses the arguments (without the program name). On failure returns
// nullopt and puts the reason in error.
std::optional<MeasureOptions> ParseMeasureOptions(const std::vector<std::string>& args,
                                                  std::string& error);

extern const char* const kMeasureUsage;

// Fills the block and returns true, or returns false when there are no more.
using BlockSource = std::function<bool(Block&)>;

// Prints the note line, the header, one line per block and the result line.
void RunMeasurement(const NoteChoice& note, const BlockSource& next, std::ostream& out);

// The whole tool: returns the exit status (0, or 2 for bad arguments or a
// file that cannot be measured).
int MeasureMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace harmolune
