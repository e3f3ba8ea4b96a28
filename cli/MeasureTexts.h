#pragma once
// Every text harmolune-measure puts before a person, in one place and in
// French: the usage, and the lines on stderr. A line names the program, then
// the file when there is one, then says in French what happened; the
// system's or a library's own words come last, untranslated. A space comes
// before ":" and ";", as French writes them; the program's name keeps the
// bare colon that every tool's lines start with. The reasons WavReader gives
// are in measure/WavReader.cpp, the sound layer's in sound/SoundTexts.h.
//
// The table on standard output is data for scripts, not text: its words
// (note, block, result, fine, partials; yes and no in the sources' list)
// stay as they are.

#include <string>

namespace harmolune::measure_texts {

inline constexpr const char* kUsage =
    "Utilisation : harmolune-measure --key K --octave O [--piano RELEVÉ] [--live]\n"
    "                                FICHIER\n"
    "              harmolune-measure --string S [--live] FICHIER\n"
    "              harmolune-measure (--key K --octave O | --string S) --record N\n"
    "                                [--source NOM] [--piano RELEVÉ] [--live]\n"
    "              harmolune-measure --curve RELEVÉ [--style NOM] [--csv]\n"
    "                                [--scala PRÉFIXE]\n"
    "              harmolune-measure --list-sources\n"
    "              harmolune-measure --help | --version\n"
    "\n"
    "Mesure un enregistrement comme la fenêtre mesure l'instrument : choisit la\n"
    "note, lance une mesure, puis analyse chaque bloc de 4096 échantillons.\n"
    "  --key K          touche du piano, de 0 (Do) à 11 (Si)\n"
    "  --octave O       octave, de -1 à 8, avec --key\n"
    "  --string S       corde de guitare : 4, 9, 14, 19, 23 ou 28 (du Mi grave au\n"
    "                   Mi aigu)\n"
    "  --record N       mesure N blocs de l'entrée par défaut au lieu d'un fichier\n"
    "  --source NOM     avec --record, enregistre depuis cette source\n"
    "  --live           après chaque bloc qui la change, la lecture de l'affichage\n"
    "                   d'accord : live, bloc, Hz, cents, incertitude, état\n"
    "                   (en-cours, stable ou final)\n"
    "  --list-sources   liste les sources : nom, source par défaut (yes ou no),\n"
    "                   description\n"
    "  --piano RELEVÉ   ajoute la lecture finale de la touche (La 0 à Do 8) au\n"
    "                   relevé du piano RELEVÉ, un fichier JSON créé au besoin ;\n"
    "                   une mesure sans lecture finale n'ajoute rien et le dit\n"
    "  --curve RELEVÉ   affiche la courbe d'accord du relevé : une ligne style,\n"
    "                   une ligne curve par touche de La 0 à Do 8 (MIDI, nom,\n"
    "                   cible en Hz, cible en cents, incertitude en cents, B,\n"
    "                   fréquence mesurée et écart à la cible en cents, - pour\n"
    "                   une touche non mesurée), puis une ligne fit (touche de la\n"
    "                   cassure, pente et ordonnée à l'origine de ln B pour les\n"
    "                   basses puis les aigus)\n"
    "  --style NOM      avec --curve, ce style au lieu de celui du relevé :\n"
    "                   Standard, Douzièmes pures, Octaves 4:2 ou Octaves 6:3\n"
    "  --csv            avec --curve, la même table en CSV, 12 chiffres\n"
    "                   significatifs, un champ vide pour une touche non mesurée\n"
    "  --scala PRÉFIXE  avec --curve, écrit aussi PRÉFIXE.scl (88 notes de La 0\n"
    "                   à Do 8, sans répétition à l'octave) et PRÉFIXE.kbm (les\n"
    "                   touches MIDI 21 à 108)\n"
    "  -h, --help       affiche ce texte\n"
    "  --version        affiche la version\n"
    "FICHIER peut être un WAV de n'importe quel format d'échantillons, FLAC, Ogg\n"
    "Vorbis ou Opus, MP3, AIFF, ou tout ce que lit libsndfile, de 1000 Hz à\n"
    "1 MHz, avec n'importe quel nombre de canaux : il est converti comme la\n"
    "fenêtre entend le son (32768 Hz, mono, 8 bits), et une ligne sur stderr le\n"
    "signale. Un WAV PCM mono non signé de 8 bits à 32768 Hz est lu tel quel.\n"
    "- lit l'entrée standard. L'entrée standard, les tubes et les FIFO sont lus\n"
    "au fil de l'eau et n'acceptent que ce WAV de 8 bits : donnez les autres\n"
    "enregistrements sous forme de fichier.\n"
    "Code de retour : 0 une fois mesuré ; 2 pour de mauvais arguments, un\n"
    "fichier qui ne peut être mesuré, un enregistrement qui échoue, une sortie\n"
    "qui ne peut être écrite, un relevé illisible (un relevé endommagé est mis\n"
    "de côté sous RELEVÉ.endommagé par --piano), un style inconnu ou un fichier\n"
    "qui ne peut être écrit.\n";

// Each line on stderr starts with this tag.
inline constexpr const char* kTag = "harmolune-measure: ";

// Bad arguments; the usage follows.
inline constexpr const char* kListSourcesAlone = "--list-sources s'emploie sans autre argument";
inline constexpr const char* kSourceNeedsName =
    "--source attend le nom d'une source (voir --list-sources)";
inline std::string NeedsValue(const std::string& option) { return option + " attend une valeur"; }
inline std::string NotWholeNumber(const std::string& option, const std::string& text) {
    return option + " attend un nombre entier, pas « " + text + " »";
}
inline constexpr const char* kKeyRange = "--key doit être compris entre 0 et 11";
inline constexpr const char* kOctaveRange = "--octave doit être compris entre -1 et 8";
inline constexpr const char* kStringChoice = "--string doit valoir 4, 9, 14, 19, 23 ou 28";
inline constexpr const char* kRecordAtLeastOne = "--record attend au moins 1 bloc";
inline std::string UnknownOption(const std::string& option) {
    return "option inconnue : " + option;
}
inline constexpr const char* kOneFile = "un seul fichier peut être mesuré à la fois";
inline constexpr const char* kKeyOrString =
    "choisissez une touche (--key, --octave) ou une corde (--string), pas les deux";
inline constexpr const char* kChooseNote = "choisissez une note : --key avec --octave, ou --string";
inline constexpr const char* kOneRecording = "donnez un enregistrement, ou --record N";
inline constexpr const char* kSourceWithRecord = "--source s'emploie avec --record";

// What --record records from, as the lines below name it.
inline constexpr const char* kDefaultInput = "l'entrée par défaut";
inline std::string NamedSource(const std::string& name) { return "la source " + name; }
// The name a file given as "-" goes by.
inline constexpr const char* kStandardInput = "entrée standard";

// --record, --source and --list-sources.
inline constexpr const char* kNoRecording =
    "l'enregistrement n'est pas disponible : ce programme a été construit sans le son";
inline constexpr const char* kNoSourceList =
    "la liste des sources n'est pas disponible : ce programme a été construit sans le son";
inline std::string CannotRecord(const std::string& input, bool named) {
    return "impossible d'enregistrer depuis " + input +
           (named ? " (--list-sources les liste)" : "") + " : ";  // libpulse's words follow
}
inline std::string NoSoundCame(const std::string& input, int seconds, long long taken,
                               long long blocks) {
    return "aucun son n'est venu de " + input + " pendant " + std::to_string(seconds) + " s ; " +
           std::to_string(taken) + " bloc" + (taken > 1 ? "s" : "") + " sur " +
           std::to_string(blocks) + " mesuré" + (taken > 1 ? "s" : "");
}
inline constexpr const char* kCannotList = "impossible de lister les sources : ";
inline constexpr const char* kCannotWrite = "impossible d'écrire la sortie : ";  // strerror follows

// Lines about one file, after the tag and "FILE : ".
inline constexpr const char* kStreamsCarryOnlyWav =
    " (l'entrée standard et les tubes n'acceptent que du WAV mono non signé de 8 bits à 32768 Hz ;"
    " donnez les autres enregistrements sous forme de fichier)";
inline std::string Converted(const std::string& description) {
    return description + " ; mesuré comme la fenêtre l'entend (32768 Hz, mono, 8 bits)";
}
inline std::string LowLevel(int peak, int threshold) {
    return "niveau faible : son échantillon le plus fort atteint " + std::to_string(peak) +
           " sur 128, et un bloc se mesure à partir de " + std::to_string(threshold) +
           " ; mesuré tel quel, comme avec un microphone peu sensible";
}
// "les 3 blocs complets qui précèdent ont été mesurés", in the right number.
inline std::string BlocksBeforeMeasured(unsigned long long blocks) {
    if (blocks == 0) {
        return "aucun bloc complet ne précède";
    }
    if (blocks == 1) {
        return "le bloc complet qui précède a été mesuré";
    }
    return "les " + std::to_string(blocks) + " blocs complets qui précèdent ont été mesurés";
}
inline std::string ReadStopped(unsigned long long blocks) {
    return "impossible de le lire jusqu'au bout (" + BlocksBeforeMeasured(blocks) +
           ") : ";  // the library's words follow
}
inline std::string WavReadStopped(unsigned long long bytes, unsigned long long blocks) {
    return "lecture interrompue après " + std::to_string(bytes) + " octets d'échantillons (" +
           BlocksBeforeMeasured(blocks) + ") : ";  // strerror follows
}
inline std::string CutShort(unsigned long long declared, unsigned long long found,
                            unsigned long long blocks) {
    return "attention : le segment de données annonce " + std::to_string(declared) +
           " octets, mais seuls " + std::to_string(found) + " suivent ; " +
           (blocks == 0 ? std::string("aucun bloc complet n'y a été mesuré")
            : blocks == 1
                ? std::string("le bloc complet présent a été mesuré")
                : "les " + std::to_string(blocks) + " blocs complets présents ont été mesurés");
}

// The reasons SoundFile gives, after "FILE : ".
inline constexpr const char* kEmptyFile = "fichier vide";
inline constexpr const char* kNotARecording =
    "ce n'est pas un enregistrement lisible : ";  // libsndfile's words follow
inline constexpr const char* kNoChannels = "enregistrement sans aucun canal";
inline std::string RateOutOfRange(int rate, int lowest, int highest) {
    return "fréquence d'échantillonnage de " + std::to_string(rate) + " Hz ; on mesure de " +
           std::to_string(lowest) + " à " + std::to_string(highest) + " Hz";
}
inline constexpr const char* kCannotResample =
    "impossible de le rééchantillonner : ";  // libsoxr's words follow
inline constexpr const char* kNoMemory = "mémoire insuffisante";
inline constexpr const char* kUnknownError = "erreur inconnue";
// How a recording is stored: "48000 Hz, 2 canaux, 24 bits". The names of
// the encodings are with the formats they name, in SoundFile.cpp.
inline std::string Channels(int channels) {
    return std::to_string(channels) + (channels == 1 ? " canal" : " canaux");
}
inline constexpr const char* kEncoding = "encodage ";  // libsndfile's number follows

}  // namespace harmolune::measure_texts
