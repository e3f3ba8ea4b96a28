// The window as a user drives it, offscreen: clicks through Qt's own
// hit-testing, the three texts and the MIDI messages of every note, the
// octave arrows, the octave file at start and close, the boxes, and help.
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/FlatButton.h"
#include "app/TuningDisplay.h"
#include "testing/WindowFixture.h"

namespace harmolune {
namespace {

using namespace testing_window;

class WindowTest : public ::testing::Test {
  protected:
    void Start(const std::string* fileBytes = nullptr) {
        if (fileBytes != nullptr) {
            WriteFile(settings, *fileBytes);
        }
        window = std::make_unique<MainWindow>(midi, capture, settings);
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    QWidget* Find(const char* name) { return window->findChild<QWidget*>(name); }
    const Controls& C() { return window->Widgets(); }
    void Click(const char* name) { ClickCentre(*window, Find(name)); }
    QString Label(const char* name) { return static_cast<QLabel*>(Find(name))->text(); }

    TempDir folder;
    std::string settings = folder.File();
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

struct HitCase {
    const char* name;
    QPoint inFrame2;  // pixels, in the piano panel
    const char* expectedTag;
};

void PrintTo(const HitCase& c, std::ostream* os) { *os << c.name; }

class KeyHit : public WindowTest, public ::testing::WithParamInterface<HitCase> {};

TEST_P(KeyHit, TheKeyOnTopTakesTheClick) {
    Start();
    const HitCase& c = GetParam();
    ClickAt(*window, Find("Frame2"), c.inFrame2);
    EXPECT_EQ(Label("Label2"), QString::fromUtf8(c.expectedTag));
}

// Keys start at y 60 (900 twips). Black keys are 41 px long, white keys 69.
INSTANTIATE_TEST_SUITE_P(
    Window, KeyHit,
    ::testing::Values(HitCase{"DoSharpOverDo", {24, 70}, "Do#"},  // Do 12..28, Do# 20..32
                      HitCase{"DoBelowDoSharp", {24, 110}, "Do"},
                      HitCase{"DoSharpOverRe", {31, 70}, "Do#"},  // Ré 28..44
                      HitCase{"MibOverMi", {50, 62}, "Mib"},      // Mib 40..52, Mi 44..60
                      HitCase{"MiBelowMib", {50, 125}, "Mi"},
                      HitCase{"SolSharpOverLa", {94, 80}, "Sol#"},  // Sol# 86..98, La 92..108
                      HitCase{"LaBetweenBlackKeys", {100, 90}, "La"},
                      HitCase{"SibOverSi", {114, 99}, "Sib"},  // Sib 104..116, Si 108..124
                      HitCase{"SiAtItsRight", {122, 80}, "Si"}),
    [](const ::testing::TestParamInfo<HitCase>& info) { return std::string(info.param.name); });

TEST_F(WindowTest, MiddleOfTheScrollBarLandsOnTheReadOut) {
    Start();
    const QWidget* bar = C().octaveSelector;
    const QPoint middle = bar->mapTo(window.get(), bar->rect().center());
    EXPECT_EQ(window->childAt(middle), C().octaveReadOut);
    ClickAt(*window, bar, bar->rect().center());
    EXPECT_EQ(C().octaveSelector->value(), 3);
    EXPECT_EQ(C().octaveReadOut->text(), "3");
}

TEST_F(WindowTest, ArrowsStepByOneAndStopAtTheEnds) {
    Start();
    const QWidget* bar = C().octaveSelector;
    // The arrows are the 16 px (240 twips) that Text1 leaves at each end.
    const QPoint left(8, bar->height() / 2);
    const QPoint right(bar->width() - 8, bar->height() / 2);
    const char* down[] = {"2", "1", "0", "-1", "-1", "-1"};
    for (const char* expected : down) {
        ClickAt(*window, bar, left);
        EXPECT_EQ(C().octaveReadOut->text(), expected);
    }
    const char* up[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "8", "8"};
    for (const char* expected : up) {
        ClickAt(*window, bar, right);
        EXPECT_EQ(C().octaveReadOut->text(), expected);
    }
    EXPECT_EQ(C().octaveSelector->value(), 8);
}

struct KeyCase {
    int octave;
    int key;
    const char* name;
    const char* octaveText;
    const char* reference;
    std::uint32_t noteOn;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << "key " << c.key << " octave " << c.octave;
}

class KeyClick : public WindowTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(KeyClick, ShowsTheNoteAndSoundsIt) {
    Start();
    const KeyCase& k = GetParam();
    C().octaveSelector->setValue(k.octave);
    midi.messages.clear();
    ClickKey(*window, C().clavier[static_cast<std::size_t>(k.key)]);
    EXPECT_EQ(Label("Label2"), QString::fromUtf8(k.name));
    EXPECT_EQ(Label("Label3"), k.octaveText);
    EXPECT_EQ(Label("Label4"), k.reference);
    EXPECT_EQ(Label("Label1"), "");
    EXPECT_EQ(midi.messages, (std::vector<std::uint32_t>{0xC0, 0x3C20B0, 0x0080, k.noteOn}));
}

// Expected texts and note-on messages from the note tables (under C settings).
INSTANTIATE_TEST_SUITE_P(Window, KeyClick,
                         ::testing::Values(KeyCase{4, 9, "La", "4", "440.00Hz", 0x7F4590},
                                           KeyCase{-1, 0, "Do", "-1", "8.18Hz", 0x7F0090},
                                           KeyCase{8, 11, "Si", "8", "7902.13Hz", 0x7F7790},
                                           KeyCase{4, 4, "Mi", "4", "329.63Hz", 0x7F4090},
                                           KeyCase{4, 1, "Do#", "4", "277.18Hz", 0x7F3D90},
                                           KeyCase{3, 10, "Sib", "3", "233.08Hz", 0x7F3A90}),
                         [](const ::testing::TestParamInfo<KeyCase>& info) {
                             return "Key" + std::to_string(info.param.key) + "Octave" +
                                    (info.param.octave < 0 ? "Minus1"
                                                           : std::to_string(info.param.octave));
                         });

struct StringCase {
    int index;
    const char* name;
    const char* octaveText;
    const char* reference;
    std::uint32_t noteOn;
};

void PrintTo(const StringCase& c, std::ostream* os) { *os << "string " << c.index; }

class StringClick : public WindowTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(StringClick, ShowsTheOpenStringAndSoundsItAsAGuitar) {
    Start();
    const StringCase& s = GetParam();
    midi.messages.clear();
    Click(("Corde_" + std::to_string(s.index)).c_str());
    EXPECT_EQ(Label("Label2"), QString::fromUtf8(s.name));
    EXPECT_EQ(Label("Label3"), s.octaveText);
    EXPECT_EQ(Label("Label4"), s.reference);
    EXPECT_EQ(midi.messages, (std::vector<std::uint32_t>{0x19C0, 0x3C20B0, 0x0080, s.noteOn}));
}

INSTANTIATE_TEST_SUITE_P(Window, StringClick,
                         ::testing::Values(StringCase{4, "Mi", "2", "82.41Hz", 0x7F2890},
                                           StringCase{9, "La", "2", "110.00Hz", 0x7F2D90},
                                           StringCase{14, "Ré", "3", "146.83Hz", 0x7F3290},
                                           StringCase{19, "Sol", "3", "196.00Hz", 0x7F3790},
                                           StringCase{23, "Si", "3", "246.94Hz", 0x7F3B90},
                                           StringCase{28, "Mi", "4", "329.63Hz", 0x7F4090}),
                         [](const ::testing::TestParamInfo<StringCase>& info) {
                             return "String" + std::to_string(info.param.index);
                         });

TEST_F(WindowTest, MidiSequenceFromStartUpThroughTwoNotes) {
    Start();
    EXPECT_EQ(midi.opens, 1);
    EXPECT_EQ(midi.messages, (std::vector<std::uint32_t>{0xC0, 0x7F07B0, 0x3C20B0, 0x4B0AB0}));
    midi.messages.clear();
    C().octaveSelector->setValue(4);
    ClickKey(*window, C().clavier[9]);
    Click("Corde_4");
    ClickKey(*window, C().clavier[9]);
    ClickKey(*window, C().clavier[9]);
    EXPECT_EQ(midi.messages, (std::vector<std::uint32_t>{
                                 0xC0, 0x3C20B0, 0x0080, 0x7F4590,    // La 4
                                 0x19C0, 0x3C20B0, 0x4580, 0x7F2890,  // string Mi
                                 0xC0, 0x3C20B0, 0x2880, 0x7F4590,    // La 4 again
                                 0xC0, 0x3C20B0, 0x4580, 0x7F4590,    // and once more
                             }));
}

TEST_F(WindowTest, ChangingTheOctaveLeavesTheTextsUntilTheNextKey) {
    Start();
    C().octaveSelector->setValue(4);
    ClickKey(*window, C().clavier[9]);
    ClickAt(*window, C().octaveSelector, QPoint(C().octaveSelector->width() - 8, 10));
    EXPECT_EQ(C().octaveReadOut->text(), "5");
    EXPECT_EQ(Label("Label3"), "4");
    EXPECT_EQ(Label("Label4"), "440.00Hz");
    ClickKey(*window, C().clavier[9]);
    EXPECT_EQ(Label("Label3"), "5");
    EXPECT_EQ(Label("Label4"), "880.00Hz");
}

TEST_F(WindowTest, SamplingWithoutANoteAsksForOne) {
    Start();
    SeenBox box;
    CloseNextBox(box);
    Click("Command2");
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, "Échantillonnage...");
    EXPECT_EQ(box.text,
              "Précisez d'abord quelle note va être échantillonnée\n"
              "en appuyant sur une touche du clavier ou une corde de la guitare");
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    EXPECT_EQ(Label("Label1"), "");
    EXPECT_EQ(window->Cycle().SamplingState(), -1.0);
}

TEST_F(WindowTest, SamplingWithANoteArmsTheMeasurement) {
    Start();
    Click("Corde_9");
    Click("Command2");
    EXPECT_EQ(Label("Label1"), "...Hz");
    EXPECT_EQ(window->Cycle().SamplingState(), 0.0);
}

TEST_F(WindowTest, CaptureThatCannotStartIsReportedAndNotesStillWork) {
    FailingCapture failing;
    window = std::make_unique<MainWindow>(midi, failing, settings);
    SeenBox box;
    CloseNextBox(box);
    ASSERT_TRUE(window->StartUp());
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, "Harmolune");
    EXPECT_EQ(box.text,
              "Impossible d'ouvrir l'entrée audio (microphone) :\n"
              "Périphérique indisponible");
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    // Over the window, which already stands centred on the screen.
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    EXPECT_LE((window->frameGeometry().center() - screenCentre).manhattanLength(), 4);
    EXPECT_LE((box.frame.center() - screenCentre).manhattanLength(), 8)
        << box.frame.x() << "," << box.frame.y() << " " << box.frame.width() << "x"
        << box.frame.height();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    Click("Corde_23");
    EXPECT_EQ(Label("Label4"), "246.94Hz");
    Click("Command2");
    EXPECT_EQ(Label("Label1"), "...Hz");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(failing.stops, 0);  // never started, so never stopped
}

TEST_F(WindowTest, HelpGrowsTheWindowAndGivesItsSizeBack) {
    Start();
    const QSize outerAtStart = window->frameGeometry().size();
    const QSize frame = outerAtStart - window->size();
    EXPECT_EQ(window->size(), QSize(301, 433));
    Click("Corde_9");

    Click("Command0");
    EXPECT_TRUE(window->HelpOpen());
    EXPECT_EQ(window->frameGeometry().size(), QSize(800, 400));
    EXPECT_EQ(window->size(), QSize(800, 400) - frame);
    EXPECT_EQ(C().helpPane->geometry(), window->rect());
    EXPECT_TRUE(C().helpPane->isVisible());
    EXPECT_TRUE(C().closeHelp->isVisible());
    // "Fermer" near the top right corner, over the pane.
    EXPECT_EQ(C().closeHelp->geometry(), QRect(704, 8, 69, 21));
    EXPECT_EQ(window->childAt(C().closeHelp->geometry().center()), C().closeHelp);
    // The pane covers the controls: a click where "Aide..." was hits the pane.
    EXPECT_NE(window->childAt(QPoint(250, 250)), C().help);
    // The strip of the tuning display too.
    EXPECT_FALSE(C().tuningDisplay->isVisible());
    const QWidget* atTheStrip = window->childAt(QPoint(150, 330));
    EXPECT_TRUE(atTheStrip == C().helpPane || C().helpPane->isAncestorOf(atTheStrip));

    Click("Command1");
    EXPECT_FALSE(window->HelpOpen());
    EXPECT_FALSE(C().helpPane->isVisible());
    EXPECT_EQ(window->size(), QSize(301, 433));
    EXPECT_EQ(window->frameGeometry().size(), outerAtStart);
    EXPECT_TRUE(C().tuningDisplay->isVisible());
    EXPECT_EQ(Label("Label4"), "110.00Hz");
}

TEST_F(WindowTest, CloseWithHelpOpenOnlyClosesHelp) {
    Start();
    Click("Command0");
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->HelpOpen());
    EXPECT_EQ(window->size(), QSize(301, 433));
    EXPECT_EQ(midi.closes, 0);
    EXPECT_EQ(capture.stops, 0);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(midi.closes, 1);
    EXPECT_EQ(capture.stops, 1);
}

// Notes the order of shut-down: what the file holds when MIDI closes.
class LoggingMidi final : public MidiOutput {
  public:
    LoggingMidi(std::vector<std::string>& log, std::string path)
        : log_(log), path_(std::move(path)) {}
    void Open() override {}
    void Send(std::uint32_t) override {}
    void Close() override { log_.push_back("close midi, file " + ReadFile(path_)); }

