#include "cli/PianoCommands.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <ostream>
#include <sstream>

#include "cli/MeasureTexts.h"
#include "cli/PianoTexts.h"
#include "core/Numbers.h"
#include "tuning/Advice.h"
#include "tuning/PianoRecord.h"
#include "tuning/RecordFile.h"

namespace harmolune {

namespace {

using tuning::Curve;
using tuning::KeyTarget;

std::string StyleNames() {
    std::string names;
    for (const tuning::Style& style : tuning::Styles()) {
        names += (names.empty() ? "« " : ", « ") + style.name + " »";
    }
    return names;
}

// Signed, with two decimals; a value that rounds to zero is "+0.00".
std::string SignedCents(double cents) {
    const std::string digits = FormatFixed(std::abs(cents), 2, ".");
    const bool zero = digits.find_first_not_of("0.") == std::string::npos;
    return (cents < 0.0 && !zero ? "-" : "+") + digits;
}

// to_chars never depends on the C library's locale.
std::string Scientific(double x, int decimals) {
    char b[40];
    const auto r = std::to_chars(b, b + sizeof b, x, std::chars_format::scientific, decimals);
    return std::string(b, r.ptr);
}
std::string General(double x, int digits) {
    char b[40];
    const auto r = std::to_chars(b, b + sizeof b, x, std::chars_format::general, digits);
    return std::string(b, r.ptr);
}

// At least `digits` significant digits, in fixed notation.
std::string Significant(double x, int digits) {
    if (x == 0.0 || !std::isfinite(x)) {
        return FormatFixed(x, digits - 1, ".");
    }
    const int magnitude = static_cast<int>(std::floor(std::log10(std::abs(x))));
    return FormatFixed(x, std::clamp(digits - 1 - magnitude, 0, 20), ".");
}

std::string BText(const KeyTarget& key) {
    return key.inharmonicity > 0.0 ? Scientific(key.inharmonicity, 2) : "-";
}

int WriteFile(const std::string& path, const std::string& text, std::ostream& err) {
    if (const int failure = tuning::ReplaceFileAtomically(path, text); failure != 0) {
        err << measure_texts::kTag << path << " : " << piano_texts::kCannotWriteFile
            << std::strerror(failure) << '\n';
        return 2;
    }
    return 0;
}

}  // namespace

bool SplitPianoOptions(const std::vector<std::string>& args, PianoOptions& options,
                       std::vector<std::string>& rest, std::string& error) {
    bool asksHelp = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool takesValue =
            arg == "--piano" || arg == "--curve" || arg == "--style" || arg == "--scala";
        if (!takesValue) {
            if (arg == "--csv") {
                options.csv = true;
            } else {
                asksHelp = asksHelp || arg == "--help" || arg == "-h" || arg == "--version";
                rest.push_back(arg);
            }
            continue;
        }
        if (i + 1 >= args.size() || args[i + 1].empty()) {
            error = arg == "--style"   ? piano_texts::kStyleNeedsName
                    : arg == "--scala" ? piano_texts::kScalaNeedsPrefix
                                       : piano_texts::NeedsFile(arg);
            return false;
        }
        const std::string& value = args[++i];
        if (arg == "--piano") {
            options.pianoFile = value;
        } else if (arg == "--curve") {
            options.curveFile = value;
        } else if (arg == "--scala") {
            options.scalaPrefix = value;
        } else {
            if (tuning::FindStyle(value) == nullptr) {
                error = piano_texts::UnknownStyle(value, StyleNames());
                return false;
            }
            options.style = value;
        }
    }
    if (asksHelp) {
        return true;
    }
    const bool curveOnly = !options.style.empty() || options.csv || !options.scalaPrefix.empty();
    if (!options.pianoFile.empty() && !options.curveFile.empty()) {
        error = piano_texts::kPianoOrCurve;
        return false;
    }
    if (curveOnly && options.curveFile.empty()) {
        error = piano_texts::kWithCurveOnly;
        return false;
    }
    if (!options.curveFile.empty() && !rest.empty()) {
        error = piano_texts::kCurveAlone;
        return false;
    }
    return true;
}

