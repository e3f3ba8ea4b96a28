// Harmolune: the tuner's window. Wires the sound backends, the settings file,
// the piano's record and the termination signals to the window, then runs
// the event loop.

#include <pwd.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <array>
#include <memory>
#include <string>

#include "app/MainWindow.h"
#include "app/TerminationSignals.h"
#include "settings/Settings.h"
#include "sound/CaptureDevice.h"
#include "sound/MidiOutput.h"
#include "tuning/PianoRecord.h"
#ifdef HARMOLUNE_HAVE_SOUND
#include "sound/fluidsynth/FluidSynthOutput.h"
#include "sound/pulse/PulseCapture.h"
#endif

namespace {

// $HOME, or the home folder of the account when it is unset (as under some
// service managers), so that an installed program still finds its settings
// folder.
std::string HomeFolder() {
    std::string home = qEnvironmentVariable("HOME").toStdString();
    if (home.empty()) {
        passwd entry{};
        passwd* account = nullptr;
        std::array<char, 4096> strings{};
        if (getpwuid_r(getuid(), &entry, strings.data(), strings.size(), &account) == 0 &&
            account != nullptr && account->pw_dir != nullptr) {
            home = account->pw_dir;
        }
    }
    return home;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    // The sound backends: FluidSynth for the reference tone, libpulse for the
    // microphone.
#ifdef HARMOLUNE_HAVE_SOUND
    const std::unique_ptr<harmolune::MidiOutput> midi = harmolune::MakeFluidSynthOutput();
    const std::unique_ptr<harmolune::CaptureDevice> capture = harmolune::MakePulseCapture();
#else
    const auto midi = std::make_unique<harmolune::NoMidiOutput>();
    const auto capture = std::make_unique<harmolune::NoCapture>();
#endif

    const std::string settings = harmolune::SettingsPath(
        QCoreApplication::applicationDirPath().toStdString(),
        qEnvironmentVariable("XDG_CONFIG_HOME").toStdString(), HomeFolder());

    // The piano being tuned: $XDG_DATA_HOME/harmolune/piano.json.
    const std::string piano = harmolune::tuning::DefaultPianoRecordPath(
        qEnvironmentVariable("XDG_DATA_HOME").toStdString(), HomeFolder());

    harmolune::MainWindow window(*midi, *capture, settings, piano);
    harmolune::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &harmolune::TerminationSignals::Received, &window,
                     &harmolune::MainWindow::CloseNow);
    if (!window.StartUp()) {
        return 0;
    }
    window.show();
    return app.exec();
}
