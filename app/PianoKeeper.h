#pragma once
// The piano being tuned, as the window keeps it: its record, read once at
// start-up from the record file; each final reading of a piano key added to
// it and saved; the style; a new piano; and the curve, computed again after
// each change (a tenth of a millisecond). A record the window may not write
// over (one from a newer version, or one it could neither read nor set
// aside) is left alone, and the readings are then kept in memory only.
//
// Standard library, measure/ and tuning/ only, so that it is tested without
// a window. Each call that fails to save gives one French line for stderr
// and changes nothing else: the reading stays in memory and the next change
// saves it. Not thread-safe: the UI thread only.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "measure/LiveReading.h"
#include "tuning/Curve.h"
#include "tuning/PianoRecord.h"

namespace harmolune {

// A final fine reading of a piano key as the record keeps it; measuredAt is
// ISO 8601 UTC.
tuning::MeasuredKey ToMeasuredKey(int midiNote, const FineReading& reading,
                                  const std::string& measuredAt);

// Now, as ISO 8601 UTC to the second: "2026-12-09T14:03:27Z".
std::string UtcNow();

class PianoKeeper {
  public:
    using Clock = std::function<std::string()>;  // when a reading is taken, ISO 8601 UTC

    // path: the record file, e.g. tuning::DefaultPianoRecordPath(...).
    explicit PianoKeeper(std::string path, Clock clock = UtcNow);

    // Reads the record, setting a damaged one aside. Returns the French
    // lines to put on stderr: none when the record was read or is not there
    // yet.
    std::vector<std::string> Load();

    // A final reading of a piano key from A0 to C8 goes into the record
    // (replacing that key's) and is saved. Anything else (a guitar string,
    // a reading not final, a key off the piano) changes nothing and returns
    // false. A failed save puts its line in error.
    bool Keep(const LiveReading& reading, std::string& error);

    // The style of that name (one of tuning::Styles()) for the curve; saved.
    // False for a name that is no style, or the one already chosen.
    bool ChooseStyle(const std::string& name, std::string& error);

    // An empty record in the same style, saved: the curve is equal
    // temperament again.
    void StartNewPiano(std::string& error);

    const tuning::PianoRecord& Record() const { return record_; }
    const tuning::Curve& Curve() const { return curve_; }
    // The style the curve follows: the record's, or "Standard" for a name
    // this version does not know.
    const tuning::Style& CurveStyle() const { return *style_; }
    // False when the record is kept in memory only.
    bool Saves() const { return saves_; }

    // The key's target on the curve, once the targets come from measured
    // keys (fitted, or the 4:2 stretch of the B known); nullopt while they
    // are equal temperament, and for a key off the piano.
    std::optional<tuning::KeyTarget> TargetOf(int midiNote) const;

  private:
    void Recompute();
    void Save(std::string& error);

    const std::string path_;
    const Clock clock_;
    tuning::PianoRecord record_;
    const tuning::Style* style_;
    tuning::Curve curve_;
    bool saves_ = true;
};

}  // namespace harmolune
