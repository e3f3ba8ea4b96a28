#include "tuning/PianoRecord.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "tuning/RecordFile.h"

namespace harmolune::tuning {

namespace {

// Keeps the fields in the order they come, so that a rewrite changes only
// what changed.
using Json = nlohmann::ordered_json;

constexpr const char* kKnownTop[] = {"version", "style", "keys"};
constexpr const char* kKnownKey[] = {"midi",     "f1Hz",    "uncertaintyCents", "inharmonicity",
                                     "partials", "seconds", "measuredAt"};

template <std::size_t N>
bool Known(const std::string& name, const char* const (&names)[N]) {
    for (const char* known : names) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// An integer written as one (69) or as a number with nothing after the
// point (69.0), within [lowest, highest].
std::optional<long long> WholeNumber(const Json& value, long long lowest, long long highest) {
    double x = 0.0;
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            const auto u = value.get<unsigned long long>();
            return u <= static_cast<unsigned long long>(highest) &&
                           static_cast<long long>(u) >= lowest
                       ? std::optional<long long>(static_cast<long long>(u))
                       : std::nullopt;
        }
        const auto i = value.get<long long>();
        return i >= lowest && i <= highest ? std::optional<long long>(i) : std::nullopt;
    }
    if (!value.is_number_float()) {
        return std::nullopt;
    }
    x = value.get<double>();
    // Past 2^53 a double holds no fraction to check, and past 2^63 no long long.
    constexpr double kExact = 9007199254740992.0;
    if (!(x >= static_cast<double>(lowest) && x <= static_cast<double>(highest)) ||
        std::abs(x) > kExact || std::floor(x) != x) {
        return std::nullopt;
    }
    return static_cast<long long>(x);
}

std::optional<double> Number(const Json& value) {
    if (!value.is_number()) {
        return std::nullopt;
    }
    const double x = value.get<double>();
    return std::isfinite(x) ? std::optional<double>(x) : std::nullopt;
}

bool ValidReading(const MeasuredKey& key) {
    if (key.midiNote < kLowestKey || key.midiNote > kHighestKey) {
        return false;
    }
    if (!std::isfinite(key.f1Hz) || !(key.f1Hz > 0.0) || !std::isfinite(key.uncertaintyCents) ||
        key.uncertaintyCents < 0.0 || !std::isfinite(key.seconds) || key.seconds < 0.0) {
        return false;
    }
    if (key.inharmonicity && (!std::isfinite(*key.inharmonicity) || *key.inharmonicity < 0.0)) {
        return false;
    }
    for (const PartialHz& p : key.partials) {
        if (p.number < 1 || p.number > 64 || !std::isfinite(p.frequencyHz) ||
            !(p.frequencyHz > 0.0)) {
            return false;
        }
    }
    return true;
}

std::string Field(const std::string& name) { return "« " + name + " »"; }

// How deeply arrays and objects nest, strings skipped: nlohmann-json writes
// and compares values recursively, so a record nested deeper than a record
// ever is gets refused before it is parsed.
constexpr int kMaxNesting = 64;
bool NestsTooDeep(std::string_view bytes) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxNesting) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

// The library's message on one line: control characters become spaces.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return text;
}

