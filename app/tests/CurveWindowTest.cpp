// The piano's curve in the window, offscreen: the record kept in the data
// folder as keys are struck, damaged and newer records at start-up, the
// tuning display against a key's target, the curve's pane over the window,
// its style, "Nouveau piano", and what a screen reader finds in the pane.
#include <QAccessible>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableWidget>
#include <QTextBrowser>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "app/CurvePane.h"
#include "app/CurvePlot.h"
#include "app/FlatButton.h"
#include "app/TuningDisplay.h"
#include "testing/StiffString.h"
#include "testing/SyntheticPiano.h"
#include "testing/WindowFixture.h"
#include "tuning/Styles.h"

namespace harmolune {
namespace {

using namespace testing_window;

// Waits for the next modal message box, reads it and presses the button
// that says `answer`.
void AnswerNextBox(SeenBox& seen, const QString& answer) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &seen, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen.seen = true;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == answer) {
                button->click();
                return;
            }
        }
        box->reject();
    });
    timer->start(10);
}

// The eight A's and C1 of a typical grand, as a record file.
void WriteEightAs(const std::string& path) {
    tuning::PianoRecord record;
    for (const tuning::MeasuredKey& key : testing::MeasureSyntheticPiano(
             testing::EightAsAndC1(), &testing::TypicalInharmonicity, {}, 5)) {
        tuning::AddReading(record, key);
    }
    std::string error;
    ASSERT_TRUE(tuning::SavePianoRecord(path, record, error)) << error;
}

class CurveWindowTest : public ::testing::Test {
  protected:
    void Start(std::string pianoPath) {
        window = std::make_unique<MainWindow>(midi, capture, folder.File(), std::move(pianoPath));
        ASSERT_TRUE(window->StartUp());
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void Start() { Start(record); }
    const Controls& C() { return window->Widgets(); }
    void Choose(int octave, int key) {
        C().octaveSelector->setValue(octave);
        ClickKey(*window, C().clavier[static_cast<std::size_t>(key)]);
    }
    void Feed(const std::vector<std::uint8_t>& samples) {
        for (std::size_t at = 0; at + 4096 <= samples.size(); at += 4096) {
            capture.Push(std::vector<std::uint8_t>(
                samples.begin() + static_cast<std::ptrdiff_t>(at),
                samples.begin() + static_cast<std::ptrdiff_t>(at + 4096)));
            QCoreApplication::processEvents();
        }
    }
    // Key midiNote struck at frequencyHz for 2 s, once the reference tone's
    // blocks are over: its first `blocks` blocks, or all of it.
    void Strike(int midiNote, double frequencyHz, std::size_t blocks = 1000) {
        Feed(Silence(8));
        testing::StiffStringTone tone;
        tone.midiNote = midiNote;
        tone.fundamentalHz = frequencyHz;
        tone.leadSeconds = 0.0;
        tone.seconds = 2.0;
        tone.seed = 3;
        std::vector<std::uint8_t> samples = testing::SynthesiseStiffString(tone).samples;
        samples.resize(std::min(samples.size(), blocks * 4096));
        Feed(samples);
    }
    // Cents as the C library writes them, to one decimal.
    static QString Tenths(double x) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", x);
        return QString::fromLatin1(text);
    }
    const TuningView& View() { return C().tuningDisplay->View(); }
    static double EqualHz(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

    TempDir folder;
    std::string record = (folder / "piano.json").string();
    RecordingMidiOutput midi;
    FeedingCapture capture;
    std::unique_ptr<MainWindow> window;
};

// ---- The record ----

TEST_F(CurveWindowTest, AFinalReadingOfAPianoKeyIsSavedInTheDataFolder) {
    Start({});  // the record of $XDG_DATA_HOME, which the tests' main makes anew
    const std::filesystem::path saved =
        std::filesystem::path(qEnvironmentVariable("XDG_DATA_HOME").toStdString()) /
        "harmolune/piano.json";
    Choose(4, 9);
    Strike(69, 440.0 * std::exp2(3.0 / 1200.0), 8);
    ASSERT_NE(View().state, "finale");
    EXPECT_FALSE(std::filesystem::exists(saved)) << "saved before the note ended";
    Strike(69, 440.0 * std::exp2(3.0 / 1200.0));
    Feed(Silence(24));
    ASSERT_EQ(View().state, "finale");
    const tuning::LoadedRecord loaded = tuning::LoadPianoRecord(saved.string(), false);
    ASSERT_EQ(loaded.status, tuning::RecordStatus::kLoaded) << loaded.line;
    ASSERT_EQ(loaded.record.keys.size(), 1u);
    const tuning::MeasuredKey& key = loaded.record.keys.at(69);
    EXPECT_NEAR(key.f1Hz, 440.762, 0.05);  // 3 c sharp
    EXPECT_TRUE(key.inharmonicity.has_value());
    EXPECT_GE(key.partials.size(), 3u);
    EXPECT_EQ(key.measuredAt.size(), 20u) << key.measuredAt;  // "2026-12-09T14:03:27Z"
    // The pane says so.
    EXPECT_TRUE(C().curvePane->Summary()->text().contains("1 touche mesurée, La 4"))
        << C().curvePane->Summary()->text().toStdString();
}

TEST_F(CurveWindowTest, AGuitarStringAddsNothing) {
    Start();
    ClickCentre(*window, C().corde[1]);  // La 2
    Strike(45, 110.0 * std::exp2(3.0 / 1200.0));
    Feed(Silence(24));
    ASSERT_EQ(View().state, "finale");
    EXPECT_FALSE(std::filesystem::exists(record));
    EXPECT_TRUE(window->Piano().Record().keys.empty());
}

TEST_F(CurveWindowTest, ADamagedRecordIsSetAsideWithItsLineOnStderr) {
    WriteFile(record, "{\"version\": 1, \"style\": 4}");
    ::testing::internal::CaptureStderr();
    Start();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "harmolune: Le relevé du piano « " + record +
                       " » est endommagé ; il est mis de côté sous « " + record +
                       ".endommagé » et un nouveau relevé commence : « style » doit être un "
                       "texte\n");
    EXPECT_EQ(ReadFile(record + ".endommagé"), "{\"version\": 1, \"style\": 4}");
    EXPECT_FALSE(std::filesystem::exists(record));
}