tuning::MeasuredKey ToMeasuredKey(int midiNote, const FineReading& reading,
                                  const std::string& measuredAt) {
    tuning::MeasuredKey key;
    key.midiNote = midiNote;
    key.f1Hz = reading.frequencyHz;
    key.uncertaintyCents = reading.uncertaintyCents;
    key.inharmonicity = reading.inharmonicity;
    for (int i = 0; i < reading.partialCount && i < kMaxPartials; ++i) {
        key.partials.push_back({reading.partials[i].number, reading.partials[i].frequencyHz});
    }
    key.seconds = reading.seconds;
    key.measuredAt = measuredAt;
    return key;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    // Digits and separators only: no name of the locale's enters.
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

int AddToPiano(const std::string& path, int midiNote, const std::optional<FineReading>& reading,
               const std::string& measuredAt, std::ostream& err) {
    if (!reading || !reading->final) {
        err << measure_texts::kTag << path << " : " << piano_texts::kNoFinalReading << '\n';
        return 0;
    }
    tuning::LoadedRecord loaded = tuning::LoadPianoRecord(path, true);
    if (!loaded.line.empty()) {
        err << measure_texts::kTag << loaded.line << '\n';
    }
    if (!loaded.CanSave()) {
        return 2;
    }
    if (!tuning::AddReading(loaded.record, ToMeasuredKey(midiNote, *reading, measuredAt))) {
        err << measure_texts::kTag << path << " : " << piano_texts::kNoFinalReading << '\n';
        return 2;
    }
    std::string error;
    if (!tuning::SavePianoRecord(path, loaded.record, error)) {
        err << measure_texts::kTag << error << '\n';
        return 2;
    }
    err << measure_texts::kTag << path << " : "
        << piano_texts::Added(tuning::KeyName(midiNote),
                              static_cast<int>(loaded.record.keys.size()))
        << '\n';
    // A record that had to be set aside was bad input, though nothing is lost.
    return loaded.status == tuning::RecordStatus::kSetAside ? 2 : 0;
}

void WriteCurveTable(std::ostream& out, const Curve& curve) {
    out << "style\t" << curve.style << '\n';
    for (const KeyTarget& key : curve.keys) {
        out << "curve\t" << key.midiNote << '\t' << tuning::KeyName(key.midiNote) << '\t'
            << FormatFixed(key.targetHz, 4, ".") << '\t' << SignedCents(key.targetCents) << '\t'
            << FormatFixed(key.uncertaintyCents, 2, ".") << '\t' << BText(key) << '\t';
        if (key.measuredHz) {
            out << FormatFixed(*key.measuredHz, 4, ".") << '\t'
                << SignedCents(tuning::DeviationCents(key, *key.measuredHz)) << '\n';
        } else {
            out << "-\t-\n";
        }
    }
    // ln B = intercept + slope × MIDI key, for each line.
    const tuning::BFit& fit = curve.fit;
    out << "fit";
    if (!fit.valid) {
        out << "\t-\t-\t-\t-\t-\n";
        return;
    }
    out << '\t' << (fit.breakKey != 0 ? std::to_string(fit.breakKey) : "-");
    for (const tuning::BLine* line : {&fit.bass, &fit.treble}) {
        out << '\t' << General(line->slope, 6) << '\t' << General(line->intercept, 6);
    }
    out << '\n';
}

void WriteCurveCsv(std::ostream& out, const Curve& curve) {
    out << "midi,name,target_hz,target_cents,uncertainty_cents,inharmonicity,measured_hz,"
           "deviation_cents\n";
    for (const KeyTarget& key : curve.keys) {
        out << key.midiNote << ',' << tuning::KeyName(key.midiNote) << ','
            << Significant(key.targetHz, 12) << ',' << Significant(key.targetCents, 12) << ','
            << Significant(key.uncertaintyCents, 12) << ','
            << (key.inharmonicity > 0.0 ? Significant(key.inharmonicity, 12) : "") << ',';
        if (key.measuredHz) {
            out << Significant(*key.measuredHz, 12) << ','
                << Significant(tuning::DeviationCents(key, *key.measuredHz), 12);
        } else {
            out << ',';
        }
        out << '\n';
    }
}

std::string ScalaScale(const Curve& curve) {
    std::ostringstream scl;
    scl << "! harmolune.scl\n!\n"
        << "Harmolune : courbe d'accord du piano, style « " << curve.style
        << " », 88 touches de La 0 à Do 8\n"
        << ' ' << tuning::kKeyCount - 1 << "\n!\n";
    // Each key from A0, in cents; the last, C8, is the scale's period, so
    // nothing repeats at the octave.
    const KeyTarget& first = curve.keys.front();
    for (std::size_t i = 1; i < curve.keys.size(); ++i) {
        const double cents = 1200.0 * std::log2(curve.keys[i].targetHz / first.targetHz);
        scl << ' ' << FormatFixed(cents, 6, ".") << '\n';
    }
    return scl.str();
}

std::string ScalaKeyboardMapping(const Curve& curve) {
    const int period = tuning::kKeyCount - 1;
    std::ostringstream kbm;
    kbm << "! harmolune.kbm\n"
        << "! Taille de la table (C8 en est la période) :\n"
        << period << '\n'
        << "! Première et dernière notes MIDI accordées :\n"
        << tuning::kLowestKey << '\n'
        << tuning::kHighestKey << '\n'
        << "! Note où commence la table :\n"
        << tuning::kLowestKey << '\n'
        << "! Note de référence et sa fréquence :\n"
        << 69 << '\n'
        << FormatFixed(curve.Key(69).targetHz, 6, ".") << '\n'
        << "! Degré de la période :\n"
        << period << '\n'
        << "! Table :\n";
    for (int degree = 0; degree < period; ++degree) {
        kbm << degree << '\n';
    }
    return kbm.str();
}

int PrintCurve(const PianoOptions& options, std::ostream& out, std::ostream& err) {
    const std::string& path = options.curveFile;
    const tuning::LoadedRecord loaded = tuning::LoadPianoRecord(path, false);
    if (loaded.status == tuning::RecordStatus::kNew) {
        err << measure_texts::kTag << path << " : " << piano_texts::kCannotReadRecord
            << std::strerror(ENOENT) << '\n';
        return 2;
    }
    if (loaded.status != tuning::RecordStatus::kLoaded) {
        err << measure_texts::kTag << loaded.line << '\n';
        return 2;
    }
    const tuning::Style* style =
        tuning::FindStyle(options.style.empty() ? loaded.record.style : options.style);
    if (style == nullptr) {
        style = &tuning::Styles().front();
        err << measure_texts::kTag << path << " : "
            << piano_texts::StyleNotKnownHere(loaded.record.style, style->name) << '\n';
    }
    const Curve curve = tuning::ComputeCurve(tuning::Readings(loaded.record), *style);
    if (!curve.advice.empty()) {
        err << measure_texts::kTag << path << " : " << curve.advice << '\n';
    }
    if (!options.scalaPrefix.empty()) {
        if (WriteFile(options.scalaPrefix + ".scl", ScalaScale(curve), err) != 0 ||
            WriteFile(options.scalaPrefix + ".kbm", ScalaKeyboardMapping(curve), err) != 0) {
            return 2;
        }
    }
    if (options.csv) {
        WriteCurveCsv(out, curve);
    } else {
        WriteCurveTable(out, curve);
    }
    return 0;
}

}  // namespace harmolune
