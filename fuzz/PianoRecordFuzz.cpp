// Fuzzes the piano's record: any bytes as the file's content are read as a
// record, refused as damaged, or left alone as a newer version, with one
// French line in the last two cases and never a crash. A record read is
// written again and reads back the same, to the last bit, and its curve is
// finite and never runs backwards. The bytes go to an in-memory file, so
// nothing touches the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "tuning/Curve.h"
#include "tuning/PianoRecord.h"

namespace {

using harmolune::tuning::LoadedRecord;
using harmolune::tuning::RecordStatus;

void CheckSame(const harmolune::tuning::PianoRecord& a, const harmolune::tuning::PianoRecord& b) {
    FUZZ_CHECK(a.style == b.style);
    FUZZ_CHECK(a.keys.size() == b.keys.size());
    FUZZ_CHECK(a.unknown == b.unknown);
    FUZZ_CHECK(a.unknownInKey == b.unknownInKey);
    for (const auto& [note, key] : a.keys) {
        const auto other = b.keys.find(note);
        FUZZ_CHECK(other != b.keys.end());
        const auto& k = other->second;
        FUZZ_CHECK(k.f1Hz == key.f1Hz && k.uncertaintyCents == key.uncertaintyCents);
        FUZZ_CHECK(k.inharmonicity == key.inharmonicity && k.seconds == key.seconds);
        FUZZ_CHECK(k.measuredAt == key.measuredAt && k.partials.size() == key.partials.size());
        for (std::size_t i = 0; i < key.partials.size(); ++i) {
            FUZZ_CHECK(k.partials[i].number == key.partials[i].number);
            FUZZ_CHECK(k.partials[i].frequencyHz == key.partials[i].frequencyHz);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const LoadedRecord parsed = harmolune::tuning::ParsePianoRecord(bytes);
    FUZZ_CHECK(parsed.status == RecordStatus::kLoaded || parsed.status == RecordStatus::kDamaged ||
               parsed.status == RecordStatus::kNewer);
    FUZZ_CHECK((parsed.status == RecordStatus::kLoaded) == parsed.line.empty());
    FUZZ_CHECK(parsed.line.find('\n') == std::string::npos);

    // The same bytes from a file: the same answer, and the file left alone.
    static const int fd = memfd_create("piano-record-fuzz", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const LoadedRecord loaded =
        harmolune::tuning::LoadPianoRecord("/proc/self/fd/" + std::to_string(fd), false);
    FUZZ_CHECK(size == 0 ? loaded.status == RecordStatus::kDamaged
                         : loaded.status == parsed.status);
    FUZZ_CHECK(loaded.CanSave() == (loaded.status == RecordStatus::kLoaded));

    if (parsed.status != RecordStatus::kLoaded) {
        FUZZ_CHECK(parsed.record.keys.empty());
        return 0;
    }
    const std::string text = harmolune::tuning::PianoRecordText(parsed.record);
    FUZZ_CHECK(text.rfind("{\n  \"version\": 1,\n", 0) == 0);
    const LoadedRecord again = harmolune::tuning::ParsePianoRecord(text);
    FUZZ_CHECK(again.status == RecordStatus::kLoaded);
    CheckSame(parsed.record, again.record);
    FUZZ_CHECK(harmolune::tuning::PianoRecordText(again.record) == text);

    const harmolune::tuning::Style* style = harmolune::tuning::FindStyle(parsed.record.style);
    const harmolune::tuning::Curve curve = harmolune::tuning::ComputeCurve(
        harmolune::tuning::Readings(parsed.record),
        style != nullptr ? *style : harmolune::tuning::Styles().front());
    for (std::size_t i = 0; i < curve.keys.size(); ++i) {
        const auto& key = curve.keys[i];
        FUZZ_CHECK(std::isfinite(key.targetCents) && std::isfinite(key.targetHz));
        FUZZ_CHECK(std::isfinite(key.uncertaintyCents) && key.uncertaintyCents >= 0.0);
        FUZZ_CHECK(i == 0 || key.targetCents >= curve.keys[i - 1].targetCents);
    }
    FUZZ_CHECK(curve.Key(69).targetCents == 0.0);
    return 0;
}