  private:
    std::vector<std::string>& log_;
    std::string path_;
};

TEST_F(WindowTest, CloseSavesTheOctaveThenClosesMidiThenStopsCapture) {
    std::vector<std::string> log;
    LoggingMidi logging(log, settings);
    capture.log = &log;
    window = std::make_unique<MainWindow>(logging, capture, settings);
    ASSERT_TRUE(window->StartUp());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(ReadFile(settings), "3\r\n");  // created at first start
    ClickAt(*window, C().octaveSelector, QPoint(C().octaveSelector->width() - 8, 10));
    ClickAt(*window, C().octaveSelector, QPoint(C().octaveSelector->width() - 8, 10));
    EXPECT_TRUE(window->close());
    EXPECT_EQ(log, (std::vector<std::string>{"close midi, file 5\r\n", "stop capture"}));
}

struct StartCase {
    const char* name;
    std::string bytes;
    int octave;
};

void PrintTo(const StartCase& c, std::ostream* os) { *os << c.name; }

class StartWithFile : public WindowTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartWithFile, ShowsTheOctaveItHolds) {
    const StartCase& c = GetParam();
    Start(&c.bytes);
    EXPECT_EQ(C().octaveSelector->value(), c.octave);
    EXPECT_EQ(C().octaveReadOut->text(), QString::number(c.octave));
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartWithFile,
    ::testing::Values(StartCase{"Seven", "7\r\n", 7}, StartCase{"MinusOne", "-1\r\n", -1},
                      StartCase{"ZeroKeepsTheReadOutAtZero", "0\r\n", 0},
                      StartCase{"Letters", "octave\r\n", 0}, StartCase{"Empty", "", 3},
                      StartCase{"OutOfRange", "99\r\n", 8}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return std::string(info.param.name); });

