// The WAV reader: the one format it takes, every other file refused with a
// reason, full blocks only, data cut short, and streams: standard input and
// FIFOs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>

#include "measure/WavReader.h"
#include "testing/WavFiles.h"

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
    // 0xFFFFFFFF, and what sox writes to a pipe.
    for (const std::int64_t unknown : {0xFFFFFFFFLL, 0x7FFFF000LL}) {
        WavLayout layout;
        layout.samples = Ramp(4096 + 5);
        layout.declaredData = unknown;
        WriteFile(dir / "c.wav", WavBytes(layout));
        WavReader wav;
        std::string error;
        ASSERT_TRUE(wav.Open((dir / "c.wav").string(), error)) << error;
        EXPECT_EQ(CountBlocks(wav, layout.samples), 1);
        EXPECT_FALSE(wav.CutShort()) << unknown;
    }
}

struct CutCase {
    const char* name;
    std::size_t samples;
    std::int64_t declared;
    int blocks;
    bool cutShort;
};

// A data chunk that ends before its declared size still gives the complete
// blocks that are there; its partial tail is read too, to tell the two apart.
TEST(WavReader, ADataChunkCutShortGivesTheCompleteBlocksThere) {
    const CutCase cases[] = {
        {"cut in the second block", 4096 + 100, 3 * std::int64_t{4096}, 1, true},
        {"cut before any block", 100, 8192, 0, true},
        {"cut in the partial tail", 2 * 4096 + 500, 2 * 4096 + 1000, 2, true},
        {"complete, with a partial tail", 2 * 4096 + 1000, 2 * 4096 + 1000, 2, false},
        {"more bytes than declared", 3 * std::size_t{4096}, 4096 + 7, 1, false},
    };
    TempDir dir;
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        WavLayout layout;
        layout.samples = Ramp(c.samples);
        layout.declaredData = c.declared;
        WriteFile(dir / "cut.wav", WavBytes(layout));
        WavReader wav;
        std::string error;
        ASSERT_TRUE(wav.Open((dir / "cut.wav").string(), error)) << error;
        EXPECT_EQ(CountBlocks(wav, layout.samples), c.blocks);
        EXPECT_EQ(wav.CutShort(), c.cutShort);
        EXPECT_EQ(wav.FoundBytes(), std::min<std::uint64_t>(c.samples, c.declared));
        EXPECT_EQ(wav.ReadError(), "");
    }
}

// Writes bytes into fd from a thread of its own, then closes it: a pipe
// holds far less than a recording.
class Writer {
  public:
    Writer(int fd, std::string bytes)
        : thread_([fd, bytes = std::move(bytes)] {
              for (std::size_t done = 0; done < bytes.size();) {
                  const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
                  if (n <= 0) {
                      break;
                  }
                  done += static_cast<std::size_t>(n);
              }
              close(fd);
          }) {}
    ~Writer() { thread_.join(); }

  private:
    std::thread thread_;
};

TEST(WavReader, StandardInputIsReadAsAStream) {
    WavLayout layout;
    layout.samples = Ramp(5 * std::size_t{4096} + 10);
    layout.extraChunkBeforeData = true;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int savedStdin = dup(STDIN_FILENO);
    ASSERT_EQ(dup2(fds[0], STDIN_FILENO), STDIN_FILENO);
    close(fds[0]);
    {
        Writer writer(fds[1], WavBytes(layout));
        WavReader wav;
        std::string error;
        ASSERT_TRUE(wav.Open("-", error)) << error;
        EXPECT_EQ(CountBlocks(wav, layout.samples), 5);
        EXPECT_FALSE(wav.CutShort());
    }
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
}

TEST(WavReader, AFifoIsReadAsAStreamAndOneNobodyWritesToIsRefused) {
    TempDir dir;
    const std::string fifo = (dir / "fifo.wav").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    {
        WavReader idle;
        std::string error;
        EXPECT_FALSE(idle.Open(fifo, error, 200));
        EXPECT_EQ(error, "rien n'y a été écrit pendant 200 ms");
    }
    WavLayout layout;
    layout.samples = Ramp(20 * std::size_t{4096});  // more than a pipe holds
    WavReader wav;
    std::string error;
    // Whichever of the reader and the writer comes first waits for the other.
    std::thread opener([&] { ASSERT_TRUE(wav.Open(fifo, error)) << error; });
    const int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    Writer writer(fd, WavBytes(layout));
    opener.join();
    EXPECT_EQ(CountBlocks(wav, layout.samples), 20);
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
    const std::string good = WavBytes(WavLayout{});
    const Case cases[] = {
        {"empty file", "", "trop court"},
        {"text", "hello, this is not a recording", "pas un fichier RIFF/WAVE"},
        {"RIFF but not WAVE", std::string("RIFF\x04\0\0\0AVI ", 12), "pas un fichier RIFF/WAVE"},
        {"16-bit", WavBytes(pcm16), "16 bits"},
        {"stereo", WavBytes(stereo), "2 canaux"},
        {"44.1 kHz", WavBytes(rate), "44100 Hz"},
        {"float", WavBytes(floating), "code de format 3"},
        {"header cut in the format chunk", good.substr(0, 30), "segment de format endommagé"},
        {"no data chunk", good.substr(0, 36), "aucun segment de données"},
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
    EXPECT_EQ(error, "c'est un dossier");
}

}  // namespace
}  // namespace harmolune
