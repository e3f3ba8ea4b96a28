#include "cli/SoundFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/MeasureTexts.h"

namespace harmolune {

namespace {

// Frames read from the file at a time, and resampled samples made at a time.
constexpr sf_count_t kFramesPerRead = 1024;
constexpr std::size_t kResampledPerCall = 4096;

// How the file's samples are stored, as a musician names it: "24 bits",
// "32 bits flottants", "Vorbis"; otherwise libsndfile's own name of the
// encoding.
std::string Encoding(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return "8 bits";
        case SF_FORMAT_PCM_16:
            return "16 bits";
        case SF_FORMAT_PCM_24:
            return "24 bits";
        case SF_FORMAT_PCM_32:
            return "32 bits";
        case SF_FORMAT_FLOAT:
            return "32 bits flottants";
        case SF_FORMAT_DOUBLE:
            return "64 bits flottants";
        case SF_FORMAT_VORBIS:
            return "Vorbis";
        case SF_FORMAT_OPUS:
            return "Opus";
        case SF_FORMAT_MPEG_LAYER_I:
            return "MPEG couche I";
        case SF_FORMAT_MPEG_LAYER_II:
            return "MPEG couche II";
        case SF_FORMAT_MPEG_LAYER_III:
            return "MP3";
        default:
            break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_SUBMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 &&
        info.name != nullptr) {
        return info.name;
    }
    return measure_texts::kEncoding + std::to_string(format & SF_FORMAT_SUBMASK);
}

// libsndfile's reason as one line: some of its texts end with a line feed or
// a full stop, or run over several lines.
std::string LibraryText(SNDFILE* file) {
    std::string text = sf_strerror(file);
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && (text.back() == ' ' || text.back() == '.')) {
        text.pop_back();
    }
    return text.empty() ? measure_texts::kUnknownError : text;
}

}  // namespace

std::uint8_t ServerU8FromFloat(float x) {
    // The server's steps: scale and offset in double, kept as a float (which
    // can turn 129.4999999 into 129.5), clamped, rounded half to even. The
    // clamp comes before the narrowing here, where the server's comes after:
    // the same for every value, and a float far out of range never has to
    // narrow to one. A NaN is taken as silence.
    if (std::isnan(x)) {
        return 128;
    }
    const double scaled = std::clamp(static_cast<double>(x) * 127.0 + 128.0, 0.0, 255.0);
    return static_cast<std::uint8_t>(std::nearbyint(static_cast<float>(scaled)));
}

SoundFile::~SoundFile() { Close(); }

