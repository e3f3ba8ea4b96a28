// Writes PNG pictures of the window, offscreen: as started, after the key
// "La" at octave 4, "Si" at octave 8 (the widest reference), "Do" at octave
// 7 measured (a measured frequency above 1000 Hz), with help open, and the
// box that asks for a note first.
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
