#pragma once
// Every text the window program puts before a person, in one place and in
// French: the window's captions, headings and tooltips, what a screen reader
// calls each control, the message boxes, and the lines on stderr. The keys'
// and strings' tags and tooltips stay with the notes they name, in
// core/Notes.h; the help document is app/resources/help.html.
//
// A box or a stderr line says first, in French, what could not be done; the
// system's or a library's own words follow as they come, untranslated.

#include <string_view>

namespace harmolune::texts {

inline constexpr std::string_view kWindowTitle = "Harmolune";

// Captions and tooltips of the three push buttons.
inline constexpr std::string_view kHelpCaption = "Aide...";
inline constexpr std::string_view kHelpTooltip = "Afficher l'aide...";
inline constexpr std::string_view kCloseHelpCaption = "Fermer";
inline constexpr std::string_view kCloseHelpTooltip = "Fermer l'aide";
inline constexpr std::string_view kSampleCaption = "Échantillonner l'instrument";

// The headings over the displays and over the octave selector.
inline constexpr std::string_view kNoteHeading = "Note";
inline constexpr std::string_view kOctaveHeading = "Octave";
inline constexpr std::string_view kFrequencyHeading = "Fréquence";  // first line of two
inline constexpr std::string_view kReferenceHeading = "référence";
inline constexpr std::string_view kInstrumentHeading = "instrument";

// What a screen reader calls the controls that show no caption of their own.
// The two-line headings are read as one.
inline constexpr std::string_view kNoteName = "Note";
inline constexpr std::string_view kOctaveName = "Octave";  // the display, selector and read-out
inline constexpr std::string_view kReferenceName = "Fréquence référence";
inline constexpr std::string_view kMeasuredName = "Fréquence instrument";
inline constexpr std::string_view kPianoName = "Piano";
inline constexpr std::string_view kGuitarName = "Guitare";
inline constexpr std::string_view kHelpName = "Aide";

// What the screen reader says, unasked, when a measurement is armed. The
// other announcements are the displays' texts.
inline constexpr std::string_view kListeningSaid = "Mesure en cours";

// The tuning display: how far its reading has come, whether it was placed by
// the partials, what the deviation means without its colour, and what it
// shows and is called before any reading. The state words follow LiveState.
inline constexpr std::string_view kReadingRefining = "en cours";
inline constexpr std::string_view kReadingStable = "stable";
inline constexpr std::string_view kReadingFinal = "finale";
inline constexpr std::string_view kReadingFromPartials = "d'après les partiels";
inline constexpr std::string_view kInharmonicityWord = "inharmonicité";
inline constexpr std::string_view kInTune = "juste";
inline constexpr std::string_view kSharp = "trop haut";
inline constexpr std::string_view kFlat = "trop bas";
inline constexpr std::string_view kNoReadingShown = "—";
inline constexpr std::string_view kNoReadingName = "Aucune mesure fine";

// Message boxes.
inline constexpr std::string_view kNoCaptureText =
    "Impossible d'ouvrir l'entrée audio (microphone) :\n";  // the library's words follow
inline constexpr std::string_view kNoNoteTitle = "Échantillonnage...";
inline constexpr std::string_view kNoNoteText =
    "Précisez d'abord quelle note va être échantillonnée\n"
    "en appuyant sur une touche du clavier ou une corde de la guitare";

// Lines on stderr, each behind this tag.
inline constexpr std::string_view kStderrTag = "harmolune: ";
inline constexpr std::string_view kNoWakeUpLine =
    "aucun réveil pour le son capté ; la mesure est désactivée";
inline constexpr std::string_view kNoSignalsLine =
    "impossible de surveiller SIGTERM et SIGINT : ";  // strerror's text follows

}  // namespace harmolune::texts
