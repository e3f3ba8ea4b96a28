// The window driven from the keyboard alone, offscreen, with key events sent
// to the window as a real keyboard sends them: the Tab order, Space and
// Enter on keys and strings (the same texts and MIDI messages as a click),
// the arrows on the octave selector, Escape on the help pane, and the focus
// frame drawn only where the focus is.
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBrowser>

#include "app/CurvePane.h"
#include "app/FlatButton.h"
#include "app/TuningDisplay.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

// The Tab stops in order, from the first key, which has the focus at start.
const char* const kTabOrder[] = {
    "Clavier_0",  "Clavier_1",     "Clavier_2",  "Clavier_3", "Clavier_4",
    "Clavier_5",  "Clavier_6",     "Clavier_7",  "Clavier_8", "Clavier_9",
    "Clavier_10", "Clavier_11",    "Corde_4",    "Corde_9",   "Corde_14",
    "Corde_19",   "Corde_23",      "Corde_28",   "HScroll1",  "Command2",
    "Command0",   "TuningDisplay", "CurveStyle", "NewPiano",  "CurveButton",
};
constexpr int kTabStops = static_cast<int>(std::size(kTabOrder));

int TabsTo(const std::string& name) {
    for (int i = 0; i < kTabStops; ++i) {
        if (name == kTabOrder[i]) {
            return i;
        }
    }
    return -1;
}

class KeyboardTest : public ::testing::Test {
  protected:
    void Start() {
        window = std::make_unique<MainWindow>(midi, capture, settings);
        ASSERT_TRUE(window->StartUp());
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window->windowHandle(), key, modifiers);
    }
    void Tab(int times) {
        for (int i = 0; i < times; ++i) {
            Press(Qt::Key_Tab);
        }
    }
    QString Focused() const {
        const QWidget* w = QApplication::focusWidget();
        return w == nullptr ? QString("(none)") : w->objectName();
    }
    const Controls& C() { return window->Widgets(); }

    TempDir folder;
    std::string settings = folder.File();
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

TEST_F(KeyboardTest, AtStartTheFirstKeyHoldsTheFocusWithoutShowingIt) {
    Start();
    EXPECT_EQ(Focused(), "Clavier_0");
    // Drawn as any key without the focus: white, inside its outline.
    const QImage key = C().clavier[0]->grab().toImage();
    EXPECT_EQ(key.pixel(3, key.height() - 8) & 0xFFFFFF, 0xFFFFFFu);
    // Space plays it, as on any key that has the focus.
    Press(Qt::Key_Space);
    EXPECT_EQ(C().noteName->text(), "Do");
}