TEST_F(CurveWindowTest, ANewerRecordIsLeftAloneAndSaidOnce) {
    const std::string newer = "{\"version\": 3, \"keys\": []}";
    WriteFile(record, newer);
    ::testing::internal::CaptureStderr();
    Start();
    Choose(4, 9);
    Strike(69, 440.0);
    Feed(Silence(24));
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(View().state, "finale");
    EXPECT_EQ(err, "harmolune: Le relevé du piano « " + record +
                       " » est laissé tel quel : il vient d'une version plus récente de "
                       "Harmolune (format 3, celle-ci lit le format 1) ; les touches mesurées "
                       "ne seront gardées qu'en mémoire\n");
    EXPECT_EQ(ReadFile(record), newer);
    EXPECT_EQ(window->Piano().Record().keys.size(), 1u) << "kept in memory";
}

// No folder can be made under /proc, whoever runs the tests.
TEST_F(CurveWindowTest, ASaveThatFailsIsOneLineOnStderrAndTheWindowGoesOn) {
    const std::string nowhere = "/proc/harmolune-no-such-folder/piano.json";
    ::testing::internal::CaptureStderr();
    Start(nowhere);
    Choose(4, 9);
    Strike(69, 440.0);
    Feed(Silence(24));
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(View().state, "finale");
    EXPECT_EQ(err, "harmolune: Le relevé du piano n'a pas pu être enregistré dans « " + nowhere +
                       " » : " + std::strerror(ENOENT) + "\n");
    EXPECT_EQ(window->Piano().Record().keys.size(), 1u) << "kept in memory";
    // The window goes on: the next note is chosen and followed.
    Choose(4, 11);
    EXPECT_EQ(C().referenceFrequency->text(), "493.88Hz");
}

// ---- The display against the target ----

// The curve changes what the display counts from, never the note played.
TEST_F(CurveWindowTest, TheReferenceToneStaysTheEqualTemperedNote) {
    Start();
    Choose(6, 0);
    const std::vector<std::uint32_t> equal = midi.messages;
    const QString shown = C().referenceFrequency->text();
    window.reset();
    midi.messages.clear();
    WriteEightAs(record);
    Start();
    Choose(6, 0);
    ASSERT_FALSE(View().target.isEmpty()) << "Do 6 has a target";
    EXPECT_EQ(midi.messages, equal);
    EXPECT_EQ(C().referenceFrequency->text(), shown);
    EXPECT_EQ(shown, "1046.50Hz");
}

