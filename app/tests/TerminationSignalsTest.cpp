// SIGTERM and SIGINT close the window as a close request does, saving the
// octave, even with help open.
#include <QScrollBar>
#include <QTimer>
#include <csignal>

#include "app/TerminationSignals.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

class SignalClose : public ::testing::TestWithParam<int> {};

TEST_P(SignalClose, SavesTheOctaveAndClosesEvenWithHelpOpen) {
    TempDir folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    MainWindow window(midi, capture, folder.File());
    TerminationSignals relay;
    QObject::connect(&relay, &TerminationSignals::Received, &window, &MainWindow::CloseNow);
    ASSERT_TRUE(window.StartUp());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Widgets().octaveSelector->setValue(6);
    window.OpenHelp();

    ASSERT_EQ(std::raise(GetParam()), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_EQ(ReadFile(folder.File()), "6\r\n");
    EXPECT_EQ(midi.closes, 1);
    EXPECT_EQ(capture.stops, 1);
}

TEST(SignalClose, DuringTheStartUpBoxClosesTheBoxSavesAndShowsNothing) {
    TempDir folder;
    WriteFile(folder.File(), "5 extra\r\nsecond line\r\n");
    RecordingMidiOutput midi;
    FailingCapture capture;
    MainWindow window(midi, capture, folder.File());
    TerminationSignals relay;
    QObject::connect(&relay, &TerminationSignals::Received, &window, &MainWindow::CloseNow);
    // Once the box is up, a signal comes instead of a click on OK.
    bool raised = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!raised && QApplication::activeModalWidget() != nullptr) {
            raised = std::raise(SIGTERM) == 0;
        }
    });
    poll.start(10);
    EXPECT_FALSE(window.StartUp());
    EXPECT_TRUE(raised);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ReadFile(folder.File()), "5\r\n");
    EXPECT_EQ(midi.closes, 1);
}

INSTANTIATE_TEST_SUITE_P(Window, SignalClose, ::testing::Values(SIGTERM, SIGINT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

}  // namespace
}  // namespace harmolune
