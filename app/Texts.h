#pragma once
// Every text the window program puts before a person, in one place and in
// French: the window's captions, headings and tooltips, what a screen reader
// calls each control, the message boxes, and the lines on stderr. The keys'
// and strings' tags and tooltips stay with the notes they name, in
// core/Notes.h; the help document is app/resources/help.html.
//
// A box or a stderr line says first, in French, what could not be done; the
// system's or a library's own words follow as they come, untranslated.

#include <string>
#include <string_view>

namespace harmolune::texts {

inline constexpr std::string_view kWindowTitle = "Harmolune";

// Captions and tooltips of the three push buttons.
inline constexpr std::string_view kHelpCaption = "Aide...";
inline constexpr std::string_view kHelpTooltip = "Afficher l'aide...";
inline constexpr std::string_view kCloseHelpCaption = "Fermer";
inline constexpr std::string_view kCloseHelpTooltip = "Fermer l'aide";
inline constexpr std::string_view kSampleCaption = "Échantillonner l'instrument";

// The row under the tuning display: the curve's style, a new piano, and the
// button that shows the curve.
inline constexpr std::string_view kStyleName = "Style de la courbe";
inline constexpr std::string_view kStyleTooltip =
    "Style d'accord : les partiels que la courbe fait coïncider";
inline constexpr std::string_view kNewPianoCaption = "Nouveau piano";
inline constexpr std::string_view kNewPianoTooltip =
    "Oublier les touches mesurées et commencer un nouveau piano";
inline constexpr std::string_view kCurveCaption = "Courbe...";
inline constexpr std::string_view kCurveTooltip = "Afficher la courbe d'accord du piano";

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

// The tuning display against the piano's curve: the target's word, and what
// the count is against, as shown ("par rapport à la courbe") and as said
// ("par rapport à la courbe du piano").
inline constexpr std::string_view kTargetWord = "cible";
inline constexpr std::string_view kAgainstCurveShown = "par rapport à la courbe";
inline constexpr std::string_view kCurveSaid = "la courbe du piano";

// The curve's pane: its name, its button, the table's name and columns, the
// plot's axes and legend, and the words of its summary.
inline constexpr std::string_view kCurvePaneName = "Courbe du piano";
inline constexpr std::string_view kCloseCurveCaption = "Fermer";
inline constexpr std::string_view kCloseCurveTooltip = "Fermer la courbe";
inline constexpr std::string_view kCurveTableName = "Cibles des 88 touches";
inline constexpr std::string_view kCurveColumns[] = {"Touche", "Cible Hz", "Cible cents", "±",
                                                     "B",      "Mesurée",  "Écart"};
inline constexpr std::string_view kToMeasure = "à mesurer";
inline constexpr std::string_view kCentsAxis = "cents par rapport au tempérament égal";
inline constexpr std::string_view kBAxis = "inharmonicité B";
inline constexpr std::string_view kLegendTarget = "cible ± incertitude";
inline constexpr std::string_view kLegendMeasured = "touche mesurée";
inline constexpr std::string_view kLegendToMeasure = "à mesurer";
inline constexpr std::string_view kNoKeyMeasured =
    "aucune touche mesurée ; les cibles sont le tempérament égal";
inline constexpr std::string_view kNoBYet =
    "sans inharmonicité ; les cibles sont le tempérament égal";
inline constexpr std::string_view kNotFittedYet =
    "en attendant 4 touches sur 3 octaves, les cibles suivent les octaves 4:2";
inline constexpr std::string_view kNothingToAdd = "La courbe n'a besoin d'aucune autre touche.";

// Message boxes.
inline constexpr std::string_view kNoCaptureText =
    "Impossible d'ouvrir l'entrée audio (microphone) :\n";  // the library's words follow
inline constexpr std::string_view kNoNoteTitle = "Échantillonnage...";
inline constexpr std::string_view kNoNoteText =
    "Précisez d'abord quelle note va être échantillonnée\n"
    "en appuyant sur une touche du clavier ou une corde de la guitare";

// "Nouveau piano" asks first; the buttons are named in French, whatever
// translations Qt finds.
inline constexpr std::string_view kNewPianoTitle = "Nouveau piano";
inline constexpr std::string_view kNewPianoQuestion =
    "Commencer un nouveau piano ? Les touches mesurées de ce piano seront oubliées.";
inline constexpr std::string_view kYes = "Oui";
inline constexpr std::string_view kNo = "Non";

// Lines on stderr, each behind this tag.
inline constexpr std::string_view kStderrTag = "harmolune: ";
inline constexpr std::string_view kNoWakeUpLine =
    "aucun réveil pour le son capté ; la mesure est désactivée";
inline constexpr std::string_view kNoSignalsLine =
    "impossible de surveiller SIGTERM et SIGINT : ";  // strerror's text follows

// After the piano record's own line when the window may not write over it.
inline constexpr std::string_view kInMemoryOnly =
    " ; les touches mesurées ne seront gardées qu'en mémoire";
inline std::string UnknownStyleLine(const std::string& path, const std::string& style,
                                    const std::string& fallback) {
    return "Le relevé du piano « " + path + " » : le style « " + style +
           " » est inconnu ici ; la courbe suit « " + fallback + " »";
}

}  // namespace harmolune::texts
