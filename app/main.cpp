// Harmolune: the tuner's window. Wires the sound backends, the settings file
// and the termination signals to the window, then runs the event loop.

#include <QApplication>
#include <QByteArray>

#include "app/MainWindow.h"
#include "app/Settings.h"
#include "app/TerminationSignals.h"
#include "capture/CaptureDevice.h"
#include "reference/MidiOutput.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    // The sound backends.
    harmolune::NoMidiOutput midi;
    harmolune::NoCapture capture;

    const std::string settings =
        harmolune::SettingsPath(QCoreApplication::applicationDirPath().toStdString(),
                                qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(),
                                qEnvironmentVariable("HOME").toStdString());

    harmolune::MainWindow window(midi, capture, settings);
    harmolune::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &harmolune::TerminationSignals::Received, &window,
                     &harmolune::MainWindow::CloseNow);
    if (!window.StartUp()) {
        return 0;
    }
    window.show();
    return app.exec();
}
