#pragma once
// The notes the user can choose: twelve piano keys in an octave from -1 to 8,
// and six open guitar strings. Turns a choice into its MIDI key number, the
// name shown (the button's tag), the octave text and the reference frequency
// text. Standard library only.

#include <array>
#include <string>
#include <string_view>

namespace harmolune {

inline constexpr int kMinOctave = -1;
inline constexpr int kMaxOctave = 8;
inline constexpr int kPianoProgram = 0;    // General MIDI 1, Acoustic Grand Piano
inline constexpr int kGuitarProgram = 25;  // General MIDI 26, Acoustic Guitar (steel)

struct KeyInfo {
    std::string_view tag;      // the note name shown, as written on the button
    std::string_view tooltip;  // key 0 spells "DO" in capitals
    bool black;
};

// Indexed by key 0 (C) to 11 (B).
inline constexpr std::array<KeyInfo, 12> kKeys{{
    {"Do", "Jouer DO", false},
    {"Do#", "Jouer Do#", true},
    {"Ré", "Jouer Ré", false},
    {"Mib", "Jouer Mib", true},
    {"Mi", "Jouer Mi", false},
    {"Fa", "Jouer Fa", false},
    {"Fa#", "Jouer Fa#", true},
    {"Sol", "Jouer Sol", false},
    {"Sol#", "Jouer Sol#", true},
    {"La", "Jouer La", false},
    {"Sib", "Jouer Sib", true},
    {"Si", "Jouer Si", false},
}};

struct StringInfo {
    int index;  // semitones above the C of MIDI key 36
    std::string_view tag;
};

// From the lowest string to the highest.
inline constexpr std::array<StringInfo, 6> kStrings{{
    {4, "Mi"},
    {9, "La"},
    {14, "Ré"},
    {19, "Sol"},
    {23, "Si"},
    {28, "Mi"},
}};
inline constexpr std::string_view kStringTooltip = "Gratter cette corde";

// A chosen note and the three texts it shows.
struct NoteChoice {
    int program = 0;            // MIDI program to sound it with
    int note = 0;               // MIDI key number, 0 to 127
    std::string name;           // Label2
    std::string octaveText;     // Label3
    std::string referenceText;  // Label4, e.g. "440.00Hz"
    double frequencyHz = 0.0;
};

// Key 0 to 11 at octave -1 to 8; anything else throws std::out_of_range.
NoteChoice ChooseKey(int key, int octave, std::string_view decimalSeparator);

// String index 4, 9, 14, 19, 23 or 28; anything else throws std::out_of_range.
NoteChoice ChooseString(int string, std::string_view decimalSeparator);

// True for the six string indices.
bool IsStringIndex(int string);

// The reference text: frequency in the pattern "0.00" followed by "Hz".
std::string ReferenceText(double frequencyHz, std::string_view decimalSeparator);

}  // namespace harmolune
