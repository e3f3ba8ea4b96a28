// The exact MIDI short messages sent at start-up, per note chosen and at
// shut-down.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "sound/ReferenceTone.h"
#include "testing/RecordingMidiOutput.h"

namespace harmolune {
namespace {

using Messages = std::vector<std::uint32_t>;

TEST(ReferenceTone, OpeningSendsPianoVolumeBankAndPan) {
    RecordingMidiOutput out;
    ReferenceTone tone(out);
    tone.OpenMidiOutput();
    EXPECT_EQ(out.opens, 1);
    EXPECT_EQ(out.messages, (Messages{0xC0, 0x7F07B0, 0x3C20B0, 0x4B0AB0}));
}

TEST(ReferenceTone, ClicksAfterStartUp) {
    RecordingMidiOutput out;
    ReferenceTone tone(out);
    tone.OpenMidiOutput();
    out.messages.clear();

    tone.SoundNote(0, 69);  // "La" at octave 4: the first note-off is for note 0
    EXPECT_EQ(out.messages, (Messages{0xC0, 0x3C20B0, 0x0080, 0x7F4590}));
    out.messages.clear();

    tone.SoundNote(25, 40);  // low "Mi" string
    EXPECT_EQ(out.messages, (Messages{0x19C0, 0x3C20B0, 0x4580, 0x7F2890}));
    out.messages.clear();

    tone.SoundNote(25, 40);  // the same string again: off and on for the same key
    EXPECT_EQ(out.messages, (Messages{0x19C0, 0x3C20B0, 0x2880, 0x7F2890}));
    EXPECT_EQ(tone.CurrentNote(), 40);
}

TEST(ReferenceTone, ExtremeNotesPackIntoTheirBytes) {
    RecordingMidiOutput out;
    ReferenceTone tone(out);
    tone.SoundNote(0, 119);
    tone.SoundNote(0, 0);
    EXPECT_EQ(out.messages, (Messages{0xC0, 0x3C20B0, 0x0080, 0x7F7790,  //
                                      0xC0, 0x3C20B0, 0x7780, 0x7F0090}));
}

TEST(ReferenceTone, ClosingSendsNoNoteOff) {
    RecordingMidiOutput out;
    ReferenceTone tone(out);
    tone.OpenMidiOutput();
    tone.SoundNote(0, 69);
    const std::size_t sent = out.messages.size();
    tone.CloseMidiOutput();
    EXPECT_EQ(out.closes, 1);
    EXPECT_EQ(out.messages.size(), sent);
}

TEST(ReferenceTone, NotesOutsideMidiAreRefusedBeforeSending) {
    RecordingMidiOutput out;
    ReferenceTone tone(out);
    EXPECT_THROW(tone.SoundNote(0, 128), std::out_of_range);
    EXPECT_THROW(tone.SoundNote(128, 60), std::out_of_range);
    EXPECT_THROW(tone.SoundNote(0, -1), std::out_of_range);
    EXPECT_TRUE(out.messages.empty());
    EXPECT_EQ(tone.CurrentNote(), 0);
}

}  // namespace
}  // namespace harmolune