// While it lives, files are opened with the rights of nobody, a user who
// cannot read a file of mode 0000, when the tests run as root (as CI does):
// only the effective user changes, so that root takes it back.
class FilesAsNobody {
  public:
    FilesAsNobody() : wasRoot_(geteuid() == 0) {
        if (wasRoot_) {
            EXPECT_EQ(seteuid(kNobody), 0) << std::strerror(errno);
        }
    }
    ~FilesAsNobody() {
        if (wasRoot_) {
            EXPECT_EQ(seteuid(0), 0) << std::strerror(errno);
        }
    }
    FilesAsNobody(const FilesAsNobody&) = delete;
    FilesAsNobody& operator=(const FilesAsNobody&) = delete;

    static constexpr uid_t kNobody = 65534;

  private:
    bool wasRoot_;
};

// A file that gives octave 3 for a reason: the window starts in octave 3 and
// says why in one line on stderr, behind the program's name. %P stands for
// the file's path, %E for the system's words for errorCode.
struct BadStartCase {
    const char* name;
    enum { kEmptyFile, kUnreadableFile, kFolder } what;
    const char* line;
    int errorCode;
};

void PrintTo(const BadStartCase& c, std::ostream* os) { *os << c.name; }

class StartWithABadFile : public WindowTest, public ::testing::WithParamInterface<BadStartCase> {};

