#pragma once
// Every text the sound layer puts before a person, in one place and in
// French: the lines the sound backends write on stderr, and the reasons they
// give to the caller, which shows them in a box or after its own words. As
// everywhere in the program, our words come first and a library's own text
// follows as it comes, untranslated; a space comes before ":" and ";".

namespace harmolune::sound_texts {

// The sound connection's two lines, one for the whole program when the sound
// goes away and one when it is back (PulseClient), each behind the program's
// name ("harmolune: " unless the program names itself otherwise).
inline constexpr const char* kLostLine =
    "son perdu : le serveur audio ou le périphérique d'entrée a disparu";
inline constexpr const char* kBackLine = "son rétabli";
inline constexpr const char* kDefaultTag = "harmolune: ";

// Reasons given to the caller, in place of libpulse's when it has none.
inline constexpr const char* kNoClient = "impossible de démarrer le client audio";
inline constexpr const char* kNoInput = "Aucune entrée son n'est disponible.";

// The reference tone's one line when it cannot play (FluidSynthOutput):
// kNoToneLine, then one of the reasons below, then FluidSynth's own words in
// brackets when it gave some.
inline constexpr const char* kNoToneLine = "harmolune: aucune note de référence : ";
inline constexpr const char* kNoSynth = "FluidSynth n'a pas pu démarrer";
inline constexpr const char* kNoSoundFont =
    "impossible de charger la SoundFont ";  // its path follows
inline constexpr const char* kNoOutput =
    "aucune sortie audio";  // libpulse's words follow in brackets

}  // namespace harmolune::sound_texts