// Said once when the note ends, with the target it is counted from.
TEST_F(CurveWindowTest, TheFinalReadingIsSaidWithItsTarget) {
    WriteEightAs(record);
    Start();
    Choose(6, 0);
    ListenToNotices notices(*window);
    Strike(84, EqualHz(84) * std::exp2(12.0 / 1200.0));
    Feed(Silence(24));
    ASSERT_EQ(View().state, "finale");
    QStringList finals;
    for (const QString& said : notices.Said()) {
        if (said.startsWith("Mesure fine")) {
            finals << said;
        }
    }
    ASSERT_EQ(finals.size(), 1) << notices.Said().join(" | ").toStdString();
    EXPECT_TRUE(finals[0].contains("par rapport à la courbe du piano")) << finals[0].toStdString();
    EXPECT_TRUE(finals[0].contains(", cible de Do 6 : +")) << finals[0].toStdString();
    EXPECT_EQ(finals[0], View().spokenName);
}

// Do 6 struck right on its target: in tune against the curve, though sharp
// of equal temperament by the curve's stretch there.
TEST_F(CurveWindowTest, AKeyStruckOnItsTargetIsInTune) {
    WriteEightAs(record);
    Start();
    const std::optional<tuning::KeyTarget> target = window->Piano().TargetOf(84);
    ASSERT_TRUE(target.has_value());
    ASSERT_GT(target->targetCents, 3.0) << "the treble is stretched";
    Choose(6, 0);
    // Chosen, not yet struck: the target under the dash.
    EXPECT_TRUE(View().empty);
    const QString cible =
        "cible +" + Tenths(target->targetCents) + " c ± " + Tenths(target->uncertaintyCents);
    EXPECT_EQ(View().target, cible);
    // Half a second into the note, before it ends and goes into the record.
    Strike(84, EqualHz(84) * std::exp2(target->targetCents / 1200.0), 4);
    ASSERT_NE(View().state, "finale");
    ASSERT_FALSE(View().empty);
    EXPECT_NEAR(View().cents, 0.0, 0.3);
    EXPECT_EQ(View().verdict, "juste");
    EXPECT_EQ(View().target, cible);
    EXPECT_EQ(View().against, "par rapport à la courbe");
    EXPECT_TRUE(View().spokenName.contains("par rapport à la courbe du piano"));
    EXPECT_TRUE(View().spokenName.contains("cible de Do 6 : +"));
    // L says it, target included.
    ListenToNotices notices(*window);
    QTest::keyClick(window->windowHandle(), Qt::Key_L);
    ASSERT_EQ(notices.Said().size(), 1);
    EXPECT_EQ(notices.Said()[0], View().spokenName);
}

TEST_F(CurveWindowTest, WithoutACurveTheSameStrikeIsSharpOfEqualTemperament) {
    Start();
    Choose(6, 0);
    Strike(84, EqualHz(84) * std::exp2(8.0 / 1200.0), 4);
    ASSERT_FALSE(View().empty);
    ASSERT_NE(View().state, "finale");
    EXPECT_NEAR(View().cents, 8.0, 0.3);
    EXPECT_EQ(View().verdict, "trop haut");
    EXPECT_EQ(View().target, "");
    EXPECT_TRUE(View().spokenName.contains("par rapport à Do 6"));
}

// ---- The pane ----