TEST_F(KeyboardTest, TabGoesThroughKeysStringsOctaveAndButtonsThenWraps) {
    Start();
    EXPECT_EQ(Focused(), kTabOrder[0]);
    for (int i = 1; i < kTabStops; ++i) {
        Press(Qt::Key_Tab);
        EXPECT_EQ(Focused(), kTabOrder[i]);
    }
    Press(Qt::Key_Tab);
    EXPECT_EQ(Focused(), "Clavier_0");
    for (int i = kTabStops - 1; i >= kTabStops - 6; --i) {
        Press(Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(Focused(), kTabOrder[i]);
    }
}

// L has the tuning display's reading said, wherever the focus stands, and
// only then: what the display shows as it changes is not said.
TEST_F(KeyboardTest, LSaysTheTuningDisplaysReadingWhereverTheFocusIs) {
    Start();
    const ListenToNotices listen(*window);
    TuningDisplay& display = *C().tuningDisplay;
    const auto name = [&display] {
        return QAccessible::queryAccessibleInterface(&display)->text(QAccessible::Name);
    };
    Press(Qt::Key_L);
    ASSERT_EQ(listen.Said(), QStringList{"Aucune mesure fine"});

    LiveReading reading;
    reading.fine.frequencyHz = 440.866;
    reading.fine.cents = 3.4;
    reading.fine.uncertaintyCents = 0.4;
    reading.fine.seconds = 0.4;
    reading.pianoKey = true;
    display.Show(reading, "La 4");
    reading.fine.cents = 2.2;
    display.Show(reading, "La 4");
    EXPECT_EQ(listen.Said().size(), 1) << "a live change was said";

    QStringList expected{"Aucune mesure fine"};
    for (const char* stop : {"Clavier_9", "HScroll1", "Command0", "TuningDisplay"}) {
        SCOPED_TRACE(stop);
        Tab((TabsTo(stop) - TabsTo(Focused().toStdString()) + kTabStops) % kTabStops);
        ASSERT_EQ(Focused(), stop);
        midi.messages.clear();
        Press(Qt::Key_L);
        expected.push_back(name());
        EXPECT_EQ(listen.Said(), expected);
        EXPECT_EQ(Focused(), stop) << "the focus stays";
        EXPECT_TRUE(midi.messages.empty()) << "L plays nothing";
    }
    EXPECT_TRUE(expected.back().startsWith("Mesure fine (provisoire) : 440.866 Hz, +2.2 cents"))
        << expected.back().toStdString();
}

struct PressCase {
    const char* button;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int octave;
    const char* name;
    const char* octaveText;
    const char* reference;
    std::vector<std::uint32_t> messages;
};

void PrintTo(const PressCase& c, std::ostream* os) { *os << c.button << " key " << c.key; }

class KeyboardPress : public KeyboardTest, public ::testing::WithParamInterface<PressCase> {};

TEST_P(KeyboardPress, PlaysTheFocusedNoteAsAClickDoes) {
    Start();
    const PressCase& p = GetParam();
    C().octaveSelector->setValue(p.octave);
    Tab(TabsTo(p.button));
    ASSERT_EQ(Focused(), p.button);
    midi.messages.clear();
    Press(p.key, p.modifiers);
    EXPECT_EQ(C().noteName->text(), QString::fromUtf8(p.name));
    EXPECT_EQ(C().octave->text(), p.octaveText);
    EXPECT_EQ(C().referenceFrequency->text(), p.reference);
    EXPECT_EQ(midi.messages, p.messages);
}

// The texts and messages of the same notes clicked (under C settings): the
// program change, the bank select, the note-off of key 0, the note-on.
INSTANTIATE_TEST_SUITE_P(Keyboard, KeyboardPress,
                         ::testing::Values(PressCase{"Clavier_9",
                                                     Qt::Key_Space,
                                                     {},
                                                     4,
                                                     "La",
                                                     "4",
                                                     "440.00Hz",
                                                     {0xC0, 0x3C20B0, 0x0080, 0x7F4590}},
                                           PressCase{"Clavier_0",
                                                     Qt::Key_Return,
                                                     {},
                                                     -1,
                                                     "Do",
                                                     "-1",
                                                     "8.18Hz",
                                                     {0xC0, 0x3C20B0, 0x0080, 0x7F0090}},
                                           PressCase{"Clavier_10",
                                                     Qt::Key_Enter,
                                                     Qt::KeypadModifier,
                                                     3,
                                                     "Sib",
                                                     "3",
                                                     "233.08Hz",
                                                     {0xC0, 0x3C20B0, 0x0080, 0x7F3A90}},
                                           PressCase{"Clavier_11",
                                                     Qt::Key_Space,
                                                     {},
                                                     8,
                                                     "Si",
                                                     "8",
                                                     "7902.13Hz",
                                                     {0xC0, 0x3C20B0, 0x0080, 0x7F7790}},
                                           PressCase{"Corde_4",
                                                     Qt::Key_Space,
                                                     {},
                                                     3,
                                                     "Mi",
                                                     "2",
                                                     "82.41Hz",
                                                     {0x19C0, 0x3C20B0, 0x0080, 0x7F2890}},
                                           PressCase{"Corde_28",
                                                     Qt::Key_Return,
                                                     {},
                                                     3,
                                                     "Mi",
                                                     "4",
                                                     "329.63Hz",
                                                     {0x19C0, 0x3C20B0, 0x0080, 0x7F4090}}),
                         [](const ::testing::TestParamInfo<PressCase>& info) {
                             return std::string(info.param.button) + "Key" +
                                    std::to_string(info.index);
                         });

TEST_F(KeyboardTest, OtherKeysOnANotePlayNothing) {
    Start();
    Tab(TabsTo("Clavier_9"));
    midi.messages.clear();
    for (Qt::Key key : {Qt::Key_A, Qt::Key_Escape, Qt::Key_Left, Qt::Key_Up}) {
        Press(key);
    }
    EXPECT_TRUE(midi.messages.empty());
    EXPECT_EQ(C().noteName->text(), "");
}

TEST_F(KeyboardTest, ArrowsOnTheSelectorStepTheOctaveAndStopAtTheEnds) {
    Start();  // no settings file: octave 3
    Tab(TabsTo("HScroll1"));
    ASSERT_EQ(Focused(), "HScroll1");
    struct Step {
        Qt::Key key;
        const char* octaveReadOut;
    };
    const Step steps[] = {
        {Qt::Key_Left, "2"},  {Qt::Key_Left, "1"},  {Qt::Key_Right, "2"}, {Qt::Key_Right, "3"},
        {Qt::Key_Home, "-1"}, {Qt::Key_Left, "-1"}, {Qt::Key_Right, "0"}, {Qt::Key_End, "8"},
        {Qt::Key_Right, "8"}, {Qt::Key_Down, "7"},  {Qt::Key_Down, "6"},  {Qt::Key_Up, "7"},
    };
    for (const Step& s : steps) {
        Press(s.key);
        EXPECT_EQ(C().octaveReadOut->text(), s.octaveReadOut) << "after key " << s.key;
    }
    EXPECT_EQ(C().octaveSelector->value(), 7);
    // The octave chosen from the keyboard is the one a key then plays.
    Tab(TabsTo("Clavier_9") + kTabStops - TabsTo("HScroll1"));
    Press(Qt::Key_Space);
    EXPECT_EQ(C().referenceFrequency->text(), "3520.00Hz");
}

TEST_F(KeyboardTest, HelpOpensFromTheKeyboardAndEscapeClosesIt) {
    Start();
    const QSize laidOut = window->size();
    Tab(TabsTo("Command0"));
    Press(Qt::Key_Space);
    ASSERT_TRUE(window->HelpOpen());
    EXPECT_EQ(QApplication::focusWidget(), C().helpPane);
    // The controls under the pane are out of the Tab chain meanwhile.
    for (int i = 0; i < 4; ++i) {
        Press(Qt::Key_Tab);
        EXPECT_TRUE(QApplication::focusWidget() == C().helpPane ||
                    QApplication::focusWidget() == C().closeHelp)
            << Focused().toStdString();
    }
    Press(Qt::Key_Escape);
    EXPECT_FALSE(window->HelpOpen());
    EXPECT_EQ(window->size(), laidOut);
    EXPECT_EQ(Focused(), "Command0");
    EXPECT_TRUE(C().clavier[0]->isVisible());
    // With help closed, Escape neither closes the window nor changes it.
    Press(Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->size(), laidOut);
}

TEST_F(KeyboardTest, TheHelpButtonFromTheKeyboardAndFermerWithTheMouse) {
    Start();
    Tab(TabsTo("Command0"));
    Press(Qt::Key_Return);
    ASSERT_TRUE(window->HelpOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return C().closeHelp->isVisible(); }));
    ClickCentre(*window, C().closeHelp);
    EXPECT_FALSE(window->HelpOpen());
    EXPECT_EQ(Focused(), "Command0");
}

