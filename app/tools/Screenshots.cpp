// Writes PNG pictures of the window, offscreen: as started, after the key
// "La" at octave 4, "Si" at octave 8 (the widest reference), "Do" at octave
// 7 measured (a measured frequency above 1000 Hz), with help open, the box
// that asks for a note first, and the tuning display in each of its states:
// nothing yet, refining, stable, final, placed by the partials, and a guitar
// string.
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
#include <vector>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "app/TuningDisplay.h"
#include "sound/BlockRing.h"
#include "sound/CaptureDevice.h"
#include "sound/MidiOutput.h"

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
    harmolune::MainWindow window(midi, capture, settings);
    if (!window.StartUp()) {
        return 1;
    }
    window.show();
    QApplication::processEvents();

    bool ok = Save(window.grab(), folder + "/started.png");

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
    window.Widgets().sample->click();

    window.Widgets().octaveSelector->setValue(4);
    window.Widgets().clavier[9]->click();
    ok = Save(window.grab(), folder + "/la-octave-4.png") && ok;

    window.Widgets().octaveSelector->setValue(8);
    window.Widgets().clavier[11]->click();
    ok = Save(window.grab(), folder + "/si-octave-8.png") && ok;

    // The tuning display, for La 4 struck and tuned, a low Do from its
    // partials, and the low Mi string.
    const harmolune::Controls& c = window.Widgets();
    using harmolune::LiveState;
    c.octaveSelector->setValue(4);
    c.clavier[9]->click();
    c.tuningDisplay->Show(std::nullopt, "La 4");
    ok = Save(window.grab(), folder + "/display-empty.png") && ok;
    harmolune::LiveReading la = Reading(69, true, 3.4, 0.4, 0.4, LiveState::Refining);
    la.fine.inharmonicity = 3.1e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window.grab(), folder + "/display-refining.png") && ok;
    la = Reading(69, true, 0.12, 0.05, 1.6, LiveState::Stable);
    la.fine.inharmonicity = 3.0e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window.grab(), folder + "/display-stable.png") && ok;
    la = Reading(69, true, -0.42, 0.06, 4.8, LiveState::Final);
    la.fine.inharmonicity = 3.0e-4;
    c.tuningDisplay->Show(la, "La 4");
    ok = Save(window.grab(), folder + "/display-final.png") && ok;

    c.octaveSelector->setValue(1);
    c.clavier[0]->click();
    harmolune::LiveReading low = Reading(24, true, -4.1, 2.1, 2.5, LiveState::Refining);
    low.fine.fromPartials = true;
    low.fine.inharmonicity = 2.7e-4;
    c.tuningDisplay->Show(low, "Do 1");
    ok = Save(window.grab(), folder + "/display-partials.png") && ok;

    c.corde[0]->click();
    c.tuningDisplay->Show(Reading(40, false, -12.6, 0.3, 0.9, LiveState::Refining), "Mi 2");
    ok = Save(window.grab(), folder + "/display-guitar.png") && ok;
    c.tuningDisplay->Show(std::nullopt, {});

    window.Widgets().octaveSelector->setValue(7);
    window.Widgets().clavier[0]->click();
    window.Widgets().sample->click();
    capture.Play(2093.3, 60, 3);
    QApplication::processEvents();
    ok = Save(window.grab(), folder + "/do-octave-7-measured.png") && ok;

    window.OpenHelp();
    QApplication::processEvents();
    ok = Save(window.grab(), folder + "/help.png") && ok;
    window.CloseHelp();

    std::remove(settings.c_str());
    return ok ? 0 : 1;
}
