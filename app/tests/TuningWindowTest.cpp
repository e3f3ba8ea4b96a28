// The tuning display in the window: it follows the chosen note on every block,
// whether "Échantillonner l'instrument" was clicked or not, and leaves the
// measured display to the measurement.
#include <QLabel>
#include <QScrollBar>

#include "app/FlatButton.h"
#include "app/TuningDisplay.h"
#include "testing/StiffString.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

class TuningWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(midi, capture, folder.File());
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void ChooseLa4() {
        window->Widgets().octaveSelector->setValue(4);
        ClickKey(*window, window->Widgets().clavier[9]);
    }
    // Block by block, as the capture hands them over; after each, what the
    // display shows.
    std::vector<TuningView> Feed(const std::vector<std::uint8_t>& samples) {
        std::vector<TuningView> shown;
        for (std::size_t at = 0; at + 4096 <= samples.size(); at += 4096) {
            capture.Push(std::vector<std::uint8_t>(
                samples.begin() + static_cast<std::ptrdiff_t>(at),
                samples.begin() + static_cast<std::ptrdiff_t>(at + 4096)));
            QCoreApplication::processEvents();
            shown.push_back(window->Widgets().tuningDisplay->View());
        }
        return shown;
    }
    static testing::StiffStringSound Struck(double seconds) {
        testing::StiffStringTone tone;
        tone.midiNote = 69;
        tone.fundamentalHz = 440.0 * std::exp2(3.0 / 1200.0);  // 3 c sharp
        tone.leadSeconds = 0.0;
        tone.seconds = seconds;
        tone.seed = 21;
        return testing::SynthesiseStiffString(tone);
    }

    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

TEST_F(TuningWindowTest, AStruckKeyIsFollowedWithoutAMeasurementAndItsEndSaidOnce) {
    ChooseLa4();
    ListenToNotices notices(*window);
    Feed(Silence(8));  // the reference tone's blocks are over
    EXPECT_TRUE(window->Widgets().tuningDisplay->View().empty);
    const std::vector<TuningView> shown = Feed(Struck(2.0).samples);
    // The strike's block, then its first reading with the next block.
    ASSERT_GE(shown.size(), 5u);
    EXPECT_FALSE(shown[1].empty);
    EXPECT_EQ(shown[1].state, "en cours");
    // Half a second on: 3 c sharp, as the display writes it (the tests run
    // in the C locale).
    EXPECT_EQ(shown[4].deviation, "+3.0 c");
    EXPECT_EQ(shown[4].verdict, "trop haut");
    const std::vector<TuningView> after = Feed(Silence(24));
    EXPECT_EQ(after.back().state, "finale");
    EXPECT_TRUE(after.back().spokenName.startsWith("Mesure fine : 440.76"))
        << after.back().spokenName.toStdString();
    // The measured display is the measurement's alone.
    EXPECT_TRUE(window->Widgets().measuredFrequency->text().isEmpty());
    int said = 0;
    for (const QString& s : notices.Said()) {
        said += s.startsWith("Mesure fine") ? 1 : 0;
    }
    EXPECT_EQ(said, 1) << notices.Said().join(" | ").toStdString();
}

TEST_F(TuningWindowTest, TheWindowsOwnToneIsNotReadAndAnotherNoteEmptiesTheDisplay) {
    ChooseLa4();
    // What the microphone hears of the tone the click played.
    Feed(Silence(1));
    Feed(Struck(1.5).samples);
    EXPECT_TRUE(window->Widgets().tuningDisplay->View().empty);
    Feed(Silence(8));
    Feed(Struck(1.0).samples);
    EXPECT_FALSE(window->Widgets().tuningDisplay->View().empty);
    ClickKey(*window, window->Widgets().clavier[11]);
    EXPECT_TRUE(window->Widgets().tuningDisplay->View().empty);
}

}  // namespace
}  // namespace harmolune
