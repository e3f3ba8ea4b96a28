// The WAV reader: the one format it takes, every other file refused with a
// reason, and full blocks only.
#include <gtest/gtest.h>

#include <string>

#include "measure/WavReader.h"
#include "measure/tests/WavFiles.h"

namespace harmolune {
namespace {

using testing::TempDir;
using testing::WavBytes;
using testing::WavLayout;
using testing::WriteFile;

std::vector<std::uint8_t> Ramp(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::uint8_t>(i * 7 + i / 4096);
    }
    return v;
}

int CountBlocks(WavReader& wav, const std::vector<std::uint8_t>& expected) {
    Block block{};
    int n = 0;
    while (wav.ReadBlock(block)) {
        for (int i = 0; i < kFrameLength; ++i) {
            EXPECT_EQ(block[i], expected[n * kFrameLength + i]) << "block " << n << " sample " << i;
        }
        ++n;
    }
    return n;
}

TEST(WavReader, ReadsFullBlocksAndIgnoresATrailingPart) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Ramp(2 * std::size_t{4096} + 1000);
    WriteFile(dir / "a.wav", WavBytes(layout));
    WavReader wav;
    std::string error;
    ASSERT_TRUE(wav.Open((dir / "a.wav").string(), error)) << error;
    EXPECT_EQ(CountBlocks(wav, layout.samples), 2);
}

TEST(WavReader, SkipsOtherChunksWithTheirPadding) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Ramp(3 * std::size_t{4096});
    layout.extraChunkBeforeFormat = true;
    layout.extraChunkBeforeData = true;
    WriteFile(dir / "b.wav", WavBytes(layout));
    WavReader wav;
    std::string error;
    ASSERT_TRUE(wav.Open((dir / "b.wav").string(), error)) << error;
    EXPECT_EQ(CountBlocks(wav, layout.samples), 3);
}

TEST(WavReader, UnknownDataSizeMeansUpToTheEnd) {
    TempDir dir;
    WavLayout layout;
    layout.samples = Ramp(4096 + 5);
    layout.declaredData = 0xFFFFFFFF;
    WriteFile(dir / "c.wav", WavBytes(layout));
    WavReader wav;
    std::string error;
    ASSERT_TRUE(wav.Open((dir / "c.wav").string(), error)) << error;
    EXPECT_EQ(CountBlocks(wav, layout.samples), 1);
}

TEST(WavReader, ZeroLengthDataGivesNoBlock) {
    TempDir dir;
    WriteFile(dir / "z.wav", WavBytes(WavLayout{}));
    WavReader wav;
    std::string error;
    ASSERT_TRUE(wav.Open((dir / "z.wav").string(), error)) << error;
    Block block{};
    EXPECT_FALSE(wav.ReadBlock(block));
}

TEST(WavReader, RefusesEveryOtherFileWithAReason) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string bytes;
        const char* reasonContains;
    };
    WavLayout pcm16;
    pcm16.bits = 16;
    WavLayout stereo;
    stereo.channels = 2;
    WavLayout rate;
    rate.rate = 44100;
    WavLayout floating;
    floating.formatTag = 3;
    WavLayout lying;
    lying.samples = Ramp(100);
    lying.declaredData = 8192;
    const std::string good = WavBytes(WavLayout{});
    const Case cases[] = {
        {"empty file", "", "too short"},
        {"text", "hello, this is not a recording", "not a RIFF/WAVE"},
        {"RIFF but not WAVE", std::string("RIFF\x04\0\0\0AVI ", 12), "not a RIFF/WAVE"},
        {"16-bit", WavBytes(pcm16), "16-bit"},
        {"stereo", WavBytes(stereo), "2 channels"},
        {"44.1 kHz", WavBytes(rate), "44100 Hz"},
        {"float", WavBytes(floating), "format tag 3"},
        {"data size larger than the file", WavBytes(lying), "truncated"},
        {"header cut in the format chunk", good.substr(0, 30), "format chunk"},
        {"no data chunk", good.substr(0, 36), "no data chunk"},
    };
    for (const Case& c : cases) {
        const auto path = dir / "bad.wav";
        WriteFile(path, c.bytes);
        WavReader wav;
        std::string error;
        EXPECT_FALSE(wav.Open(path.string(), error)) << c.what;
        EXPECT_NE(error.find(c.reasonContains), std::string::npos)
            << c.what << ": got \"" << error << '"';
    }
}

TEST(WavReader, MissingFileAndDirectory) {
    TempDir dir;
    WavReader missing;
    std::string error;
    EXPECT_FALSE(missing.Open((dir / "none.wav").string(), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    std::filesystem::create_directory(dir / "folder.wav");
    WavReader folder;
    EXPECT_FALSE(folder.Open((dir / "folder.wav").string(), error));
    EXPECT_NE(error.find("directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace harmolune