TEST_F(CurveWindowTest, ThePaneGrowsTheWindowAndGivesItsSizeBack) {
    WriteEightAs(record);
    Start();
    const QSize outerAtStart = window->frameGeometry().size();
    const QSize frame = outerAtStart - window->size();
    EXPECT_EQ(window->size(), QSize(301, 433));
    ClickCentre(*window, C().curveButton);
    ASSERT_TRUE(window->CurveOpen());
    EXPECT_EQ(window->frameGeometry().size(), QSize(960, 600));
    EXPECT_EQ(window->size(), QSize(960, 600) - frame);
    EXPECT_EQ(C().curvePane->geometry(), window->rect());
    EXPECT_EQ(QApplication::focusWidget(), C().curvePane->Table());
    // It covers every other control.
    for (QWidget* covered : std::initializer_list<QWidget*>{C().clavier[0], C().help, C().sample,
                                                            C().tuningDisplay, C().curveButton}) {
        EXPECT_FALSE(covered->isVisible()) << covered->objectName().toStdString();
    }
    for (const QPoint at : {QPoint(20, 20), QPoint(150, 330), QPoint(900, 560)}) {
        const QWidget* hit = window->childAt(at);
        EXPECT_TRUE(hit == C().curvePane || C().curvePane->isAncestorOf(hit)) << at.x();
    }
    EXPECT_TRUE(C().curvePane->Plot()->isVisible());
    EXPECT_TRUE(C().curvePane->Table()->isVisible());
    EXPECT_GT(C().curvePane->Plot()->width(), 450);
    EXPECT_GT(C().curvePane->Plot()->height(), 400);
    ClickCentre(*window, C().curvePane->CloseButton());
    EXPECT_FALSE(window->CurveOpen());
    EXPECT_EQ(window->size(), QSize(301, 433));
    EXPECT_EQ(window->frameGeometry().size(), outerAtStart);
    EXPECT_EQ(QApplication::focusWidget(), C().curveButton);
    EXPECT_TRUE(C().tuningDisplay->isVisible());
    EXPECT_FALSE(C().helpPane->isVisible()) << "closing the curve opens no help";
}

TEST_F(CurveWindowTest, TheTableOpensAtTheKeyChosen) {
    Start();
    Choose(5, 2);  // Ré 5, MIDI 74
    window->OpenCurve();
    EXPECT_EQ(C().curvePane->Table()->currentRow(), 74 - 21);
    EXPECT_EQ(C().curvePane->Table()->currentItem()->text(), "Ré 5");
    window->CloseCurve();
    // A guitar string is no key of the piano: the table stays where it was.
    ClickCentre(*window, C().corde[0]);
    window->OpenCurve();
    EXPECT_EQ(C().curvePane->Table()->currentRow(), 74 - 21);
}

TEST_F(CurveWindowTest, EscapeClosesThePaneAndTheWindowStaysOpen) {
    Start();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->OpenCurve();
    ASSERT_TRUE(window->CurveOpen());
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_FALSE(window->CurveOpen());
    EXPECT_EQ(window->size(), QSize(301, 433));
    EXPECT_EQ(QApplication::focusWidget(), C().curveButton);
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    // Closing the window with the pane open closes the pane only.
    window->OpenCurve();
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(window->CurveOpen());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(CurveWindowTest, TheTableHoldsTheEightyEightTargets) {
    WriteEightAs(record);
    Start();
    QTableWidget* table = C().curvePane->Table();
    ASSERT_EQ(table->rowCount(), 88);
    ASSERT_EQ(table->columnCount(), 7);
    QStringList headers;
    for (int c = 0; c < 7; ++c) {
        headers << table->horizontalHeaderItem(c)->text();
    }
    EXPECT_EQ(headers,
              QStringList({"Touche", "Cible Hz", "Cible cents", "±", "B", "Mesurée", "Écart"}));
    EXPECT_EQ(table->item(0, 0)->text(), "La 0");
    EXPECT_EQ(table->item(87, 0)->text(), "Do 8");
    const tuning::Curve& curve = window->Piano().Curve();
    for (const int row : {0, 48, 87}) {
        const tuning::KeyTarget& key = curve.keys[static_cast<std::size_t>(row)];
        EXPECT_EQ(table->item(row, 1)->text(), QString::number(key.targetHz, 'f', 3)) << row;
    }
    // A4 measured, the deviation shown; A#4 neither measured nor asked for.
    EXPECT_FALSE(table->item(48, 5)->text().isEmpty());
    EXPECT_FALSE(table->item(48, 6)->text().isEmpty());
    EXPECT_TRUE(table->item(49, 5)->text().isEmpty());
    for (const int k : curve.adviceKeys) {
        EXPECT_EQ(table->item(k - 21, 5)->text(), "à mesurer") << k;
    }
    EXPECT_EQ(C().curvePane->Advice()->text().toStdString(), curve.advice);
}

TEST_F(CurveWindowTest, AScreenReaderFindsThePlotAndTheTableNamed) {
    WriteEightAs(record);
    Start();
    window->OpenCurve();
    QAccessibleInterface* plot = QAccessible::queryAccessibleInterface(C().curvePane->Plot());
    ASSERT_NE(plot, nullptr);
    EXPECT_EQ(plot->role(), QAccessible::Chart);
    EXPECT_EQ(plot->text(QAccessible::Name),
              "Courbe du piano, style « Standard » : 9 touches mesurées, de La 0 à La 7");
    EXPECT_EQ(plot->text(QAccessible::Description).toStdString(), window->Piano().Curve().advice);
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(C().curvePane->Table());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->role(), QAccessible::Table);
    EXPECT_EQ(table->text(QAccessible::Name), "Cibles des 88 touches");
    QAccessibleTableInterface* cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells->rowCount(), 88);
    // Each measured key's point is said at its row: A1 here.
    QAccessibleInterface* a1 = cells->cellAt(12, 0);
    ASSERT_NE(a1, nullptr);
    const QString said = a1->text(QAccessible::Name);
    EXPECT_TRUE(said.startsWith("La 1 : cible ")) << said.toStdString();
    EXPECT_TRUE(said.contains(", mesurée ")) << said.toStdString();
    EXPECT_TRUE(said.contains(", écart ")) << said.toStdString();
    QAccessibleInterface* pane = QAccessible::queryAccessibleInterface(C().curvePane);
    EXPECT_EQ(pane->role(), QAccessible::Grouping);
    EXPECT_EQ(pane->text(QAccessible::Name), "Courbe du piano");
    window->CloseCurve();
}

