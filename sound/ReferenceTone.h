#pragma once
// The reference tone: the fixed MIDI messages sent at start-up, on every note
// chosen, and at shut-down, all on channel 1. Called on the UI thread only.

#include <cstdint>

#include "sound/MidiOutput.h"

namespace harmolune {

namespace midi {
inline constexpr std::uint32_t kPianoProgram = 0xC0;
inline constexpr std::uint32_t kVolume = 0x7F07B0;         // controller 7, 127
inline constexpr std::uint32_t kBankSelectLsb = 0x3C20B0;  // controller 32, 60
inline constexpr std::uint32_t kPan = 0x4B0AB0;            // controller 10, 75
inline std::uint32_t ProgramChange(int program) {
    return static_cast<std::uint32_t>(program) * 256 + 0xC0;
}
inline std::uint32_t NoteOff(int note) { return static_cast<std::uint32_t>(note) * 256 + 0x80; }
inline std::uint32_t NoteOn(int note) { return static_cast<std::uint32_t>(note) * 256 + 0x7F0090; }
}  // namespace midi

class ReferenceTone {
  public:
    explicit ReferenceTone(MidiOutput& output) : output_(output) {}

    // Opens the output and sends piano, volume, bank select and pan.
    void OpenMidiOutput();

    // Program change, bank select, note-off of the note sounding, note-on of
    // note. program 0 to 127, note 0 to 127.
    void SoundNote(int program, int note);

    // Closes the output; the note sounding is not switched off first.
    void CloseMidiOutput();

    int CurrentNote() const { return currentNote_; }
    // The program of the note sounded last: the piano's until then.
    int CurrentProgram() const { return currentProgram_; }

  private:
    MidiOutput& output_;
    int currentNote_ = 0;
    int currentProgram_ = 0;
};

}  // namespace harmolune
