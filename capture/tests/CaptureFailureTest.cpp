// Capture when the sound server is missing or dies: PortAudio's own text
// comes back, stderr carries no library chatter, and a server killed while
// recording ends the blocks with one line and no crash. The dying server is
// the test's own, not the one the other sound tests share.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <thread>

#include "capture/BlockRing.h"
#include "capture/PortAudioCapture.h"
#include "capture/tests/SoundTestSupport.h"
#include "measure/tests/WavFiles.h"

namespace harmolune {
namespace {

using namespace std::chrono_literals;

int CountOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + 1)) {
        ++count;
    }
    return count;
}

// Blocks that arrive within duration.
int Arrivals(BlockRing& ring, std::chrono::milliseconds duration) {
    int count = 0;
    Block block;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        while (ring.Pop(block)) {
            ++count;
        }
        std::this_thread::sleep_for(10ms);
    }
    return count;
}

constexpr char kLostLine[] =
    "harmolune: sound capture stopped: the input device or the sound server went away\n";

// With no server the ALSA pulse device cannot open, so there is no input at
// all. (On a machine with a sound card and no sound server ALSA would offer
// the card instead.)
TEST(CaptureFailure, NoServerGivesPortAudiosOwnTextAndAQuietStderr) {
    const testing::ScopedEnvironment noServer("PULSE_SERVER", "unix:no-such-server/native");
    auto ring = std::make_unique<BlockRing>();
    PortAudioCapture capture;
    std::string error;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(capture.Start(*ring, error));
    capture.Stop();
    capture.Stop();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(error == "Invalid device" || error == "Device unavailable") << error;
    EXPECT_EQ(err, "");
    EXPECT_FALSE(capture.Lost());
    EXPECT_EQ(Arrivals(*ring, 200ms), 0);
}

TEST(CaptureFailure, AServerKilledWhileRecordingEndsTheBlocksWithOneLine) {
    testing::TempDir dir;
    testing::PrivateSoundServer server(dir / "server");
    ASSERT_TRUE(server.WaitUntilReady());
    const testing::ScopedEnvironment ownServer("PULSE_SERVER", server.Address());

    auto ring = std::make_unique<BlockRing>();
    PortAudioCapture capture;
    std::string error;
    ASSERT_TRUE(capture.Start(*ring, error)) << error;
    int before = 0;
    for (int i = 0; i < 50 && before < 2; ++i) {
        before += Arrivals(*ring, 100ms);
    }
    ASSERT_GE(before, 2);

    ::testing::internal::CaptureStderr();
    server.Kill();
    for (int i = 0; i < 50 && !capture.Lost(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(capture.Lost());
    Arrivals(*ring, 200ms);  // whatever was on its way
    EXPECT_EQ(Arrivals(*ring, 600ms), 0);
    capture.Stop();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountOf(err, kLostLine), 1) << err;

    // Starting again finds no server, and says so in PortAudio's words.
    EXPECT_FALSE(capture.Start(*ring, error));
    EXPECT_FALSE(error.empty());
    capture.Stop();
}

}  // namespace
}  // namespace harmolune
