// Writes PNG pictures of the window, offscreen: as started, after the key
// "La" at octave 4, "Si" at octave 8 (the widest reference), "Do" at octave
// 7 measured (a measured frequency above 1000 Hz), with help open, the box
// that asks for a note first, and the tuning display in each of its states:
// nothing yet, refining, stable, final, placed by the partials, and a guitar
// string; then, with a record of a synthetic grand's eight A's and C1, the
// display against a key's target and the curve's pane.
//
// Usage: harmolune-screenshots OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "app/TuningDisplay.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"
#include "sound/MidiOutput.h"
#include "testing/SyntheticPiano.h"
#include "tuning/PianoRecord.h"

namespace {

// A capture that starts, so that no failure box shows, and hands over only
// the blocks it is given.
class FedCapture final : public harmolune::CaptureDevice {
  public:
    bool Start(harmolune::BlockRing& ring, std::string&) override {
        ring_ = &ring;
        return true;
    }
    void Stop() override {}
    // blocks of a sine at frequencyHz and peak level `level`, then one block of silence.
    void Play(double frequencyHz, int level, int blocks) {
        std::vector<std::uint8_t> samples(static_cast<std::size_t>(blocks + 1) * 4096, 128);
        for (std::size_t i = 0; i < static_cast<std::size_t>(blocks) * 4096; ++i) {
            const double s = std::sin(2 * M_PI * frequencyHz * static_cast<double>(i) / 32768.0);
            samples[i] = static_cast<std::uint8_t>(std::lround(128 + level * s));
        }
        ring_->Push(samples.data(), samples.size());
    }

  private:
    harmolune::BlockRing* ring_ = nullptr;
};

// A reading of the note midiNote at `cents` from its equal-tempered pitch.
harmolune::LiveReading Reading(int midiNote, bool pianoKey, double cents, double uncertainty,
                               double seconds, harmolune::LiveState state) {
    harmolune::LiveReading reading;
    reading.midiNote = midiNote;
    reading.pianoKey = pianoKey;
    reading.state = state;
    reading.fine.frequencyHz = 440.0 * std::pow(2.0, (midiNote - 69 + cents / 100.0) / 12.0);
    reading.fine.cents = cents;
    reading.fine.uncertaintyCents = uncertainty;
    reading.fine.seconds = seconds;
    reading.fine.final = state == harmolune::LiveState::Final;
    return reading;
}

// A grand whose eight A's and C1 were measured: B of a typical grand, each
// key 3 cents below the stretch of a good tuning, as a piano that has settled
// since it was last tuned.
bool WriteEightAs(const std::string& path) {
    harmolune::tuning::PianoRecord record;
    for (harmolune::tuning::MeasuredKey key : harmolune::testing::MeasureSyntheticPiano(
             harmolune::testing::EightAsAndC1(), &harmolune::testing::TypicalInharmonicity, {},
             3)) {
        const double cents = harmolune::testing::TypicalStretchCents(key.midiNote) - 3.0;
        key.f1Hz *= std::exp2(cents / 1200.0);
        for (harmolune::tuning::PartialHz& partial : key.partials) {
            partial.frequencyHz *= std::exp2(cents / 1200.0);
        }
        harmolune::tuning::AddReading(record, key);
    }
    std::string error;
    if (!harmolune::tuning::SavePianoRecord(path, record, error)) {
        std::fprintf(stderr, "harmolune-screenshots: %s\n", error.c_str());
        return false;
    }
    return true;
}

bool Save(const QPixmap& picture, const QString& path) {
    if (!picture.save(path, "PNG")) {
        std::fprintf(stderr, "harmolune-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: harmolune-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    harmolune::NoMidiOutput midi;
    FedCapture capture;
    const std::string settings = QDir(folder).filePath("Harmolune.ini").toStdString();
    // A record of the tool's own: a fresh piano, never the user's.
    const std::string piano = QDir(folder).filePath("piano.json").toStdString();
    std::remove(piano.c_str());
    auto window = std::make_unique<harmolune::MainWindow>(midi, capture, settings, piano);
    if (!window->StartUp()) {
        return 1;
    }
    window->show();
    QApplication::processEvents();

    bool ok = Save(window->grab(), folder + "/started.png");

    // The box that asks for a note first, grabbed while it is open.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            ok = Save(box->grab(), folder + "/message-box.png") && ok;
            box->accept();
        }
    });
    poll.start(20);
    window->Widgets().sample->click();

