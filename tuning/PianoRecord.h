#pragma once
// The record of the piano being tuned: each key's last final fine reading
// and the style chosen, kept in a versioned JSON file (docs/tuning.md gives
// the format). Read and written with nlohmann-json; the file is replaced
// atomically, a damaged one is set aside rather than overwritten, and one
// written by a newer version is left alone. Fields this version does not
// know are kept on rewrite. Standard library, nlohmann-json and tuning/.
// Not thread-safe: one caller at a time per file.

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tuning/Keys.h"

namespace harmolune::tuning {

inline constexpr int kPianoRecordVersion = 1;
inline constexpr std::string_view kPianoRecordName = "piano.json";
// What a damaged record's name is given when it is set aside.
inline constexpr std::string_view kSetAsideSuffix = ".endommagé";
// A record is a few tens of kilobytes; anything past this is not one.
inline constexpr std::size_t kMaxPianoRecordBytes = std::size_t{16} << 20;

// A field this version does not know: its name and its value as JSON text.
using UnknownField = std::pair<std::string, std::string>;

struct PianoRecord {
    int version = kPianoRecordVersion;
    std::string style = "Standard";
    std::map<int, MeasuredKey> keys;                        // by MIDI key number, 21 to 108
    std::vector<UnknownField> unknown;                      // at the top, in file order
    std::map<int, std::vector<UnknownField>> unknownInKey;  // in each key's entry
};

// The key's reading goes in, replacing any earlier reading of that key
// (and what that entry held that this version does not know). False, and
// nothing changed, for a key outside A0 to C8 or a reading the file could
// not hold (f1 not a positive number, a negative uncertainty...).
bool AddReading(PianoRecord& record, const MeasuredKey& key);

// The readings, lowest key first, as ComputeCurve takes them.
std::vector<MeasuredKey> Readings(const PianoRecord& record);

enum class RecordStatus {
    kLoaded,     // read
    kNew,        // no file yet: an empty record, nothing to say
    kSetAside,   // damaged: renamed to FILE.endommagé, an empty record starts
    kDamaged,    // damaged, and left where it is (not asked to, or could not)
    kNewer,      // written by a newer version: left alone
    kUnreadable  // could not be read (a folder, no permission...): left alone
};

struct LoadedRecord {
    PianoRecord record;  // empty unless kLoaded
    RecordStatus status = RecordStatus::kNew;
    std::string line;  // one French line for the user; "" for kLoaded and kNew

    // Whether the record may be saved over the file: never over a file that
    // is still there and could not be read as a record of this version.
    bool CanSave() const {
        return status == RecordStatus::kLoaded || status == RecordStatus::kNew ||
               status == RecordStatus::kSetAside;
    }
};

// Reads the record at path. A damaged one is set aside when setAside is
// true, as the window and `--piano` do; `--curve` only reads.
LoadedRecord LoadPianoRecord(const std::string& path, bool setAside = true);

// The record from the file's bytes, for tests and fuzzing: kLoaded,
// kDamaged or kNewer, with the French reason (without the file's name).
LoadedRecord ParsePianoRecord(std::string_view bytes);

// The file's text: the version first, then the style, the keys, and the
// fields this version does not know. Numbers round-trip exactly.
std::string PianoRecordText(const PianoRecord& record);

// Writes the record through a temporary file beside path, renamed over it;
// creates the folder when missing; writes through a link to the file it
// names. On failure returns false, the old file untouched, and puts one
// French line with the system's reason at its end in error.
bool SavePianoRecord(const std::string& path, const PianoRecord& record, std::string& error);

// $XDG_DATA_HOME/harmolune/piano.json, or ~/.local/share/harmolune/piano.json
// when xdgDataHome is empty or not absolute; "piano.json" with no home.
std::string DefaultPianoRecordPath(std::string_view xdgDataHome, std::string_view home);

}  // namespace harmolune::tuning
