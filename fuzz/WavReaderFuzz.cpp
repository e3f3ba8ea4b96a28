// Fuzzes the 8-bit WAV path of harmolune-measure: any bytes as a WAV file end
// either in one clear error line, or in a measurement of exactly the full
// blocks the data chunk holds, with one warning line when the chunk is cut
// short. What WavReader refuses goes on to the reader of other formats
// (fuzzed by SoundFileFuzz.cpp): here only its first line is checked. The
// bytes go to an in-memory file, so nothing touches the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "cli/MeasureTool.h"
#include "fuzz/FuzzCheck.h"
#include "measure/WavReader.h"

namespace {

// The smallest file that can hold samples: RIFF header, fmt chunk, data header.
constexpr std::size_t kMinHeader = 12 + 8 + 16 + 8;

int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n' ? 1 : 0;
    }
    return n;
}

// Digits, a point and exactly `decimals` digits.
bool IsFixed(const std::string& text, std::size_t decimals) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos || point == 0 || text.size() != point + 1 + decimals) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i != point && (text[i] < '0' || text[i] > '9')) {
            return false;
        }
    }
    return true;
}

// "fine" and "-", or "fine", hertz with four decimals, signed cents, the
// uncertainty and the seconds with two, tab-separated.
bool IsFineLine(const std::string& line) {
    if (line == "fine\t-") {
        return true;
    }
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
        fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    return fields.size() == 5 && fields[0] == "fine" && IsFixed(fields[1], 4) &&
           fields[2].size() > 1 && (fields[2][0] == '+' || fields[2][0] == '-') &&
           IsFixed(fields[2].substr(1), 2) && IsFixed(fields[3], 2) && IsFixed(fields[4], 2);
}

// "partials\t-", or B as 3.04e-04 and at least three n:FREQ, FREQ with 3
// decimals, the partials in rising order.
bool IsPartialsLine(const std::string& line) {
    if (line == "partials\t-") {
        return true;
    }
    const std::size_t tab = line.find('\t', 9);
    if (line.rfind("partials\t", 0) != 0 || tab == std::string::npos || tab != 17) {
        return false;
    }
    const std::string b = line.substr(9, 8);
    if (!(b[0] >= '0' && b[0] <= '9' && b[1] == '.' && b[4] == 'e' &&
          (b[5] == '-' || b[5] == '+'))) {
        return false;
    }
    int count = 0;
    int last = 0;
    std::size_t from = tab + 1;
    while (from <= line.size()) {
        std::size_t end = line.find(' ', from);
        if (end == std::string::npos) {
            end = line.size();
        }
        const std::string item = line.substr(from, end - from);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos || colon == 0 || !IsFixed(item.substr(colon + 1), 3)) {
            return false;
        }
        const int n = std::stoi(item.substr(0, colon));
        if (n <= last) {
            return false;
        }
        last = n;
        ++count;
        from = end + 1;
    }
    return count >= 3;
}

bool IsResultText(const std::string& label) {
    if (label == "...Hz") {
        return true;
    }
    // "0.00 Hz": digits, a point, two digits, " Hz".
    const std::size_t point = label.find('.');
    if (point == std::string::npos || point == 0 || label.size() != point + 6 ||
        label.compare(point + 3, 3, " Hz") != 0) {
        return false;
    }
    for (std::size_t i = 0; i < point + 3; ++i) {
        if (i != point && (label[i] < '0' || label[i] > '9')) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = memfd_create("wav-fuzz", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    harmolune::WavReader wav;
    std::string error;
    long long blocks = -1;
    bool cutShort = false;
    if (wav.Open(path, error)) {
        FUZZ_CHECK(size >= kMinHeader);
        harmolune::Block block{};
        blocks = 0;
        while (wav.ReadBlock(block)) {
            ++blocks;
        }
        FUZZ_CHECK(wav.ReadError().empty());
        FUZZ_CHECK(wav.FoundBytes() <= size - kMinHeader);
        FUZZ_CHECK(static_cast<std::uint64_t>(blocks) == wav.FoundBytes() / block.size());
        if (wav.DeclaredBytes()) {
            FUZZ_CHECK(wav.FoundBytes() <= *wav.DeclaredBytes());
        }
        cutShort = wav.CutShort();
    } else {
        FUZZ_CHECK(!error.empty());
    }

    std::ostringstream out;
    std::ostringstream err;
    const int status = harmolune::MeasureMain({"--key", "9", "--octave", "4", path}, out, err);
    if (blocks < 0) {
        // Converted, or refused in one line by the other reader.
        const std::string converted =
            " ; mesuré comme la fenêtre l'entend (32768 Hz, mono, 8 bits)\n";
        FUZZ_CHECK(err.str().rfind("harmolune-measure: " + path + " : ", 0) == 0);
        FUZZ_CHECK(status == 0 || status == 2);
        if (err.str().find(converted) == std::string::npos) {
            FUZZ_CHECK(status == 2);
            FUZZ_CHECK(out.str().empty());
            FUZZ_CHECK(Lines(err.str()) == 1);
        }
    } else {
        FUZZ_CHECK(status == 0);
        if (cutShort) {
            FUZZ_CHECK(err.str().rfind("harmolune-measure: " + path + " : attention : ", 0) == 0);
            FUZZ_CHECK(Lines(err.str()) == 1);
        } else {
            FUZZ_CHECK(err.str().empty());
        }
        // The note line, the header, one line per block, the result line, the
        // fine measurement's line and the partials line.
        const std::string text = out.str();
        FUZZ_CHECK(Lines(text) == blocks + 5);
        const std::size_t result = text.rfind("result\t");
        const std::size_t fine = text.rfind("\nfine\t");
        const std::size_t partials = text.rfind("\npartials\t");
        FUZZ_CHECK(result != std::string::npos && fine != std::string::npos && fine > result &&
                   partials != std::string::npos && partials > fine);
        FUZZ_CHECK(IsResultText(text.substr(result + 7, fine - result - 7)));
        FUZZ_CHECK(IsFineLine(text.substr(fine + 1, partials - fine - 1)));
        FUZZ_CHECK(IsPartialsLine(text.substr(partials + 1, text.size() - partials - 2)));
    }
    return 0;
}