TEST_P(StartWithABadFile, SaysWhyOnStderrBehindTheProgramsName) {
    const BadStartCase& c = GetParam();
    // The folder is nobody's, as a user's own folder is theirs.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(folder.Path().c_str(), FilesAsNobody::kNobody, 0), 0);
    }
    switch (c.what) {
        case BadStartCase::kEmptyFile:
            WriteFile(settings, "");
            break;
        case BadStartCase::kUnreadableFile:
            WriteFile(settings, "7\r\n");
            ASSERT_EQ(chmod(settings.c_str(), 0), 0);
            break;
        case BadStartCase::kFolder:
            std::filesystem::create_directory(settings);
            break;
    }
    std::string expected = c.line;
    for (std::size_t at = 0; (at = expected.find('%', at)) != std::string::npos;) {
        const std::string with = expected[at + 1] == 'P' ? settings : std::strerror(c.errorCode);
        expected.replace(at, 2, with);
        at += with.size();
    }

    window = std::make_unique<MainWindow>(midi, capture, settings);
    ::testing::internal::CaptureStderr();
    bool started = false;
    {
        const FilesAsNobody nobody;
        started = window->StartUp();
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(started);
    // Qt may add lines of its own about the offscreen platform.
    std::vector<std::string> ours;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("harmolune", 0) == 0) {
            ours.push_back(line);
        }
    }
    EXPECT_EQ(ours, std::vector<std::string>{expected}) << err;
    EXPECT_EQ(C().octaveSelector->value(), 3);
    EXPECT_EQ(C().octaveReadOut->text(), "3");
}