// ---- The style and a new piano ----

TEST_F(CurveWindowTest, AStyleChosenIsSavedAndTheCurveFollows) {
    WriteEightAs(record);
    Start();
    QComboBox* style = C().curveStyle;
    ASSERT_EQ(style->count(), 4);
    EXPECT_EQ(style->currentText(), "Standard");
    Choose(7, 0);
    const QString before = View().target;
    style->setFocus();
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(style, Qt::Key_Down);
    }
    EXPECT_EQ(style->currentText(), "Octaves 6:3");
    EXPECT_EQ(tuning::LoadPianoRecord(record, false).record.style, "Octaves 6:3");
    EXPECT_EQ(tuning::LoadPianoRecord(record, false).record.keys.size(), 9u);
    EXPECT_EQ(window->Piano().Curve().style, "Octaves 6:3");
    EXPECT_NE(View().target, before) << "Do 7's target follows the style";
    EXPECT_TRUE(C().curvePane->Summary()->text().contains("« Octaves 6:3 »"));
    // The record's style is the one shown at the next start.
    window.reset();
    Start();
    EXPECT_EQ(C().curveStyle->currentText(), "Octaves 6:3");
}

TEST_F(CurveWindowTest, NouveauPianoAsksFirstAndNonKeepsEverything) {
    WriteEightAs(record);
    const std::string before = ReadFile(record);
    Start();
    SeenBox seen;
    AnswerNextBox(seen, "Non");
    ClickCentre(*window, C().newPiano);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.title, "Nouveau piano");
    EXPECT_EQ(seen.text,
              "Commencer un nouveau piano ? Les touches mesurées de ce piano seront oubliées.");
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(ReadFile(record), before);
    EXPECT_EQ(window->Piano().Record().keys.size(), 9u);
}

TEST_F(CurveWindowTest, NouveauPianoWithOuiStartsAnEmptyRecord) {
    WriteEightAs(record);
    Start();
    Choose(6, 0);
    ASSERT_FALSE(View().target.isEmpty());
    SeenBox seen;
    AnswerNextBox(seen, "Oui");
    ClickCentre(*window, C().newPiano);
    ASSERT_TRUE(seen.seen);
    const tuning::LoadedRecord loaded = tuning::LoadPianoRecord(record, false);
    ASSERT_EQ(loaded.status, tuning::RecordStatus::kLoaded);
    EXPECT_TRUE(loaded.record.keys.empty());
    EXPECT_EQ(View().target, "") << "equal temperament again";
    EXPECT_TRUE(C().curvePane->Summary()->text().contains("aucune touche mesurée"));
    EXPECT_EQ(C().curvePane->Table()->item(48, 5)->text(), "à mesurer");
}

}  // namespace
}  // namespace harmolune
