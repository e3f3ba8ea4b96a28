#include "measure/WavReader.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace harmolune {

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Sizes that a writer which cannot seek back to the header leaves there,
// meaning "up to the end": 0xFFFFFFFF, and sox's 0x7FFFF000 when it writes
// to a pipe.
constexpr std::uint32_t kUnknownSize = 0xFFFFFFFFU;
constexpr std::uint32_t kSoxStreamSize = 0x7FFFF000U;

// Waits until a writer has written to the FIFO or come and gone; false when
// nobody did within patienceMs.
bool WaitForWriter(int fd, int patienceMs) {
    pollfd wake{fd, POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&wake, 1, patienceMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// The reasons Open gives, in French, as harmolune-measure prints them after
// the file's name. strerror's text is given as it comes.
constexpr const char* kIsDirectory = "c'est un dossier";
constexpr const char* kTooShort = "trop court pour être un fichier WAV";
constexpr const char* kNotRiffWave = "ce n'est pas un fichier RIFF/WAVE";
constexpr const char* kNoFormatChunk = "aucun segment de format";
constexpr const char* kNoDataChunk = "aucun segment de données";
constexpr const char* kDamagedFormatChunk = "segment de format endommagé";
constexpr const char* kDataBeforeFormat = "segment de données avant le segment de format";
constexpr const char* kWhatIsNeeded = " ; il faut du PCM mono non signé de 8 bits à 32768 Hz";

std::string NothingWritten(const std::string& duration) {
    return "rien n'y a été écrit pendant " + duration;
}
std::string NotPlainPcm(unsigned tag) {
    return "ce n'est pas du PCM simple (code de format " + std::to_string(tag) + ")" +
           kWhatIsNeeded;
}
std::string WrongPcm(unsigned bits, unsigned channels, std::uint32_t rate) {
    return std::to_string(bits) + (bits > 1 ? " bits, " : " bit, ") + std::to_string(channels) +
           (channels > 1 ? " canaux, " : " canal, ") + std::to_string(rate) + " Hz" + kWhatIsNeeded;
}
std::string DamagedChunk(const std::string& id) { return "segment « " + id + " » endommagé"; }

// "5 s", or "250 ms" when not whole seconds.
std::string Duration(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

}  // namespace

WavReader::~WavReader() {
    if (ownsFd_) {
        close(fd_);
    }
}

std::size_t WavReader::Read(unsigned char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size && !ended_) {
        const ssize_t n = read(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            readError_ = std::strerror(errno);
        }
        if (n <= 0) {
            ended_ = true;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool WavReader::Skip(std::uint64_t size) {
    std::array<unsigned char, 4096> scrap{};
    while (size > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, scrap.size()));
        if (Read(scrap.data(), want) != want) {
            return false;
        }
        size -= want;
    }
    return true;
}

bool WavReader::Open(const std::string& path, std::string& error, int writerPatienceMs) {
    if (path == "-") {
        fd_ = STDIN_FILENO;
    } else {
        // Not blocking, so that opening a FIFO does not wait for a writer
        // for ever; the wait below has a limit.
        fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            error = std::strerror(errno);
            return false;
        }
        ownsFd_ = true;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = kIsDirectory;
        return false;
    }
    if (ownsFd_) {
        if (S_ISFIFO(st.st_mode) && !WaitForWriter(fd_, writerPatienceMs)) {
            error = NothingWritten(Duration(writerPatienceMs));
            return false;
        }
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    }

    std::array<unsigned char, 12> riff{};
    if (Read(riff.data(), riff.size()) != riff.size()) {
        error = readError_.empty() ? kTooShort : readError_;
        return false;
    }
    if (std::memcmp(riff.data(), "RIFF", 4) != 0 || std::memcmp(riff.data() + 8, "WAVE", 4) != 0) {
        error = kNotRiffWave;
        return false;
    }

    bool sawFormat = false;
    for (;;) {
        std::array<unsigned char, 8> header{};
        if (Read(header.data(), header.size()) != header.size()) {
            error = sawFormat ? kNoDataChunk : kNoFormatChunk;
            return false;
        }
        const std::uint32_t size = Le32(header.data() + 4);

        if (std::memcmp(header.data(), "fmt ", 4) == 0) {
            std::array<unsigned char, 16> fmt{};
            if (size < fmt.size() || Read(fmt.data(), fmt.size()) != fmt.size() ||
                !Skip(size - fmt.size())) {
                error = kDamagedFormatChunk;
                return false;
            }
            const std::uint16_t tag = Le16(fmt.data());
            const std::uint16_t channels = Le16(fmt.data() + 2);
            const std::uint32_t rate = Le32(fmt.data() + 4);
            const std::uint16_t bits = Le16(fmt.data() + 14);
            if (tag != 1) {
                error = NotPlainPcm(tag);
                return false;
            }
            if (bits != 8 || channels != 1 || rate != static_cast<std::uint32_t>(kSampleRate)) {
                error = WrongPcm(bits, channels, rate);
                return false;
            }
            sawFormat = true;
        } else if (std::memcmp(header.data(), "data", 4) == 0) {
            if (!sawFormat) {
                error = kDataBeforeFormat;
                return false;
            }
            if (size != kUnknownSize && size != kSoxStreamSize) {
                declaredBytes_ = size;
            }
            return true;
        } else if (!Skip(size)) {
            std::string id(header.begin(), header.begin() + 4);
            for (char& ch : id) {
                if (ch < 0x20 || ch > 0x7E) {
                    ch = '?';
                }
            }
            error = DamagedChunk(id);
            return false;
        }
        // Chunks are padded to an even length; a pad byte missing at the very
        // end leaves nothing more to read, which the next header finds.
        if ((size & 1U) != 0) {
            Skip(1);
        }
    }
}

bool WavReader::ReadBlock(Block& out) {
    if (ended_) {
        return false;
    }
    if (declaredBytes_ && *declaredBytes_ - foundBytes_ < out.size()) {
        // The trailing partial block is not measured, but read, to tell a
        // complete data chunk from one cut short.
        std::array<unsigned char, kFrameLength> scrap{};
        foundBytes_ += Read(scrap.data(), static_cast<std::size_t>(*declaredBytes_ - foundBytes_));
        ended_ = true;
        return false;
    }
    const std::size_t n = Read(out.data(), out.size());
    foundBytes_ += n;
    return n == out.size();
}

}  // namespace harmolune
