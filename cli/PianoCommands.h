#pragma once
// harmolune-measure's piano commands: --piano adds a measured key's final
// reading to the piano's record; --curve prints the tuning curve of a
// record, as a table, as CSV, or as a Scala scale and key mapping.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "measure/FineEstimator.h"
#include "tuning/Curve.h"

namespace harmolune {

struct PianoOptions {
    std::string pianoFile;    // --piano: the record a measurement adds to
    std::string curveFile;    // --curve: the record whose curve is printed
    std::string style;        // --style; "" for the record's own
    bool csv = false;         // --csv
    std::string scalaPrefix;  // --scala: PREFIX.scl and PREFIX.kbm
};

// Takes the piano options out of args, leaving the rest in rest. False with
// the reason in error for a missing value, an unknown style, or options
// that do not go together (those of --curve without --curve).
bool SplitPianoOptions(const std::vector<std::string>& args, PianoOptions& options,
                       std::vector<std::string>& rest, std::string& error);

// A final fine reading of a piano key as the record keeps it; measuredAt is
// ISO 8601 UTC.
tuning::MeasuredKey ToMeasuredKey(int midiNote, const FineReading& reading,
                                  const std::string& measuredAt);

// Now, as ISO 8601 UTC to the second: "2026-12-09T14:03:27Z".
std::string UtcNow();

// --piano: adds the reading to the record at path, creating it if needed.
// Returns 0, or 2 when the record cannot be read or written (a damaged one
// is set aside first, and the reading still kept in a new record).
int AddToPiano(const std::string& path, int midiNote, const std::optional<FineReading>& reading,
               const std::string& measuredAt, std::ostream& err);

// --curve: 0, or 2 when the record cannot be read or a file not written.
int PrintCurve(const PianoOptions& options, std::ostream& out, std::ostream& err);

// The table: "style", 88 "curve" lines, "fit"; or the CSV of the same keys.
void WriteCurveTable(std::ostream& out, const tuning::Curve& curve);
void WriteCurveCsv(std::ostream& out, const tuning::Curve& curve);
// The Scala scale (88 notes from A0, not repeating at the octave) and the
// key mapping of MIDI 21 to 108 onto it.
std::string ScalaScale(const tuning::Curve& curve);
std::string ScalaKeyboardMapping(const tuning::Curve& curve);

}  // namespace harmolune
