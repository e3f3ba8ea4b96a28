// The texts under the user's number settings: run once with French settings
// (decimal comma) and once with C (decimal point); LC_ALL says which, and so
// which separator the texts must show.
#include <QLabel>
#include <QScrollBar>
#include <cstdlib>

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

TEST_F(LocaleTest, MeasurementUsesTheUsersSeparatorAndTheRightBand) {
    // Do 4, 261.63 Hz: read back with the user's separator the band is
    // bins 29 to 36 either way, so a tone at 262 Hz is measured.
    window->Widgets().octaveSelector->setValue(4);
    ClickKey(*window, window->Widgets().clavier[0]);
    ClickCentre(*window, window->Widgets().sample);
    capture.Push(Tone(262.0, 60, 3));
    capture.Push(Silence(1));
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->Cycle().SamplingState() == -1.0; }, 5000));
    const QString shown = Text("Label1");
    ASSERT_TRUE(shown.endsWith(" Hz")) << shown.toStdString();
    ASSERT_EQ(shown.size(), QString("262.00 Hz").size()) << shown.toStdString();
    EXPECT_EQ(shown.mid(3, 1), Separator()) << shown.toStdString();
    QString number = shown.left(6);
    number.replace(Separator(), ".");
    EXPECT_NEAR(number.toDouble(), 262.0, 0.5) << shown.toStdString();
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
