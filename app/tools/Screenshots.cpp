// Writes PNG pictures of the window, offscreen: as started, after the key
// "La" at octave 4, with help open, and the box that asks for a note first.
//
// Usage: harmolune-screenshots OUTPUT_FOLDER

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "capture/BlockRing.h"
#include "capture/CaptureDevice.h"
#include "reference/MidiOutput.h"

namespace {

// A capture that starts and stays silent, so that no failure box shows.
class SilentCapture final : public harmolune::CaptureDevice {
  public:
    bool Start(harmolune::BlockRing&, std::string&) override { return true; }
    void Stop() override {}
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
    SilentCapture capture;
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
    window.Widgets().command2->click();

    window.Widgets().hScroll1->setValue(4);
    window.Widgets().clavier[9]->click();
    ok = Save(window.grab(), folder + "/la-octave-4.png") && ok;

    window.OpenHelp();
    QApplication::processEvents();
    ok = Save(window.grab(), folder + "/help.png") && ok;
    window.CloseHelp();

    std::remove(settings.c_str());
    return ok ? 0 : 1;
}
