#pragma once
// A MIDI output that records every call, so that tests can assert on exactly
// what the window sent.

#include <cstdint>
#include <vector>

#include "sound/MidiOutput.h"

namespace harmolune {

class RecordingMidiOutput final : public MidiOutput {
  public:
    void Open() override { ++opens; }
    void Send(std::uint32_t message) override { messages.push_back(message); }
    void Close() override { ++closes; }

    std::vector<std::uint32_t> messages;
    int opens = 0;
    int closes = 0;
};

}  // namespace harmolune