INSTANTIATE_TEST_SUITE_P(
    Window, StartWithABadFile,
    ::testing::Values(BadStartCase{"Empty", BadStartCase::kEmptyFile,
                                   "harmolune: %P est vide ; octave 3 par défaut.", 0},
                      BadStartCase{"Unreadable", BadStartCase::kUnreadableFile,
                                   "harmolune: %P : %E ; octave 3 par défaut.", EACCES},
                      BadStartCase{"AFolderInPlaceOfTheFile", BadStartCase::kFolder,
                                   "harmolune: %P : %E ; octave 3 par défaut. "
                                   "L'octave n'a pas pu être enregistrée dans « %P » : %E",
                                   EISDIR}),
    [](const ::testing::TestParamInfo<BadStartCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(WindowTest, TypingIntoTheReadOutChangesNothingSaved) {
    const std::string seven = "7\r\n";
    Start(&seven);
    C().octaveReadOut->setFocus();
    QTest::keyClicks(C().octaveReadOut, "42xyz");
    QTest::keyClick(C().octaveReadOut, Qt::Key_Backspace);
    EXPECT_EQ(C().octaveReadOut->text(), "7");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(ReadFile(settings), "7\r\n");
}

TEST_F(WindowTest, ASaveThatFailsIsReportedAndTheWindowStillCloses) {
    WriteFile(folder.File("plain-file"), "x");
    settings = folder.File("plain-file") + "/Harmolune.ini";
    window = std::make_unique<MainWindow>(midi, capture, settings);
    ASSERT_TRUE(window->StartUp());
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_EQ(C().octaveSelector->value(), 3);
    SeenBox box;
    CloseNextBox(box);
    EXPECT_TRUE(window->close());
    ASSERT_TRUE(box.seen);
    EXPECT_EQ(box.title, "Harmolune");
    // What failed in French, then the system's own words on a second line.
    const QStringList lines = box.text.split('\n');
    ASSERT_EQ(lines.size(), 2) << box.text.toStdString();
    EXPECT_EQ(lines[0], QString::fromStdString("L'octave n'a pas pu être enregistrée dans « " +
                                               settings + " » :"));
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_EQ(midi.closes, 1);
    EXPECT_EQ(capture.stops, 1);
}

}  // namespace
}  // namespace harmolune
