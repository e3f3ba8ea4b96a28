#include "sound/ReferenceTone.h"

#include <stdexcept>
#include <string>

namespace harmolune {

void ReferenceTone::OpenMidiOutput() {
    output_.Open();
    output_.Send(midi::kPianoProgram);
    output_.Send(midi::kVolume);
    output_.Send(midi::kBankSelectLsb);
    output_.Send(midi::kPan);
}

void ReferenceTone::SoundNote(int program, int note) {
    if (program < 0 || program > 127 || note < 0 || note > 127) {
        throw std::out_of_range("SoundNote: program " + std::to_string(program) + ", note " +
                                std::to_string(note));
    }
    output_.Send(midi::ProgramChange(program));
    output_.Send(midi::kBankSelectLsb);
    output_.Send(midi::NoteOff(currentNote_));
    currentNote_ = note;
    currentProgram_ = program;
    output_.Send(midi::NoteOn(note));
}

void ReferenceTone::CloseMidiOutput() { output_.Close(); }

}  // namespace harmolune