void SoundFile::Close() {
    if (resampler_ != nullptr) {
        soxr_delete(resampler_);
        resampler_ = nullptr;
    }
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool SoundFile::Open(const std::string& path, std::string& error) {
    Close();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    fd_ = fd;
    struct stat status {};
    if (fstat(fd, &status) == 0 && status.st_size == 0) {
        Close();
        error = measure_texts::kEmptyFile;
        return false;
    }
    info_ = SF_INFO{};
    file_ = sf_open_fd(fd, SFM_READ, &info_, SF_FALSE);
    if (file_ == nullptr) {
        Close();
        error = measure_texts::kNotARecording + LibraryText(nullptr);
        return false;
    }
    return Prepare(error);
}

bool SoundFile::OpenMemory(const std::uint8_t* data, std::size_t size, std::string& error) {
    Close();
    if (size == 0) {
        error = measure_texts::kEmptyFile;
        return false;
    }
    memory_ = Memory{data, static_cast<sf_count_t>(size), 0};
    static SF_VIRTUAL_IO io{&SoundFile::MemoryLength, &SoundFile::MemorySeek,
                            &SoundFile::MemoryRead, &SoundFile::MemoryWrite,
                            &SoundFile::MemoryTell};
    info_ = SF_INFO{};
    file_ = sf_open_virtual(&io, SFM_READ, &info_, &memory_);
    if (file_ == nullptr) {
        error = measure_texts::kNotARecording + LibraryText(nullptr);
        return false;
    }
    return Prepare(error);
}

bool SoundFile::Prepare(std::string& error) {
    const int rate = info_.samplerate;
    const int channels = info_.channels;
    if (channels < 1) {
        error = measure_texts::kNoChannels;
        Close();
        return false;
    }
    if (rate < kLowestRate || rate > kHighestRate) {
        error = measure_texts::RateOutOfRange(rate, kLowestRate, kHighestRate);
        Close();
        return false;
    }
    description_ = std::to_string(rate) + " Hz, " + measure_texts::Channels(channels) + ", " +
                   Encoding(info_.format);

    soxr_error_t failure = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    resampler_ = soxr_create(rate, kSampleRate, 1, &failure, &io, &quality, nullptr);
    if (resampler_ == nullptr || failure != nullptr) {
        error = std::string(measure_texts::kCannotResample) +
                (failure != nullptr ? failure : measure_texts::kNoMemory);
        Close();
        return false;
    }
    frames_.assign(static_cast<std::size_t>(kFramesPerRead) * static_cast<std::size_t>(channels),
                   0.0F);
    mono_.assign(static_cast<std::size_t>(kFramesPerRead), 0.0F);
    resampled_.assign(kResampledPerCall, 0.0F);
    monoNext_ = monoEnd_ = 0;
    resampledNext_ = resampledEnd_ = 0;
    inputEnded_ = false;
    drained_ = false;
    readError_.clear();
    peakLevel_ = 0;
    return true;
}

bool SoundFile::ReadBlock(Block& out) {
    if (file_ == nullptr) {
        return false;
    }
    std::size_t filled = 0;
    while (filled < out.size()) {
        if (resampledNext_ == resampledEnd_ && !Refill()) {
            return false;
        }
        const std::size_t n = std::min(out.size() - filled, resampledEnd_ - resampledNext_);
        for (std::size_t i = 0; i < n; ++i) {
            out[filled + i] = ServerU8FromFloat(resampled_[resampledNext_ + i]);
        }
        resampledNext_ += n;
        filled += n;
    }
    peakLevel_ = std::max(peakLevel_, BlockLevel(out));
    return true;
}

bool SoundFile::Refill() {
    resampledNext_ = resampledEnd_ = 0;
    const std::size_t channels = static_cast<std::size_t>(info_.channels);
    while (!drained_) {
        std::size_t made = 0;
        if (monoNext_ < monoEnd_) {
            std::size_t used = 0;
            const soxr_error_t failure =
                soxr_process(resampler_, mono_.data() + monoNext_, monoEnd_ - monoNext_, &used,
                             resampled_.data(), resampled_.size(), &made);
            if (failure != nullptr) {
                readError_ = failure;
                return false;
            }
            monoNext_ += used;
        } else if (!inputEnded_) {
            const sf_count_t frames = sf_readf_float(file_, frames_.data(), kFramesPerRead);
            if (frames <= 0) {
                inputEnded_ = true;
                if (sf_error(file_) != SF_ERR_NO_ERROR) {
                    readError_ = LibraryText(file_);
                    return false;
                }
                continue;
            }
            // The mean of the channels, as the server mixes a stereo source
            // down for a mono stream.
            for (sf_count_t f = 0; f < frames; ++f) {
                const float* frame = frames_.data() + static_cast<std::size_t>(f) * channels;
                double sum = 0.0;
                for (std::size_t c = 0; c < channels; ++c) {
                    sum += frame[c];
                }
                mono_[static_cast<std::size_t>(f)] =
                    static_cast<float>(sum / static_cast<double>(channels));
            }
            monoNext_ = 0;
            monoEnd_ = static_cast<std::size_t>(frames);
        } else {
            // The input has ended: what the resampler still holds comes out.
            const soxr_error_t failure = soxr_process(resampler_, nullptr, 0, nullptr,
                                                      resampled_.data(), resampled_.size(), &made);
            if (failure != nullptr) {
                readError_ = failure;
                return false;
            }
            drained_ = made == 0;
        }
        if (made > 0) {
            resampledEnd_ = made;
            return true;
        }
    }
    return false;
}

sf_count_t SoundFile::MemoryLength(void* memory) { return static_cast<Memory*>(memory)->size; }

sf_count_t SoundFile::MemorySeek(sf_count_t offset, int whence, void* memory) {
    auto* m = static_cast<Memory*>(memory);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) {
        base = m->position;
    } else if (whence == SEEK_END) {
        base = m->size;
    }
    // Anywhere from the start to the end; a seek past either stops there.
    if (offset > 0 && base > m->size - offset) {
        m->position = m->size;
    } else if (offset < 0 && base + offset < 0) {
        m->position = 0;
    } else {
        m->position = base + offset;
    }
    return m->position;
}

sf_count_t SoundFile::MemoryRead(void* to, sf_count_t count, void* memory) {
    auto* m = static_cast<Memory*>(memory);
    const sf_count_t n = std::clamp<sf_count_t>(count, 0, m->size - m->position);
    if (n > 0) {
        std::memcpy(to, m->data + m->position, static_cast<std::size_t>(n));
        m->position += n;
    }
    return n;
}

sf_count_t SoundFile::MemoryWrite(const void*, sf_count_t, void*) { return 0; }

sf_count_t SoundFile::MemoryTell(void* memory) { return static_cast<Memory*>(memory)->position; }

}  // namespace harmolune
