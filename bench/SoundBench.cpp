// The cost of listening: CPU use (per cent of one core, from getrusage, all
// threads of the process) and the time from a captured buffer reaching the
// ring to the end of its block's analysis, each over 10 s with a note chosen
// and capture running. Three set-ups: capture and analysis alone; the same
// with FluidSynth sounding the note; the window itself, offscreen, with both
// backends. Run by harmolune-sound-bench, which gives it a private sound
// server.
#include <poll.h>
#include <sys/resource.h>

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "capture/BlockRing.h"
#include "capture/PulseCapture.h"
#include "measure/MeasuringCycle.h"
#include "reference/FluidSynthOutput.h"
#include "reference/Notes.h"
#include "reference/ReferenceTone.h"

namespace harmolune {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(10);

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void PrintCpu(const char* what, double cpuSeconds, double wallSeconds) {
    std::printf("%-44s CPU %6.2f %% of one core over %.1f s\n", what,
                100.0 * cpuSeconds / wallSeconds, wallSeconds);
}

// The window's per-block path without the window: wait on the ring's
// eventfd, take each block, analyse it. Returns false if capture failed.
bool Pipeline(const char* what, MidiOutput& midi) {
    const NoteChoice note = ChooseKey(9, 4, ".");
    ReferenceTone tone(midi);
    tone.OpenMidiOutput();
    tone.SoundNote(note.program, note.note);

    auto ring = std::make_unique<BlockRing>();
    PulseCapture capture;
    std::string error;
    if (!capture.Start(*ring, error)) {
        std::fprintf(stderr, "harmolune-sound-bench: capture did not start: %s\n", error.c_str());
        return false;
    }
    MeasuringCycle cycle;
    cycle.Arm(note.referenceText);
    std::vector<double> latenciesMs;
    latenciesMs.reserve(200);
    Block block;

    const double cpuStart = CpuSeconds();
    const auto start = Clock::now();
    while (Clock::now() - start < kRun) {
        pollfd wake{ring->WakeUpFd(), POLLIN, 0};
        poll(&wake, 1, 200);
        ring->ClearWakeUp();
        int taken = 0;
        while (ring->Pop(block)) {
            cycle.Tick(block, note.referenceText, ".");
            ++taken;
            if (cycle.SamplingState() < 0) {
                cycle.Arm(note.referenceText);
            }
        }
        // One block per wake-up is the usual case; only then is the latest
        // buffer's arrival time this block's.
        if (taken == 1) {
            latenciesMs.push_back(static_cast<double>(NowNs() - capture.LastBufferNanoseconds()) /
                                  1e6);
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    capture.Stop();
    tone.CloseMidiOutput();

    PrintCpu(what, cpu, wall);
    if (!latenciesMs.empty()) {
        std::sort(latenciesMs.begin(), latenciesMs.end());
        std::printf(
            "%-44s buffer to analysed: median %.3f ms, 95th %.3f ms, max %.3f ms (%zu blocks)\n",
            "", latenciesMs[latenciesMs.size() / 2], latenciesMs[latenciesMs.size() * 95 / 100],
            latenciesMs.back(), latenciesMs.size());
    }
    return true;
}

// The window offscreen with both backends and "La" 4 chosen; CPU only.
void Window() {
    FluidSynthOutput synth;
    PulseCapture capture;
    const std::string settings = (QDir::tempPath() + "/harmolune-sound-bench.ini").toStdString();
    MainWindow window(synth, capture, settings);
    if (!window.StartUp()) {
        return;
    }
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        return;
    }
    window.Widgets().hScroll1->setValue(4);
    window.Widgets().clavier[9]->click();
    const double cpuStart = CpuSeconds();
    const auto start = Clock::now();
    QTest::qWait(static_cast<int>(std::chrono::milliseconds(kRun).count()));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    window.close();
    QFile::remove(QString::fromStdString(settings));
    PrintCpu("window offscreen, FluidSynth + libpulse", cpu, wall);
}

}  // namespace
}  // namespace harmolune

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    harmolune::NoMidiOutput silent;
    if (!harmolune::Pipeline("capture + analysis, no synthesiser", silent)) {
        return 1;
    }
    harmolune::FluidSynthOutput synth;
    harmolune::Pipeline("capture + analysis + FluidSynth sounding A4", synth);
    harmolune::Window();
    return 0;
}
