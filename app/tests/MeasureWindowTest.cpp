// Measurement through the window: the test feeds blocks of known pitch and
// level into the capture ring, and the window analyses each block once, in
// order, when the event loop hands it over.
#include <QAccessible>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <thread>

#include "app/FlatButton.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

class MeasureWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(midi, capture, folder.File());
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(capture.Started());
    }
    void ChooseLa4() {
        window->Widgets().octaveSelector->setValue(4);
        ClickKey(*window, window->Widgets().clavier[9]);
    }
    void Arm() { ClickCentre(*window, window->Widgets().sample); }
    // Pushes the samples and lets the window handle what they woke it for.
    void Feed(const std::vector<std::uint8_t>& samples) {
        capture.Push(samples);
        QCoreApplication::processEvents();
    }
    QString Label1() { return window->Widgets().measuredFrequency->text(); }
    double State() { return window->Cycle().SamplingState(); }

    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

// "441.03 Hz" gives 441.03; anything else gives NaN.
double Shown(const QString& text) {
    static const QRegularExpression form("^(\\d+)\\.(\\d\\d) Hz$");
    const QRegularExpressionMatch m = form.match(text);
    return m.hasMatch() ? (m.captured(1) + "." + m.captured(2)).toDouble() : std::nan("");
}

TEST_F(MeasureWindowTest, AToneThatComesAndGoesIsMeasured) {
    ChooseLa4();
    Arm();
    Feed(Silence(2));
    EXPECT_EQ(State(), 0.0);
    EXPECT_EQ(Label1(), "...Hz");
    Feed(Tone(441.0, 60, 3));
    EXPECT_EQ(State(), 4.0);  // armed, then three accepted blocks
    EXPECT_EQ(Label1(), "...Hz");
    Feed(Silence(1));
    EXPECT_EQ(State(), -1.0);
    EXPECT_NEAR(Shown(Label1()), 441.0, 0.5) << Label1().toStdString();
}

TEST_F(MeasureWindowTest, EveryBlockOfOneWakeUpIsAnalysed) {
    ChooseLa4();
    Arm();
    // Five blocks land before the window hears of any of them.
    capture.Push(Tone(441.0, 60, 5));
    QCoreApplication::processEvents();
    EXPECT_EQ(State(), 6.0);
}

TEST_F(MeasureWindowTest, TooLoudBlocksOnlyStartTheCount) {
    ChooseLa4();
    Arm();
    Feed(Tone(441.0, 100, 1));
    EXPECT_EQ(State(), 1.0);
    Feed(Tone(441.0, 100, 2));
    EXPECT_EQ(State(), 1.0);
    Feed(Silence(1));
    EXPECT_EQ(Label1(), "...Hz");
}

TEST_F(MeasureWindowTest, BlocksBeforeAnyNoteAreDropped) {
    Feed(Tone(441.0, 60, 4));
    EXPECT_EQ(State(), -1.0);
    EXPECT_EQ(Label1(), "");
    ChooseLa4();
    Arm();
    Feed(Silence(1));
    // Had the loud blocks been kept, they would have started the count.
    EXPECT_EQ(State(), 0.0);
}

TEST_F(MeasureWindowTest, ChoosingANoteDropsAnOpenMeasurement) {
    ChooseLa4();
    Arm();
    Feed(Tone(441.0, 60, 2));
    EXPECT_EQ(State(), 3.0);
    ClickCentre(*window, window->findChild<QWidget*>("Corde_9"));
    EXPECT_EQ(State(), -1.0);
    EXPECT_EQ(window->Cycle().FrequencySum(), 0.0);
    EXPECT_EQ(Label1(), "");
    // The old note's sound dying away shows nothing.
    Feed(Silence(1));
    EXPECT_EQ(Label1(), "");
}

// A musician clicks the key again to hear the reference while the
// measurement waits; a key and a string of the same pitch search one band.
TEST_F(MeasureWindowTest, ChoosingTheSamePitchAgainKeepsTheMeasurement) {
    window->Widgets().octaveSelector->setValue(2);
    ClickKey(*window, window->Widgets().clavier[9]);  // La 2, as the La string
    Arm();
    Feed(Tone(110.5, 60, 2));
    ASSERT_EQ(State(), 3.0);
    const double sum = window->Cycle().FrequencySum();
    midi.messages.clear();
    ClickKey(*window, window->Widgets().clavier[9]);
    ClickCentre(*window, window->findChild<QWidget*>("Corde_9"));
    EXPECT_EQ(midi.messages.size(), 8U);  // both sounded
    EXPECT_EQ(State(), 3.0);
    EXPECT_EQ(window->Cycle().FrequencySum(), sum);
    EXPECT_EQ(Label1(), "...Hz");
    Feed(Silence(1));
    EXPECT_NEAR(Shown(Label1()), 110.5, 0.5) << Label1().toStdString();
}

TEST_F(MeasureWindowTest, ChoosingANoteWhenIdleKeepsTheResult) {
    ChooseLa4();
    Arm();
    Feed(Tone(441.0, 60, 2));
    Feed(Silence(1));
    const QString result = Label1();
    ASSERT_NEAR(Shown(result), 441.0, 0.5);
    ClickCentre(*window, window->findChild<QWidget*>("Corde_9"));
    EXPECT_EQ(Label1(), result);
}