TEST_F(KeyboardTest, TheCurveOpensFromTheKeyboardTabStaysInItAndEscapeClosesIt) {
    Start();
    const QSize laidOut = window->size();
    Tab(TabsTo("CurveButton"));
    Press(Qt::Key_Space);
    ASSERT_TRUE(window->CurveOpen());
    EXPECT_EQ(Focused(), "CurveTable");
    // The arrows go down the keys; Tab goes to "Fermer" and back, no further.
    QTableWidget* table = C().curvePane->Table();
    Press(Qt::Key_Down);
    Press(Qt::Key_Down);
    EXPECT_EQ(table->currentRow(), 2);
    for (const char* stop : {"CloseCurve", "CurveTable", "CloseCurve"}) {
        Press(Qt::Key_Tab);
        EXPECT_EQ(Focused(), stop);
    }
    Press(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(Focused(), "CurveTable");
    Press(Qt::Key_Escape);
    EXPECT_FALSE(window->CurveOpen());
    EXPECT_EQ(window->size(), laidOut);
    EXPECT_EQ(Focused(), "CurveButton");
    // Enter on "Fermer" closes it too.
    Press(Qt::Key_Return);
    ASSERT_TRUE(window->CurveOpen());
    Press(Qt::Key_Tab);
    ASSERT_EQ(Focused(), "CloseCurve");
    Press(Qt::Key_Return);
    EXPECT_FALSE(window->CurveOpen());
    EXPECT_EQ(Focused(), "CurveButton");
}

struct FrameCase {
    const char* button;
    QRgb fill;
    QRgb frame;
    QPoint inFrame;  // a pixel of the focus frame, in the button
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.button; }

class FocusFrame : public KeyboardTest, public ::testing::WithParamInterface<FrameCase> {};

// The frame lies 2 to 4 pixels in from the edge; the outline is pixel 0.
TEST_P(FocusFrame, DrawnInTheContrastingColourOnlyWithTheFocus) {
    Start();
    const FrameCase& f = GetParam();
    auto* button = window->findChild<FlatButton*>(f.button);
    ASSERT_NE(button, nullptr);
    const QImage before = button->grab().toImage();
    EXPECT_EQ(before.pixel(f.inFrame) & 0xFFFFFF, f.fill);

    Tab(TabsTo(f.button));
    ASSERT_EQ(Focused(), f.button);
    EXPECT_EQ(button->grab().toImage().pixel(f.inFrame) & 0xFFFFFF, f.frame);

    // Once the focus moves on, the button looks as it did.
    Press(Qt::Key_Tab);
    EXPECT_EQ(button->grab().toImage(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Keyboard, FocusFrame,
    ::testing::Values(FrameCase{"Clavier_9", 0xFFFFFF, 0x000000, {3, 60}},  // white key, low end
                      FrameCase{"Clavier_1", 0x000000, 0xFFFFFF, {6, 3}},   // black key, top edge
                      FrameCase{"Corde_19", 0x400000, 0xFFFFFF, {3, 6}}),   // string, left edge
    [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.button); });

TEST_F(KeyboardTest, TheReadOutIsHighlightedWhileTheSelectorHasTheFocus) {
    Start();
    const QImage before = C().octaveReadOut->grab().toImage();
    const QPoint background(4, C().octaveReadOut->height() / 2);  // left of the centred digit
    Tab(TabsTo("HScroll1"));
    const QRgb shown = C().octaveReadOut->grab().toImage().pixel(background);
    EXPECT_NE(shown, before.pixel(background));
    EXPECT_EQ(QColor(shown), C().octaveReadOut->palette().color(QPalette::Base));
    EXPECT_EQ(QColor(shown), window->palette().color(QPalette::Highlight));
    Press(Qt::Key_Tab);
    EXPECT_EQ(C().octaveReadOut->grab().toImage(), before);
}

TEST_F(KeyboardTest, AMouseClickPlaysTheKeyWithoutShowingAFocusFrame) {
    Start();
    const QImage before = window->grab().toImage();
    const QWidget* focusBefore = QApplication::focusWidget();
    ClickKey(*window, C().clavier[9]);
    EXPECT_EQ(C().noteName->text(), "La");
    EXPECT_EQ(QApplication::focusWidget(), focusBefore);
    C().noteName->clear();
    C().octave->clear();
    C().referenceFrequency->clear();
    EXPECT_EQ(window->grab().toImage(), before);
}

}  // namespace
}  // namespace harmolune
