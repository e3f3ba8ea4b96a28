#include "app/PianoKeeper.h"

#include <ctime>
#include <utility>

#include "app/Texts.h"
#include "tuning/Styles.h"

namespace harmolune {

tuning::MeasuredKey ToMeasuredKey(int midiNote, const FineReading& reading,
                                  const std::string& measuredAt) {
    tuning::MeasuredKey key;
    key.midiNote = midiNote;
    key.f1Hz = reading.frequencyHz;
    key.uncertaintyCents = reading.uncertaintyCents;
    key.inharmonicity = reading.inharmonicity;
    for (int i = 0; i < reading.partialCount && i < kMaxPartials; ++i) {
        key.partials.push_back({reading.partials[i].number, reading.partials[i].frequencyHz});
    }
    key.seconds = reading.seconds;
    key.measuredAt = measuredAt;
    return key;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    // Digits and separators only: no name of the locale's enters.
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

PianoKeeper::PianoKeeper(std::string path, Clock clock)
    : path_(std::move(path)), clock_(std::move(clock)), style_(&tuning::Styles().front()) {
    Recompute();
}

std::vector<std::string> PianoKeeper::Load() {
    tuning::LoadedRecord loaded = tuning::LoadPianoRecord(path_, true);
    std::vector<std::string> lines;
    saves_ = loaded.CanSave();
    if (!loaded.line.empty()) {
        lines.push_back(saves_ ? loaded.line : loaded.line + std::string(texts::kInMemoryOnly));
    }
    record_ = std::move(loaded.record);
    if (tuning::FindStyle(record_.style) == nullptr) {
        lines.push_back(texts::UnknownStyleLine(path_, record_.style, style_->name));
    }
    Recompute();
    return lines;
}

bool PianoKeeper::Keep(const LiveReading& reading, std::string& error) {
    const bool onThePiano =
        reading.midiNote >= tuning::kLowestKey && reading.midiNote <= tuning::kHighestKey;
    if (!reading.pianoKey || reading.state != LiveState::Final || !onThePiano) {
        return false;
    }
    if (!tuning::AddReading(record_, ToMeasuredKey(reading.midiNote, reading.fine, clock_()))) {
        return false;
    }
    Save(error);
    Recompute();
    return true;
}

bool PianoKeeper::ChooseStyle(const std::string& name, std::string& error) {
    if (tuning::FindStyle(name) == nullptr || name == record_.style) {
        return false;
    }
    record_.style = name;
    Save(error);
    Recompute();
    return true;
}

void PianoKeeper::StartNewPiano(std::string& error) {
    tuning::PianoRecord fresh;
    fresh.style = style_->name;
    record_ = std::move(fresh);
    Save(error);
    Recompute();
}

std::optional<tuning::KeyTarget> PianoKeeper::TargetOf(int midiNote) const {
    // Without any B the targets are equal temperament, with only their ±.
    if (!curve_.fit.valid || midiNote < tuning::kLowestKey || midiNote > tuning::kHighestKey) {
        return std::nullopt;
    }
    return curve_.Key(midiNote);
}

void PianoKeeper::Recompute() {
    const tuning::Style* style = tuning::FindStyle(record_.style);
    style_ = style != nullptr ? style : &tuning::Styles().front();
    curve_ = tuning::ComputeCurve(tuning::Readings(record_), *style_);
}

void PianoKeeper::Save(std::string& error) {
    error.clear();
    if (saves_) {
        tuning::SavePianoRecord(path_, record_, error);
    }
}

}  // namespace harmolune
