#include "core/Notes.h"

#include <cmath>
#include <stdexcept>

#include "core/Numbers.h"
#include "core/Pitch.h"

namespace harmolune {

std::string ReferenceText(double frequencyHz, std::string_view decimalSeparator) {
    return FormatFixed(frequencyHz, 2, decimalSeparator) + "Hz";
}

NoteChoice ChooseKey(int key, int octave, std::string_view decimalSeparator) {
    if (key < 0 || key > 11 || octave < kMinOctave || octave > kMaxOctave) {
        throw std::out_of_range("ChooseKey: key " + std::to_string(key) + ", octave " +
                                std::to_string(octave));
    }
    NoteChoice c;
    c.program = kPianoProgram;
    c.note = (octave + 1) * 12 + key;
    c.name = kKeys[key].tag;
    c.octaveText = std::to_string(octave);
    // Equal to 440 * 2^((n - 69) / 12), but evaluated in this order: the
    // rounding of the last bit depends on it.
    c.frequencyHz =
        kConcertPitchHz * std::pow(2.0, static_cast<double>(key) / 12 + (octave - 1) - 3.75);
    c.referenceText = ReferenceText(c.frequencyHz, decimalSeparator);
    return c;
}

bool IsStringIndex(int string) {
    for (const StringInfo& s : kStrings) {
        if (s.index == string) {
            return true;
        }
    }
    return false;
}

NoteChoice ChooseString(int string, std::string_view decimalSeparator) {
    for (const StringInfo& s : kStrings) {
        if (s.index != string) {
            continue;
        }
        NoteChoice c;
        c.program = kGuitarProgram;
        c.note = string + 36;
        c.name = s.tag;
        c.octaveText = std::to_string(string / 12 + 2);
        c.frequencyHz =
            kConcertPitchHz * std::pow(2.0, static_cast<double>(string) / 12 + 1 - 3.75);
        c.referenceText = ReferenceText(c.frequencyHz, decimalSeparator);
        return c;
    }
    throw std::out_of_range("ChooseString: no string " + std::to_string(string));
}

}  // namespace harmolune
