#pragma once
// Where the reference tone goes: a MIDI output that takes one short message
// at a time (status byte in bits 0-7, first data byte in bits 8-15, second
// data byte in bits 16-23). One class per backend: a software synthesiser,
// a recorder for tests (testing/RecordingMidiOutput.h), or nothing at all.
//
// Failures are not reported to the caller: a tuner without sound still shows
// its notes. A backend may say on stderr what failed.

#include <cstdint>

namespace harmolune {

class MidiOutput {
  public:
    virtual ~MidiOutput() = default;
    virtual void Open() = 0;
    virtual void Send(std::uint32_t message) = 0;
    virtual void Close() = 0;
};

class NoMidiOutput final : public MidiOutput {
  public:
    void Open() override {}
    void Send(std::uint32_t) override {}
    void Close() override {}
};

}  // namespace harmolune