    window->Widgets().octaveSelector->setValue(4);
    window->Widgets().clavier[9]->click();
    ok = Save(window->grab(), folder + "/la-octave-4.png") && ok;

    window->Widgets().octaveSelector->setValue(8);
    window->Widgets().clavier[11]->click();
    ok = Save(window->grab(), folder + "/si-octave-8.png") && ok;

    // The tuning display, for La 4 struck and tuned, a low Do from its
    // partials, and the low Mi string.
    const harmolune::Controls& c = window->Widgets();
    using harmolune::LiveState;
    c.octaveSelector->setValue(4);
    c.clavier[9]->click();
    c.tuningDisplay->Show(std::nullopt, "La 4");
    ok = Save(window->grab(), folder + "/display-empty.png") && ok;
    harmolune::LiveReading la = Reading(69, true, 3.4, 0.4, 0.4, LiveState::Refining);
    la.fine.inharmonicity = 3.1e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window->grab(), folder + "/display-refining.png") && ok;
    la = Reading(69, true, 0.12, 0.05, 1.6, LiveState::Stable);
    la.fine.inharmonicity = 3.0e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window->grab(), folder + "/display-stable.png") && ok;
    la = Reading(69, true, -0.42, 0.06, 4.8, LiveState::Final);
    la.fine.inharmonicity = 3.0e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window->grab(), folder + "/display-final.png") && ok;

    c.octaveSelector->setValue(1);
    c.clavier[0]->click();
    harmolune::LiveReading low = Reading(24, true, -4.1, 2.1, 2.5, LiveState::Refining);
    low.fine.fromPartials = true;
    low.fine.inharmonicity = 2.7e-4;
    c.tuningDisplay->Show(low, "Do 1");
    ok = Save(window->grab(), folder + "/display-partials.png") && ok;

    c.corde[0]->click();
    c.tuningDisplay->Show(Reading(40, false, -12.6, 0.3, 0.9, LiveState::Refining), "Mi 2");
    ok = Save(window->grab(), folder + "/display-guitar.png") && ok;
    c.tuningDisplay->Show(std::nullopt, {});

    window->Widgets().octaveSelector->setValue(7);
    window->Widgets().clavier[0]->click();
    window->Widgets().sample->click();
    capture.Play(2093.3, 60, 3);
    QApplication::processEvents();
    ok = Save(window->grab(), folder + "/do-octave-7-measured.png") && ok;

    window->OpenHelp();
    QApplication::processEvents();
    ok = Save(window->grab(), folder + "/help.png") && ok;
    window->CloseHelp();

    // The piano's curve: a record of eight A's and C1, the window started
    // again to read it, Do 7 chosen and struck a little sharp of its target.
    window.reset();
    if (!WriteEightAs(piano)) {
        return 1;
    }
    window = std::make_unique<harmolune::MainWindow>(midi, capture, settings, piano);
    if (!window->StartUp()) {
        return 1;
    }
    window->show();
    QApplication::processEvents();
    const harmolune::Controls& d = window->Widgets();
    d.octaveSelector->setValue(7);
    d.clavier[0]->click();
    ok = Save(window->grab(), folder + "/display-target-chosen.png") && ok;
    const harmolune::tuning::KeyTarget target = *window->Piano().TargetOf(96);
    harmolune::LiveReading sharp =
        Reading(96, true, target.targetCents + 2.3, 0.4, 0.6, LiveState::Refining);
    sharp.fine.inharmonicity = 4.2e-3;
    d.tuningDisplay->Show(sharp, "Do 7",
                          harmolune::CurveTarget{target.targetCents, target.uncertaintyCents});
    ok = Save(window->grab(), folder + "/display-target.png") && ok;
    window->OpenCurve();
    QApplication::processEvents();
    ok = Save(window->grab(), folder + "/curve.png") && ok;
    window->CloseCurve();
    // "Nouveau piano" said yes to: nothing measured, equal temperament.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            answer.stop();
            ok = Save(box->grab(), folder + "/new-piano-box.png") && ok;
            box->button(QMessageBox::Yes)->click();
        }
    });
    answer.start(20);
    d.newPiano->click();
    window->OpenCurve();
    QApplication::processEvents();
    ok = Save(window->grab(), folder + "/curve-new-piano.png") && ok;
    window->CloseCurve();

    std::remove(settings.c_str());
    std::remove(piano.c_str());
    return ok ? 0 : 1;
}
