// Recordings as people have them: the same struck tone written by libsndfile
// in the formats recorders and editors make, measured by harmolune-measure
// against the same tone written directly as 8-bit 32768 Hz; the float to
// 8-bit scaling against what PulseAudio gave for the same values; and the
// lines a converted, a quiet or an unreadable file gets.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/MeasureTool.h"
#include "cli/SoundFile.h"
#include "testing/WavFiles.h"

namespace harmolune {
namespace {

using testing::TempDir;

constexpr double kToneHz = 441.3;
// A4's reference; the tone lies 1200·log2(441.3/440) = +5.107 cents above it.
constexpr double kReferenceHz = 440.0;

// The struck tone, full scale ±1: silence for 0.2 s, then a sine at level 85
// of 127 dying away with a time constant of 2 s, over 5 s in all; under it a
// Gaussian noise of 0.3 of an 8-bit step, as a microphone's.
std::vector<double> StruckTone(int rate, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 0.3 / 127.0);
    std::vector<double> tone(static_cast<std::size_t>(5 * rate));
    for (std::size_t i = 0; i < tone.size(); ++i) {
        const double t = static_cast<double>(i) / rate - 0.2;
        const double x =
            t < 0.0 ? 0.0 : 85.0 / 127.0 * std::exp(-t / 2.0) * std::sin(2 * M_PI * kToneHz * t);
        tone[i] = x + noise(random);
    }
    return tone;
}

struct FormatCase {
    const char* name;
    const char* file;
    int format;
    int rate;
    int channels;
    const char* description;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

// Writes the tone through libsndfile. Two channels carry it at 1.25 and 0.75
// times its level: their mean is the tone, their sum would be twice it.
bool WriteWithLibsndfile(const std::string& path, const FormatCase& c) {
    SF_INFO info{};
    info.samplerate = c.rate;
    info.channels = c.channels;
    info.format = c.format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        ADD_FAILURE() << c.name << ": " << sf_strerror(nullptr);
        return false;
    }
    const std::vector<double> tone = StruckTone(c.rate, 7);
    std::vector<double> frames;
    for (const double x : tone) {
        if (c.channels == 1) {
            frames.push_back(x);
        } else {
            frames.push_back(1.25 * x);
            frames.push_back(0.75 * x);
        }
    }
    const sf_count_t count = static_cast<sf_count_t>(tone.size());
    const bool written = sf_writef_double(file, frames.data(), count) == count;
    sf_close(file);
    return written;
}

// The same tone as 8-bit unsigned samples at 32768 Hz, rounded by hand.
std::string DirectEightBit() {
    testing::WavLayout layout;
    for (const double x : StruckTone(kSampleRate, 7)) {
        layout.samples.push_back(static_cast<std::uint8_t>(128 + std::lround(127.0 * x)));
    }
    return testing::WavBytes(layout);
}

struct Reading {
    int status = -1;
    std::string err;
    double resultHz = NAN;
    double fineHz = NAN;
};

Reading Measure(const std::string& path) {
    std::ostringstream out;
    std::ostringstream err;
    Reading r;
    r.status = MeasureMain({"--key", "9", "--octave", "4", path}, out, err);
    r.err = err.str();
    const std::string text = out.str();
    const std::size_t result = text.rfind("result\t");
    const std::size_t fine = text.rfind("fine\t");
    if (result != std::string::npos && text.compare(result + 7, 3, "...") != 0) {
        r.resultHz = std::stod(text.substr(result + 7));
    }
    if (fine != std::string::npos && text.compare(fine + 5, 1, "-") != 0) {
        r.fineHz = std::stod(text.substr(fine + 5));
    }
    return r;
}

double Cents(double hz, double referenceHz) { return 1200.0 * std::log2(hz / referenceHz); }

class Formats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Formats, MeasureAsTheSameToneWrittenDirectlyAsEightBits) {
    const FormatCase& c = GetParam();
    TempDir dir;
    const std::string direct = (dir / "direct.wav").string();
    testing::WriteFile(direct, DirectEightBit());
    const Reading expected = Measure(direct);
    ASSERT_EQ(expected.status, 0) << expected.err;
    ASSERT_EQ(expected.err, "");
    // The direct file itself reads the generated tone.
    ASSERT_NEAR(expected.resultHz, kToneHz, 0.1);
    ASSERT_NEAR(Cents(expected.fineHz, kToneHz), 0.0, 0.05);

    const std::string path = (dir / c.file).string();
    ASSERT_TRUE(WriteWithLibsndfile(path, c));
    const Reading r = Measure(path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "harmolune-measure: " + path + " : " + c.description +
                         " ; mesuré comme la fenêtre l'entend (32768 Hz, mono, 8 bits)\n");
    // The tool prints the result to 0.01 Hz and the fine reading to 0.0001 Hz
    // (0.00039 c here): the conversion may move each by one printed step, no
    // more. A rate off by one in 44100 (the file read as 44099 Hz) moves the
    // tone by 0.039 c.
    EXPECT_NEAR(r.resultHz, expected.resultHz, 0.0101);
    EXPECT_NEAR(Cents(r.fineHz, kReferenceHz), Cents(expected.fineHz, kReferenceHz), 0.0004);
}

