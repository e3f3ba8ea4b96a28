// SIGTERM and SIGINT close the window as a close request does, saving the
// octave, even with help open.
#include <QScrollBar>
#include <csignal>

#include "app/TerminationSignals.h"
#include "app/tests/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

class SignalClose : public testing::TestWithParam<int> {};

TEST_P(SignalClose, SavesTheOctaveAndClosesEvenWithHelpOpen) {
    TempFolder folder;
    RecordingMidiOutput midi;
    FeedingCapture capture;
    MainWindow window(midi, capture, folder.File());
    TerminationSignals relay;
    QObject::connect(&relay, &TerminationSignals::Received, &window, &MainWindow::CloseNow);
    window.StartUp();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Widgets().hScroll1->setValue(6);
    window.OpenHelp();

    ASSERT_EQ(std::raise(GetParam()), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_EQ(ReadFile(folder.File()), "6\r\n");
    EXPECT_EQ(midi.closes, 1);
    EXPECT_EQ(capture.stops, 1);
}

INSTANTIATE_TEST_SUITE_P(Window, SignalClose, testing::Values(SIGTERM, SIGINT),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "Sigterm" : "Sigint");
                         });

}  // namespace
}  // namespace harmolune
