#pragma once
// What the window expects of a sound input: start recording 8-bit unsigned
// mono at 32768 samples per second into a BlockRing, and stop. One class per
// backend (the sound server through libpulse, a feeder for tests).

#include <string>

#include "sound/SoundTexts.h"

namespace harmolune {

class BlockRing;

class CaptureDevice {
  public:
    virtual ~CaptureDevice() = default;

    // Starts recording into ring, which must outlive the recording. On failure
    // returns false and puts the backend's own description in error.
    virtual bool Start(BlockRing& ring, std::string& error) = 0;

    // Stops recording; afterwards nothing more is written into the ring.
    // Safe to call in any state, more than once.
    virtual void Stop() = 0;
};

// A capture that never starts: the window before any backend is wired.
class NoCapture final : public CaptureDevice {
  public:
    bool Start(BlockRing&, std::string& error) override {
        error = sound_texts::kNoInput;
        return false;
    }
    void Stop() override {}
};

}  // namespace harmolune
