#pragma once
// The French texts of harmolune-measure's piano commands (--piano, --curve,
// --style, --csv, --scala), beside MeasureTexts.h and in its manner: each
// stderr line starts with measure_texts::kTag, the file comes next, the
// system's own words last.

#include <string>

namespace harmolune::piano_texts {

// Bad arguments; the usage follows.
inline std::string NeedsFile(const std::string& option) {
    return option + " attend le nom d'un fichier";
}
inline constexpr const char* kStyleNeedsName = "--style attend le nom d'un style";
inline constexpr const char* kScalaNeedsPrefix =
    "--scala attend le début du nom des fichiers à écrire";
inline constexpr const char* kCurveAlone =
    "--curve s'emploie sans mesure : ni --key, --octave, --string, --record, ni enregistrement";
inline constexpr const char* kWithCurveOnly = "--style, --csv et --scala s'emploient avec --curve";
inline constexpr const char* kPianoOrCurve = "--piano et --curve ne s'emploient pas ensemble";
inline constexpr const char* kPianoNeedsKey =
    "--piano s'emploie avec une touche du piano, de La 0 à Do 8 (--key, --octave)";
inline std::string UnknownStyle(const std::string& name, const std::string& styles) {
    return "style inconnu : « " + name + " » ; les styles sont " + styles;
}

// After the tag and "FILE : ".
inline constexpr const char* kNoFinalReading =
    "la mesure fine n'a pas donné de lecture finale : rien n'est ajouté au relevé";
inline std::string Added(const std::string& key, int keys) {
    return key + " ajouté au relevé, qui compte " + std::to_string(keys) +
           (keys > 1 ? " touches" : " touche");
}
inline std::string StyleNotKnownHere(const std::string& name, const std::string& fallback) {
    return "le style « " + name + " » du relevé est inconnu ici ; la courbe suit « " + fallback +
           " »";
}
inline constexpr const char* kCannotReadRecord = "impossible de lire le relevé : ";   // strerror
inline constexpr const char* kCannotWriteFile = "impossible d'écrire ce fichier : ";  // strerror

}  // namespace harmolune::piano_texts