// One entry of "keys"; its reason in French when it cannot be read.
std::optional<MeasuredKey> ReadKey(const Json& entry, std::vector<UnknownField>& unknown,
                                   std::string& reason) {
    if (!entry.is_object()) {
        reason = "n'est pas un objet";
        return std::nullopt;
    }
    MeasuredKey key;
    const auto midi =
        entry.contains("midi") ? WholeNumber(entry["midi"], kLowestKey, kHighestKey) : std::nullopt;
    if (!midi) {
        reason = Field("midi") + " doit être un entier de 21 à 108";
        return std::nullopt;
    }
    key.midiNote = static_cast<int>(*midi);
    const auto f1 = entry.contains("f1Hz") ? Number(entry["f1Hz"]) : std::nullopt;
    if (!f1 || !(*f1 > 0.0)) {
        reason = Field("f1Hz") + " doit être un nombre positif";
        return std::nullopt;
    }
    key.f1Hz = *f1;
    for (const auto& [name, target] :
         {std::pair<const char*, double*>{"uncertaintyCents", &key.uncertaintyCents},
          std::pair<const char*, double*>{"seconds", &key.seconds}}) {
        if (!entry.contains(name)) {
            continue;
        }
        const auto x = Number(entry[name]);
        if (!x || *x < 0.0) {
            reason = Field(name) + " doit être un nombre positif ou nul";
            return std::nullopt;
        }
        *target = *x;
    }
    if (entry.contains("inharmonicity") && !entry["inharmonicity"].is_null()) {
        const auto B = Number(entry["inharmonicity"]);
        if (!B || *B < 0.0) {
            reason = Field("inharmonicity") + " doit être un nombre positif, ou null";
            return std::nullopt;
        }
        key.inharmonicity = *B;
    }
    if (entry.contains("partials")) {
        const Json& partials = entry["partials"];
        if (!partials.is_array()) {
            reason = Field("partials") + " doit être une liste";
            return std::nullopt;
        }
        for (const Json& p : partials) {
            const auto n =
                p.is_object() && p.contains("n") ? WholeNumber(p["n"], 1, 64) : std::nullopt;
            const auto hz = p.is_object() && p.contains("hz") ? Number(p["hz"]) : std::nullopt;
            if (!n || !hz || !(*hz > 0.0)) {
                reason = Field("partials") +
                         " doit donner pour chaque partiel « n » (1 à 64) et « hz » (positif)";
                return std::nullopt;
            }
            key.partials.push_back({static_cast<int>(*n), *hz});
        }
    }
    if (entry.contains("measuredAt")) {
        if (!entry["measuredAt"].is_string()) {
            reason = Field("measuredAt") + " doit être un texte";
            return std::nullopt;
        }
        key.measuredAt = entry["measuredAt"].get<std::string>();
    }
    for (const auto& [name, value] : entry.items()) {
        if (!Known(name, kKnownKey)) {
            unknown.emplace_back(name, value.dump());
        }
    }
    return key;
}

LoadedRecord Damaged(const std::string& reason) {
    LoadedRecord result;
    result.status = RecordStatus::kDamaged;
    result.line = reason;
    return result;
}

std::string Quoted(const std::string& path) { return "« " + path + " »"; }

}  // namespace

bool AddReading(PianoRecord& record, const MeasuredKey& key) {
    if (!ValidReading(key)) {
        return false;
    }
    record.keys[key.midiNote] = key;
    record.unknownInKey.erase(key.midiNote);
    return true;
}

std::vector<MeasuredKey> Readings(const PianoRecord& record) {
    std::vector<MeasuredKey> keys;
    for (const auto& [note, key] : record.keys) {
        keys.push_back(key);
    }
    return keys;
}

LoadedRecord ParsePianoRecord(std::string_view bytes) {
    if (NestsTooDeep(bytes)) {
        return Damaged("des listes ou des objets y sont imbriqués sur plus de " +
                       std::to_string(kMaxNesting) + " niveaux");
    }
    Json json;
    try {
        json = Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& e) {
        // nlohmann-json's own words come last.
        return Damaged("ce n'est pas du JSON lisible : " + OneLine(e.what()));
    }
    if (!json.is_object()) {
        return Damaged("ce n'est pas un objet JSON");
    }
    const auto version =
        json.contains("version")
            ? WholeNumber(json["version"], 1, std::numeric_limits<long long>::max())
            : std::nullopt;
    if (!version) {
        return Damaged(Field("version") + " manque, ou n'est pas un entier positif");
    }
    if (*version > kPianoRecordVersion) {
        LoadedRecord newer;
        newer.status = RecordStatus::kNewer;
        newer.line = "il vient d'une version plus récente de Harmolune (format " +
                     std::to_string(*version) + ", celle-ci lit le format " +
                     std::to_string(kPianoRecordVersion) + ")";
        return newer;
    }
    LoadedRecord result;
    result.status = RecordStatus::kLoaded;
    PianoRecord& record = result.record;
    if (json.contains("style")) {
        if (!json["style"].is_string()) {
            return Damaged(Field("style") + " doit être un texte");
        }
        record.style = json["style"].get<std::string>();
    }
    if (json.contains("keys")) {
        const Json& keys = json["keys"];
        if (!keys.is_array()) {
            return Damaged(Field("keys") + " doit être une liste");
        }
        for (std::size_t i = 0; i < keys.size(); ++i) {
            std::vector<UnknownField> unknown;
            std::string reason;
            const std::optional<MeasuredKey> key = ReadKey(keys[i], unknown, reason);
            if (!key) {
                return Damaged("l'entrée " + std::to_string(i + 1) + " de " + Field("keys") +
                               " : " + reason);
            }
            // A key given twice: the later entry is the later reading.
            record.keys[key->midiNote] = *key;
            record.unknownInKey.erase(key->midiNote);
            if (!unknown.empty()) {
                record.unknownInKey[key->midiNote] = std::move(unknown);
            }
        }
    }
    for (const auto& [name, value] : json.items()) {
        if (!Known(name, kKnownTop)) {
            record.unknown.emplace_back(name, value.dump());
        }
    }
    return result;
}

