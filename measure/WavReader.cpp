#include "measure/WavReader.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

namespace harmolune {

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// A size written as 0xFFFFFFFF means "unknown, up to the end of the file", as
// streaming recorders leave it.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFU;

}  // namespace

bool WavReader::Open(const std::string& path, std::string& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "is a directory";
        return false;
    }
    file_.open(path, std::ios::binary);
    if (!file_) {
        error = std::string("cannot be opened: ") + std::strerror(errno);
        return false;
    }
    const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);

    std::array<unsigned char, 12> riff{};
    if (!file_.read(reinterpret_cast<char*>(riff.data()), riff.size())) {
        error = "too short to be a WAV file";
        return false;
    }
    if (std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        error = "not a RIFF/WAVE file";
        return false;
    }

    bool sawFormat = false;
    std::uint64_t position = 12;
    for (;;) {
        std::array<unsigned char, 8> header{};
        if (!file_.read(reinterpret_cast<char*>(header.data()), header.size())) {
            error = sawFormat ? "no data chunk" : "no format chunk";
            return false;
        }
        position += 8;
        const std::uint32_t size = Le32(header.data() + 4);
        const std::uint64_t remaining = fileSize - std::min(fileSize, position);

        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            if (size < 16 || size > remaining) {
                error = "damaged format chunk";
                return false;
            }
            std::array<unsigned char, 16> fmt{};
            file_.read(reinterpret_cast<char*>(fmt.data()), fmt.size());
            const std::uint16_t tag = Le16(fmt.data());
            const std::uint16_t channels = Le16(fmt.data() + 2);
            const std::uint32_t rate = Le32(fmt.data() + 4);
            const std::uint16_t bits = Le16(fmt.data() + 14);
            if (tag != 1) {
                error = "not plain PCM (format tag " + std::to_string(tag) +
                        "); 8-bit unsigned mono PCM at 32768 Hz is needed";
                return false;
            }
            if (bits != 8 || channels != 1 || rate != static_cast<std::uint32_t>(kSampleRate)) {
                error = std::to_string(bits) + "-bit, " + std::to_string(channels) +
                        (channels == 1 ? " channel, " : " channels, ") + std::to_string(rate) +
                        " Hz; 8-bit unsigned mono PCM at 32768 Hz is needed";
                return false;
            }
            sawFormat = true;
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!sawFormat) {
                error = "data chunk before the format chunk";
                return false;
            }
            if (size == kUnknownSize) {
                dataBytes_ = remaining;
            } else if (size > remaining) {
                error = "truncated: the data chunk declares " + std::to_string(size) +
                        " bytes but only " + std::to_string(remaining) + " follow";
                return false;
            } else {
                dataBytes_ = size;
            }
            file_.seekg(static_cast<std::streamoff>(position));
            return true;
        } else if (size > remaining) {
            std::string id(header.begin(), header.begin() + 4);
            for (char& ch : id) {
                if (ch < 0x20 || ch > 0x7E) {
                    ch = '?';
                }
            }
            error = "damaged chunk '" + id + "'";
            return false;
        }
        // Chunks are padded to an even length.
        position += static_cast<std::uint64_t>(size) + (size & 1U);
        file_.seekg(static_cast<std::streamoff>(position));
        if (!file_) {
            error = sawFormat ? "no data chunk" : "no format chunk";
            return false;
        }
    }
}

bool WavReader::ReadBlock(Block& out) {
    if (dataBytes_ - consumed_ < out.size()) {
        return false;
    }
    if (!file_.read(reinterpret_cast<char*>(out.data()),
                    static_cast<std::streamsize>(out.size()))) {
        return false;
    }
    consumed_ += out.size();
    return true;
}

}  // namespace harmolune
