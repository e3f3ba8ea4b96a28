#include "app/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTableWidget>
#include <QTextBrowser>
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "app/Accessibility.h"
#include "app/CurvePane.h"
#include "app/FlatButton.h"
#include "app/Texts.h"
#include "app/TuningDisplay.h"
#include "core/Notes.h"
#include "settings/Settings.h"
#include "sound/CaptureDevice.h"

namespace harmolune {

namespace {

QString Q(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A frequency text as said: "440,00 Hz" for the reference's "440,00Hz".
QString SpokenFrequency(std::string_view text) {
    constexpr std::string_view kUnit = "Hz";
    if (text.size() > kUnit.size() && text.substr(text.size() - kUnit.size()) == kUnit &&
        text[text.size() - kUnit.size() - 1] != ' ') {
        text.remove_suffix(kUnit.size());
        return Q(text) + QStringLiteral(" Hz");
    }
    return Q(text);
}

// One line on stderr, behind the program's tag.
void SayOnStderr(std::string_view line) {
    std::string text(texts::kStderrTag);
    text.append(line).push_back('\n');
    std::fputs(text.c_str(), stderr);
}

std::string PianoPathOr(std::string path) {
    if (!path.empty()) {
        return path;
    }
    return tuning::DefaultPianoRecordPath(qEnvironmentVariable("XDG_DATA_HOME").toStdString(),
                                          qEnvironmentVariable("HOME").toStdString());
}

}  // namespace

MainWindow::MainWindow(MidiOutput& midi, CaptureDevice& capture, std::string settingsPath,
                       std::string pianoPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      capture_(capture),
      settingsPath_(std::move(settingsPath)),
      decimalSeparator_(QLocale::system().decimalPoint().toStdString()),
      announcer_(*this),
      tone_(midi),
      piano_(PianoPathOr(std::move(pianoPath))),
      cover_(*this) {
    accessibility::MarkWindow(*this);
    setObjectName("Form1");
    setWindowTitle(Q(texts::kWindowTitle));
    QIcon icon;
    icon.addFile(":/pictures/icon-32.png", QSize(32, 32));
    icon.addFile(":/pictures/icon-16.png", QSize(16, 16));
    setWindowIcon(icon);

    c_ = BuildLayout(*this);
    for (FlatButton* key : c_.clavier) {
        connect(key, &FlatButton::clicked, this, [this, key] { OnKey(key->Index()); });
    }
    for (FlatButton* string : c_.corde) {
        connect(string, &FlatButton::clicked, this, [this, string] { OnString(string->Index()); });
    }
    connect(c_.octaveSelector, &QScrollBar::valueChanged, this, &MainWindow::OnOctaveChanged);
    connect(c_.help, &QPushButton::clicked, this, &MainWindow::OpenHelp);
    connect(c_.closeHelp, &QPushButton::clicked, this, &MainWindow::CloseHelp);
    connect(c_.sample, &QPushButton::clicked, this, &MainWindow::OnSample);
    connect(c_.curveButton, &QPushButton::clicked, this, &MainWindow::OpenCurve);
    connect(c_.curvePane->CloseButton(), &QPushButton::clicked, this, &MainWindow::CloseCurve);
    connect(c_.newPiano, &QPushButton::clicked, this, &MainWindow::OnNewPiano);
    // A choice of the user's only: setting the record's style at start-up
    // saves nothing.
    connect(c_.curveStyle, &QComboBox::activated, this, &MainWindow::OnStyleChosen);
    // L ("lire") has the screen reader say the tuning display's reading,
    // wherever the focus is: its changes are not spoken as they come.
    auto* read = new QShortcut(QKeySequence(Qt::Key_L), this);
    connect(read, &QShortcut::activated, this,
            [this] { announcer_.Say(c_.tuningDisplay->View().spokenName); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (HelpOpen()) {
            CloseHelp();
        } else if (CurveOpen()) {
            CloseCurve();
        }
    });
    ShowCurve();
}

MainWindow::~MainWindow() {
    // Whatever happened before, nothing may write into the ring once it is gone.
    if (capturing_) {
        capture_.Stop();
    }
}

bool MainWindow::StartUp() {
    // The help pane and its button are placed by the layout, hidden. The
    // saved size of the window is its laid-out size (kClientSize): closing
    // help gives it back.
    const LoadedOctave loaded = LoadOctave(settingsPath_);
    if (!loaded.note.empty()) {
        SayOnStderr(loaded.note);
    }
    c_.octaveSelector->setValue(loaded.octave);
    c_.octaveReadOut->setText(QString::number(loaded.octave));
    for (const std::string& line : piano_.Load()) {
        SayOnStderr(line);
    }
    ShowCurve();

    tone_.OpenMidiOutput();

    // Centred before anything is shown: a box at start-up is centred over
    // the window, so the window must already stand where it will appear.
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }

    std::string error;
    capturing_ = capture_.Start(ring_, error);
    if (!capturing_) {
        // What failed in French; the sound library's own words follow.
        QMessageBox box(QMessageBox::NoIcon, Q(texts::kWindowTitle),
                        Q(texts::kNoCaptureText) + Q(error), QMessageBox::Ok, this);
        box.exec();
        if (shutDown_) {
            return false;
        }
    } else if (ring_.WakeUpFd() < 0) {
        SayOnStderr(texts::kNoWakeUpLine);
    } else {
        blockNotifier_ = new QSocketNotifier(ring_.WakeUpFd(), QSocketNotifier::Read, this);
        connect(blockNotifier_, &QSocketNotifier::activated, this, &MainWindow::OnBlocksReady);
    }
    return true;
}

void MainWindow::OnOctaveChanged(int octave) { c_.octaveReadOut->setText(QString::number(octave)); }

void MainWindow::OnKey(int key) {
    Show(ChooseKey(key, c_.octaveSelector->value(), decimalSeparator_));
}

void MainWindow::OnString(int string) { Show(ChooseString(string, decimalSeparator_)); }

void MainWindow::Show(const NoteChoice& choice) {
    // The same pitch again, from the same key or string or from a key and a
    // string that sound alike, searches the same band: a measurement open
    // for it goes on, so that the reference can be heard again while it
    // waits. Another note drops it, so that the estimates of two notes never
    // share one mean.
    const bool samePitch = !referenceText_.empty() && choice.note == tone_.CurrentNote();
    tone_.SoundNote(choice.program, choice.note);
    c_.noteName->setText(Q(choice.name));
    c_.octave->setText(Q(choice.octaveText));
    c_.referenceFrequency->setText(Q(choice.referenceText));
    referenceText_ = choice.referenceText;
    // "La 4, 440,00 Hz"
    announcer_.Say(accessibility::SpokenText(Q(choice.name)) + ' ' + Q(choice.octaveText) +
                   QStringLiteral(", ") + SpokenFrequency(choice.referenceText));
    if (!samePitch) {
        cycle_.NoteChosen();
        ShowMeasurement();
        live_.Choose(choice.note, choice.program == kPianoProgram);
        liveNoteName_ = c_.noteName->text() + ' ' + c_.octave->text();
        liveNote_ = choice.note;
        livePiano_ = choice.program == kPianoProgram;
        ShowTuning();
    }
    // What the microphone hears of the tone is no strike of the instrument.
    live_.ToneStarted();
}

void MainWindow::OnSample() {
    if (cycle_.Arm(referenceText_, tone_.CurrentNote(), decimalSeparator_,
                   tone_.CurrentProgram() == kPianoProgram)) {
        // The fine measurement names the note it measures, e.g. "Mi 2".
        armedNoteName_ = (c_.noteName->text() + ' ' + c_.octave->text()).toStdString();
        ShowMeasurement();
        announcer_.Say(Q(texts::kListeningSaid));
        return;
    }
    QMessageBox box(QMessageBox::Warning, Q(texts::kNoNoteTitle), Q(texts::kNoNoteText),
                    QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::OnBlocksReady() {
    ring_.ClearWakeUp();
    // One analysis per block, oldest first. Without a note chosen, or when
    // the block could change nothing (no measurement, or one that waits for
    // sound louder than this), the block is dropped: the window costs next
    // to nothing between measurements. Blocks the ring lost are a gap the fine
    // measurement must not bridge. Nothing here allocates, unless a display
    // changes.
    while (ring_.Pop(samples_)) {
        for (; lostBlocks_ < ring_.Dropped(); ++lostBlocks_) {
            cycle_.BlockLost();
            live_.Gap();
        }
        if (referenceText_.empty()) {
            continue;
        }
        // The tuning display listens to every block of the chosen note.
        live_.Push(samples_);
        if (live_.Changed()) {
            ShowTuning();
        }
        if (cycle_.Inert(samples_)) {
            continue;
        }
        cycle_.Tick(samples_, referenceText_, decimalSeparator_);
        ShowMeasurement();
    }
}

void MainWindow::ShowTuning() {
    const std::optional<LiveReading>& reading = live_.Reading();
    const bool final = reading && reading->state == LiveState::Final;
    // A piano key's final reading goes into the record before it is shown,
    // so that it is shown against the curve it is part of.
    if (final && !liveFinal_) {
        std::string error;
        if (piano_.Keep(*reading, error)) {
            SayIfFailed(error);
            ShowCurve();
        }
    }
    c_.tuningDisplay->Show(reading, liveNoteName_, TargetOfChosenNote());
    // A final reading is said once. While a measurement was asked for, its
    // own fine reading says it.
    const bool measuring = cycle_.SamplingState() >= 0.0 || cycle_.FineFollowing();
    if (final && !liveFinal_ && !measuring) {
        announcer_.Say(c_.tuningDisplay->View().spokenName);
    }
    liveFinal_ = final;
}

std::optional<CurveTarget> MainWindow::TargetOfChosenNote() const {
    if (!livePiano_) {
        return std::nullopt;
    }
    const std::optional<tuning::KeyTarget> key = piano_.TargetOf(liveNote_);
    if (!key) {
        return std::nullopt;
    }
    return CurveTarget{key->targetCents, key->uncertaintyCents};
}

void MainWindow::ShowCurve() {
    const tuning::Curve& curve = piano_.Curve();
    c_.curvePane->Show(curve, tuning::Readings(piano_.Record()));
    const int style = c_.curveStyle->findText(QString::fromStdString(curve.style));
    c_.curveStyle->setCurrentIndex(std::max(style, 0));
}

void MainWindow::SayIfFailed(const std::string& line) {
    if (!line.empty()) {
        SayOnStderr(line);
    }
}

void MainWindow::OnStyleChosen(int index) {
    std::string error;
    if (piano_.ChooseStyle(c_.curveStyle->itemText(index).toStdString(), error)) {
        SayIfFailed(error);
        ShowCurve();
        ShowTuning();
    }
}

void MainWindow::OnNewPiano() {
    QMessageBox box(QMessageBox::Question, Q(texts::kNewPianoTitle), Q(texts::kNewPianoQuestion),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.button(QMessageBox::Yes)->setText(Q(texts::kYes));
    box.button(QMessageBox::No)->setText(Q(texts::kNo));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes || shutDown_) {
        return;
    }
    std::string error;
    piano_.StartNewPiano(error);
    SayIfFailed(error);
    ShowCurve();
    ShowTuning();
}

void MainWindow::ShowMeasurement() {
    if (cycle_.MeasuredText() != shownMeasurement_) {
        shownMeasurement_ = cycle_.MeasuredText();
        c_.measuredFrequency->setText(Q(shownMeasurement_));
        // The result, as shown; arming says itself, and an emptied display
        // follows a note that says itself.
        if (!shownMeasurement_.empty() && shownMeasurement_ != kPlaceholderText) {
            announcer_.Say(Q(shownMeasurement_));
        }
    }
    // The fine measurement goes in Label1's tooltip and accessible
    // description; its text changes a few times a second while it refines.
    const std::optional<FineReading> fine = cycle_.Fine();
    const bool final = fine && fine->final;
    std::string text = fine ? FineReadingText(*fine, armedNoteName_, decimalSeparator_) : "";
    if (text != shownFine_) {
        shownFine_ = std::move(text);
        c_.measuredFrequency->setToolTip(Q(shownFine_));
        const QString spoken = accessibility::SpokenText(Q(shownFine_));
        c_.measuredFrequency->setAccessibleDescription(spoken);
        if (final && !shownFineFinal_) {
            // Said once, when it is settled.
            announcer_.Say(spoken);
        }
    }
    shownFineFinal_ = final;
}

bool MainWindow::HelpOpen() const { return !c_.closeHelp->isHidden(); }

void MainWindow::OpenHelp() {
    cover_.Open({c_.helpPane, c_.closeHelp}, layout::kHelpOuterSize);
    c_.helpPane->setFocus(Qt::OtherFocusReason);
    c_.helpPane->setGeometry(rect());
    c_.closeHelp->move(layout::kCloseHelpLeft, layout::kCloseHelpTop);
}

void MainWindow::CloseHelp() {
    cover_.Close({c_.helpPane, c_.closeHelp}, layout::kClientSize);
    c_.help->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::CurveOpen() const { return !c_.curvePane->isHidden(); }

void MainWindow::OpenCurve() {
    cover_.Open({c_.curvePane}, layout::kCurveOuterSize);
    c_.curvePane->setGeometry(rect());
    // The table opens at the key being tuned.
    if (livePiano_) {
        c_.curvePane->GoToKey(liveNote_);
    }
    c_.curvePane->Table()->setFocus(Qt::OtherFocusReason);
}

void MainWindow::CloseCurve() {
    cover_.Close({c_.curvePane}, layout::kClientSize);
    c_.curveButton->setFocus(Qt::OtherFocusReason);
}

void MainWindow::CloseNow() {
    if (QWidget* box = QApplication::activeModalWidget()) {
        box->close();
    }
    if (HelpOpen()) {
        CloseHelp();
    }
    if (CurveOpen()) {
        CloseCurve();
    }
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!shutDown_ && (HelpOpen() || CurveOpen())) {
        if (HelpOpen()) {
            CloseHelp();
        } else {
            CloseCurve();
        }
        event->ignore();
        return;
    }
    if (!shutDown_) {
        ShutDown();
    }
    event->accept();
}

void MainWindow::ShutDown() {
    shutDown_ = true;
    std::string error;
    if (!SaveOctave(settingsPath_, c_.octaveSelector->value(), error)) {
        QMessageBox box(QMessageBox::Warning, Q(texts::kWindowTitle), Q(error), QMessageBox::Ok,
                        this);
        box.exec();
    }
    tone_.CloseMidiOutput();
    if (blockNotifier_ != nullptr) {
        blockNotifier_->setEnabled(false);
    }
    QApplication::processEvents();
    if (capturing_) {
        capture_.Stop();
        capturing_ = false;
    }
    QApplication::processEvents();
}

}  // namespace harmolune