TEST_F(MeasureWindowTest, ClickingAgainWhileCountingStartsOver) {
    ChooseLa4();
    Arm();
    Feed(Tone(441.0, 60, 2));
    Arm();
    EXPECT_EQ(State(), 0.0);
    EXPECT_EQ(window->Cycle().FrequencySum(), 0.0);
    EXPECT_EQ(Label1(), "...Hz");
}

TEST_F(MeasureWindowTest, BlocksFromTheCaptureThreadArriveAsEvents) {
    ChooseLa4();
    Arm();
    // Real backends push from their own thread, a block every 125 ms; here
    // as fast as the thread can, and the window catches up in order.
    std::thread producer([this] {
        capture.Push(Tone(441.0, 60, 4));
        capture.Push(Silence(1));
    });
    producer.join();
    EXPECT_TRUE(QTest::qWaitFor([this] { return State() == -1.0; }, 5000));
    EXPECT_NEAR(Shown(Label1()), 441.0, 0.5) << Label1().toStdString();
}

// A struck note: 0.2 s of silence, then a sine decaying over 1.5 s, with a
// dither of a third of a step, as a microphone's noise gives.
std::vector<std::uint8_t> Struck(double frequencyHz, double seconds) {
    std::vector<std::uint8_t> samples;
    for (int t = 0; t < static_cast<int>(seconds * 32768); ++t) {
        const double s = t / 32768.0 - 0.2;
        const double x =
            s < 0.0 ? 0.0 : 80.0 * std::exp(-s / 1.5) * std::sin(2 * M_PI * frequencyHz * s);
        const double dither = ((t * 7919) % 97) / 97.0 - 0.5;
        samples.push_back(static_cast<std::uint8_t>(128 + std::lround(x + 0.6 * dither)));
    }
    return samples;
}

TEST_F(MeasureWindowTest, TheFineMeasurementIsLabel1sTooltipAndDescription) {
    ChooseLa4();
    Arm();
    const std::vector<std::uint8_t> note = Struck(443.0, 6.0);
    QLabel& measuredFrequency = *window->Widgets().measuredFrequency;
    bool provisional = false;
    for (std::size_t at = 0; at + 4096 <= note.size(); at += 4096) {
        Feed({note.begin() + static_cast<std::ptrdiff_t>(at),
              note.begin() + static_cast<std::ptrdiff_t>(at + 4096)});
        provisional |= measuredFrequency.toolTip().startsWith("Mesure fine (provisoire) : 443.0");
        EXPECT_EQ(measuredFrequency.toolTip(), measuredFrequency.accessibleDescription());
    }
    EXPECT_TRUE(provisional);
    EXPECT_NEAR(Shown(Label1()), 443.0, 3.0) << "Label1 keeps its own reading";
    // 443 Hz is 11.76 cents above La 4.
    EXPECT_TRUE(measuredFrequency.toolTip().startsWith("Mesure fine : 443.000 Hz, +11.76 cents"))
        << measuredFrequency.toolTip().toStdString();
    EXPECT_TRUE(measuredFrequency.toolTip().contains(" par rapport à La 4 (± "));
    EXPECT_EQ(measuredFrequency.accessibleDescription(), measuredFrequency.toolTip());

    Arm();
    EXPECT_EQ(measuredFrequency.toolTip(), "");
    EXPECT_EQ(measuredFrequency.accessibleDescription(), "");
}

TEST_F(MeasureWindowTest, WhatHappensIsSaidUnaskedOnceEachInOrder) {
    const ListenToNotices listen(*window);
    window->Widgets().octaveSelector->setValue(3);
    ClickKey(*window, window->Widgets().clavier[3]);   // Mib: 440 x 2^(-18/12)
    ClickCentre(*window, window->Widgets().corde[1]);  // the La string, MIDI 45
    ChooseLa4();
    Arm();
    const std::vector<std::uint8_t> note = Struck(443.0, 6.0);
    for (std::size_t at = 0; at + 4096 <= note.size(); at += 4096) {
        Feed({note.begin() + static_cast<std::ptrdiff_t>(at),
              note.begin() + static_cast<std::ptrdiff_t>(at + 4096)});
    }
    const QStringList& said = listen.Said();
    ASSERT_EQ(said.size(), 6) << said.join(" | ").toStdString();
    EXPECT_EQ(said[0], "Mi bémol 3, 155.56 Hz");
    EXPECT_EQ(said[1], "La 2, 110.00 Hz");
    EXPECT_EQ(said[2], "La 4, 440.00 Hz");
    EXPECT_EQ(said[3], "Mesure en cours");
    EXPECT_EQ(said[4], Label1());
    EXPECT_NEAR(Shown(said[4]), 443.0, 3.0);
    // The fine reading once it is final, as its tooltip shows it.
    EXPECT_EQ(said[5], window->Widgets().measuredFrequency->toolTip());
    EXPECT_TRUE(said[5].startsWith("Mesure fine : 443.000 Hz")) << said[5].toStdString();
}

TEST_F(MeasureWindowTest, ShutDownStopsCaptureOnce) {
    EXPECT_TRUE(window->close());
    EXPECT_EQ(capture.stops, 1);
    window.reset();
    EXPECT_EQ(capture.stops, 1);
}

}  // namespace
}  // namespace harmolune