std::string PianoRecordText(const PianoRecord& record) {
    Json json = Json::object();
    json["version"] = kPianoRecordVersion;
    json["style"] = record.style;
    Json keys = Json::array();
    for (const auto& [note, key] : record.keys) {
        Json entry = Json::object();
        entry["midi"] = key.midiNote;
        entry["f1Hz"] = key.f1Hz;
        entry["uncertaintyCents"] = key.uncertaintyCents;
        if (key.inharmonicity) {
            entry["inharmonicity"] = *key.inharmonicity;
        }
        Json partials = Json::array();
        for (const PartialHz& p : key.partials) {
            partials.push_back(Json{{"n", p.number}, {"hz", p.frequencyHz}});
        }
        entry["partials"] = std::move(partials);
        entry["seconds"] = key.seconds;
        entry["measuredAt"] = key.measuredAt;
        if (const auto found = record.unknownInKey.find(note); found != record.unknownInKey.end()) {
            for (const auto& [name, value] : found->second) {
                if (Json v = Json::parse(value, nullptr, false); !v.is_discarded()) {
                    entry[name] = std::move(v);
                }
            }
        }
        keys.push_back(std::move(entry));
    }
    json["keys"] = std::move(keys);
    for (const auto& [name, value] : record.unknown) {
        // What the file held; text that does not parse cannot have come from it.
        if (Json v = Json::parse(value, nullptr, false); !v.is_discarded()) {
            json[name] = std::move(v);
        }
    }
    // Strings that are not UTF-8 (a style name from a caller) are written
    // with the replacement character rather than refused.
    return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

LoadedRecord LoadPianoRecord(const std::string& path, bool setAside) {
    std::string bytes;
    const int failure = ReadWholeFile(path, kMaxPianoRecordBytes, bytes);
    LoadedRecord result;
    if (failure == ENOENT) {
        return result;
    }
    if (failure == EFBIG) {
        result = Damaged("il dépasse " + std::to_string(kMaxPianoRecordBytes >> 20) +
                         " Mio, ce n'est pas un relevé");
    } else if (failure != 0) {
        result.status = RecordStatus::kUnreadable;
        result.line = "Le relevé du piano " + Quoted(path) +
                      " ne peut être lu et reste tel quel : " + std::strerror(failure);
        return result;
    } else {
        result = ParsePianoRecord(bytes);
    }
    if (result.status == RecordStatus::kLoaded) {
        return result;
    }
    const std::string reason = result.line;
    if (result.status == RecordStatus::kNewer) {
        result.line = "Le relevé du piano " + Quoted(path) + " est laissé tel quel : " + reason;
        return result;
    }
    result.record = PianoRecord{};
    if (!setAside) {
        result.line = "Le relevé du piano " + Quoted(path) + " est endommagé : " + reason;
        return result;
    }
    std::string aside;
    if (const int moved = MoveAside(path, path + std::string(kSetAsideSuffix), aside); moved != 0) {
        result.line = "Le relevé du piano " + Quoted(path) +
                      " est endommagé et reste tel quel, faute d'avoir pu le mettre de côté (" +
                      std::strerror(moved) + ") : " + reason;
        return result;
    }
    result.status = RecordStatus::kSetAside;
    result.line = "Le relevé du piano " + Quoted(path) +
                  " est endommagé ; il est mis de côté sous " + Quoted(aside) +
                  " et un nouveau relevé commence : " + reason;
    return result;
}

bool SavePianoRecord(const std::string& path, const PianoRecord& record, std::string& error) {
    const int failure = ReplaceFileAtomically(path, PianoRecordText(record), true);
    if (failure != 0) {
        error = "Le relevé du piano n'a pas pu être enregistré dans " + Quoted(path) + " : " +
                std::strerror(failure);
        return false;
    }
    return true;
}

std::string DefaultPianoRecordPath(std::string_view xdgDataHome, std::string_view home) {
    std::string name(kPianoRecordName);
    if (!xdgDataHome.empty() && xdgDataHome.front() == '/') {
        std::string dir(xdgDataHome);
        return dir + (dir.back() == '/' ? "" : "/") + "harmolune/" + name;
    }
    if (!home.empty()) {
        std::string dir(home);
        return dir + (dir.back() == '/' ? "" : "/") + ".local/share/harmolune/" + name;
    }
    return name;
}

}  // namespace harmolune::tuning