INSTANTIATE_TEST_SUITE_P(
    Recorders, Formats,
    ::testing::Values(FormatCase{"Wav16Bit44100Stereo", "a4.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                 44100, 2, "44100 Hz, 2 canaux, 16 bits"},
                      FormatCase{"Wav24Bit48000", "a4.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000,
                                 1, "48000 Hz, 1 canal, 24 bits"},
                      FormatCase{"WavFloat96000Stereo", "a4.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                 96000, 2, "96000 Hz, 2 canaux, 32 bits flottants"},
                      FormatCase{"Flac24Bit48000Stereo", "a4.flac",
                                 SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 48000, 2,
                                 "48000 Hz, 2 canaux, 24 bits"},
                      FormatCase{"OggVorbis48000Stereo", "a4.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS,
                                 48000, 2, "48000 Hz, 2 canaux, Vorbis"},
                      FormatCase{"Mp3At44100Stereo", "a4.mp3",
                                 SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2,
                                 "44100 Hz, 2 canaux, MP3"}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

// What a private PulseAudio 16.1 server gave a client recording u8 from a
// float32 null sink's monitor, for each float played into it.
struct ScalingCase {
    float in;
    int out;
};

TEST(ServerU8FromFloat, GivesWhatPulseAudioGaveForTheSameFloats) {
    const std::vector<ScalingCase> cases = {
        {1.0F, 255},         {-1.0F, 1},          {0.5F, 192},        {-0.5F, 64},
        {1.5F, 255},         {-1.5F, 0},          {0.0F, 128},        {0.5F / 127, 128},
        {-0.5F / 127, 128},  {1.5F / 127, 130},   {1.5F / 128, 129},  {2.5F / 127, 130},
        {-1.5F / 127, 126},  {-2.5F / 127, 126},  {-1.5F / 128, 127}, {100.0F / 127, 228},
        {100.0F / 128, 227}, {127.0F / 128, 254}, {-127.0F / 128, 2}, {126.5F / 127, 254},
        {126.5F / 128, 254}, {-127.5F / 128, 1},  {-127.5F / 127, 1}, {0.7F / 127, 129},
        {0.49F / 127, 128},  {0.51F / 127, 129},
    };
    for (const ScalingCase& c : cases) {
        EXPECT_EQ(ServerU8FromFloat(c.in), c.out) << c.in;
    }
    // A float file may hold anything: far out of range is full scale, and a
    // NaN, which has no level, is silence.
    EXPECT_EQ(ServerU8FromFloat(3e38F), 255);
    EXPECT_EQ(ServerU8FromFloat(-3e38F), 0);
    EXPECT_EQ(ServerU8FromFloat(std::numeric_limits<float>::infinity()), 255);
    EXPECT_EQ(ServerU8FromFloat(std::numeric_limits<float>::quiet_NaN()), 128);
}

TEST(SoundFile, AQuietRecordingIsMeasuredAsItIsAndSaysSo) {
    TempDir dir;
    const std::string path = (dir / "quiet.wav").string();
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    // A peak of 20 of 128: 20/127 of full scale, 2 s of it.
    std::vector<double> tone(std::size_t{2} * 44100);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = 20.0 / 127.0 * std::sin(2 * M_PI * kToneHz * static_cast<double>(i) / 44100);
    }
    ASSERT_EQ(sf_writef_double(file, tone.data(), static_cast<sf_count_t>(tone.size())),
              static_cast<sf_count_t>(tone.size()));
    sf_close(file);

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(MeasureMain({"--key", "9", "--octave", "4", path}, out, err), 0);
    EXPECT_EQ(err.str(),
              "harmolune-measure: " + path +
                  " : 44100 Hz, 1 canal, 16 bits ; mesuré comme la fenêtre l'entend (32768 Hz, "
                  "mono, 8 bits)\n"
                  "harmolune-measure: " +
                  path +
                  " : niveau faible : son échantillon le plus fort atteint 20 sur 128, et un bloc "
                  "se mesure à partir de 32 ; mesuré tel quel, comme avec un microphone peu "
                  "sensible\n");
    // Two seconds are 16 blocks, none of them loud enough.
    EXPECT_NE(out.str().find("\n15\t20\t"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("result\t...Hz\n"), std::string::npos);
}

struct RefusedCase {
    const char* name;
    std::string bytes;
    std::string reason;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }

std::string EightBitWav(std::uint32_t rate, std::uint16_t channels) {
    testing::WavLayout layout;
    layout.rate = rate;
    layout.channels = channels;
    layout.samples.assign(8192, 128);
    return testing::WavBytes(layout);
}

class Refused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(Refused, WithOneLineAndStatusTwo) {
    const RefusedCase& c = GetParam();
    TempDir dir;
    const std::string path = (dir / "x").string();
    testing::WriteFile(path, c.bytes);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(MeasureMain({"--string", "9", path}, out, err), 2);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "harmolune-measure: " + path + " : " + c.reason + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, Refused,
    ::testing::Values(
        RefusedCase{"Text", "Do ré mi\n",
                    "ce n'est pas un enregistrement lisible : Format not recognised"},
        RefusedCase{"Empty", "", "fichier vide"},
        RefusedCase{"RateTooLow", EightBitWav(800, 1),
                    "fréquence d'échantillonnage de 800 Hz ; on mesure de 1000 à 1000000 Hz"}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

// An 8-bit WAV the old reader refuses only for its rate or its channels is
// converted like any other recording.
TEST(SoundFile, AnEightBitStereoWavAtAnotherRateIsConverted) {
    TempDir dir;
    const std::string path = (dir / "x.wav").string();
    testing::WriteFile(path, EightBitWav(22050, 2));
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(MeasureMain({"--string", "9", path}, out, err), 0);
    EXPECT_EQ(err.str().substr(0, err.str().find('\n')),
              "harmolune-measure: " + path +
                  " : 22050 Hz, 2 canaux, 8 bits ; mesuré comme la fenêtre l'entend (32768 Hz, "
                  "mono, 8 bits)");
}

}  // namespace
}  // namespace harmolune
