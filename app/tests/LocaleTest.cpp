// The texts under the user's number settings: run once with French settings
// (decimal comma) and once with C (decimal point); LC_ALL says which, and so
// which separator the texts must show.
#include <QLabel>
#include <QScrollBar>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/FlatButton.h"
#include "app/TuningDisplay.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

QString Separator() {
    const char* locale = std::getenv("LC_ALL");
    return locale != nullptr && std::string(locale).starts_with("fr") ? "," : ".";
}

class LocaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(midi, capture, folder.File());
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QString Text(const char* name) { return window->findChild<QLabel*>(name)->text(); }

    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

TEST_F(LocaleTest, ReferenceUsesTheUsersSeparator) {
    window->Widgets().octaveSelector->setValue(4);
    ClickKey(*window, window->Widgets().clavier[9]);
    EXPECT_EQ(Text("Label4"), "440" + Separator() + "00Hz");
    ClickCentre(*window, window->findChild<QWidget*>("Corde_4"));
    EXPECT_EQ(Text("Label4"), "82" + Separator() + "41Hz");
    window->Widgets().octaveSelector->setValue(8);
    ClickKey(*window, window->Widgets().clavier[11]);
    EXPECT_EQ(Text("Label4"), "7902" + Separator() + "13Hz");
}

// n blocks of two sines at 8-bit levels a and b around 128, 32768 samples a
// second: frequencies in hertz.
std::vector<std::uint8_t> TwoTones(double aHz, int a, double bHz, int b, int blocks) {
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(blocks) * 4096);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / 32768.0;
        samples[i] = static_cast<std::uint8_t>(
            std::lround(128 + a * std::sin(2 * M_PI * aHz * t) + b * std::sin(2 * M_PI * bHz * t)));
    }
    return samples;
}

TEST_F(LocaleTest, MeasurementUsesTheUsersSeparatorAndTheRightBand) {
    // Si 4, "493,88Hz" or "493.88Hz". Read back with the user's separator,
    // 493.88 Hz searches bins 56 (0.9 x 493.88 / 8 = 55.56) to 68 (67.91);
    // read with the other one, the number stops at 493 and the search
    // starts at bin 55 (55.46). Bin 55 is 440 Hz: a loud 440 Hz, centred on
    // its bin, leaves the bins around it at nothing, and a softer 497 Hz
    // (bin 62.125) is the peak of the right band. Its neighbours 61 and 63
    // hold |sin(pi d)| / |d| = 0.340 and 0.437 of its magnitude: the
    // estimate is (488 x 0.340 + 504 x 0.437) / 0.777 = 497.0 Hz. In the band
    // from 55, the 440 Hz tone is the peak instead, and only the 497 Hz
    // tone's faint tails beside it (0.047 and 0.062) weigh its neighbours:
    // (432 x 0.047 + 448 x 0.062) / 0.110 = 441.1 Hz.
    window->Widgets().octaveSelector->setValue(4);
    ClickKey(*window, window->Widgets().clavier[11]);
    ASSERT_EQ(Text("Label4"), "493" + Separator() + "88Hz");
    ClickCentre(*window, window->Widgets().sample);
    capture.Push(TwoTones(440.0, 40, 497.0, 20, 3));
    capture.Push(Silence(1));
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->Cycle().SamplingState() == -1.0; }, 5000));
    const QString shown = Text("Label1");
    ASSERT_TRUE(shown.endsWith(" Hz")) << shown.toStdString();
    ASSERT_EQ(shown.size(), QString("497.00 Hz").size()) << shown.toStdString();
    EXPECT_EQ(shown.mid(3, 1), Separator()) << shown.toStdString();
    QString number = shown.left(6);
    number.replace(Separator(), ".");
    EXPECT_NEAR(number.toDouble(), 497.0, 0.5) << shown.toStdString();
}

TEST_F(LocaleTest, TheTuningDisplayUsesTheUsersSeparator) {
    LiveReading reading;
    reading.fine.frequencyHz = 440.866;
    reading.fine.cents = 3.4;
    reading.fine.uncertaintyCents = 0.4;
    reading.fine.seconds = 0.8;
    window->Widgets().tuningDisplay->Show(reading, "La 4");
    const TuningView& view = window->Widgets().tuningDisplay->View();
    EXPECT_EQ(view.deviation, "+3" + Separator() + "4 c");
    EXPECT_EQ(view.uncertainty, "± 0" + Separator() + "4");
    EXPECT_EQ(view.frequency, "440" + Separator() + "866 Hz");
    EXPECT_TRUE(view.spokenName.contains("440" + Separator() + "866 Hz"))
        << view.spokenName.toStdString();
}

TEST_F(LocaleTest, OctaveFileIsNotTouchedByTheSeparator) {
    window->Widgets().octaveSelector->setValue(-1);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(ReadFile(folder.File()), "-1\r\n");
}

}  // namespace
}  // namespace harmolune
