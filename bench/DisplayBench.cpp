// What the tuning display costs the window on each block of a sounding note:
// Show with a reading that moved (its texts, its accessible name), with and
// without a target on the piano's curve, the same
// reading again (nothing to repaint), and one paint of the display, offscreen.
// Each is also given in milliseconds per block, against the 1 ms a block may
// take with the display included.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "app/TuningDisplay.h"

namespace {

using harmolune::LiveReading;
using harmolune::LiveState;
using harmolune::TuningDisplay;

LiveReading Reading(double cents) {
    LiveReading r;
    r.fine.frequencyHz = 440.0 * std::pow(2.0, cents / 1200.0);
    r.fine.cents = cents;
    r.fine.uncertaintyCents = 0.4;
    r.fine.seconds = 0.8;
    r.fine.inharmonicity = 3.0e-4;
    r.state = LiveState::Refining;
    r.pianoKey = true;
    return r;
}

// The display as the layout makes it: its size, black and green.
void LaidOut(TuningDisplay& display) {
    display.resize(display.sizeHint());
    QPalette palette = display.palette();
    palette.setColor(QPalette::Window, QColor(0, 0, 0));
    palette.setColor(QPalette::WindowText, QColor(0, 192, 0));
    display.setPalette(palette);
    display.setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

void BM_ShowAMovedReading(benchmark::State& state) {
    TuningDisplay display;
    LaidOut(display);
    const LiveReading readings[] = {Reading(3.4), Reading(3.1)};
    int i = 0;
    for (auto _ : state) {
        display.Show(readings[i], "La 4");
        i ^= 1;
    }
}
BENCHMARK(BM_ShowAMovedReading);

// The same, for a piano key counted from its target on the piano's curve.
void BM_ShowAMovedReadingAgainstATarget(benchmark::State& state) {
    TuningDisplay display;
    LaidOut(display);
    const LiveReading readings[] = {Reading(3.4), Reading(3.1)};
    const harmolune::CurveTarget target{2.7, 0.6};
    int i = 0;
    for (auto _ : state) {
        display.Show(readings[i], "La 4", target);
        i ^= 1;
    }
}
BENCHMARK(BM_ShowAMovedReadingAgainstATarget);

void BM_ShowTheSameReading(benchmark::State& state) {
    TuningDisplay display;
    LaidOut(display);
    const LiveReading reading = Reading(3.4);
    for (auto _ : state) {
        display.Show(reading, "La 4");
    }
}
BENCHMARK(BM_ShowTheSameReading);

void BM_PaintTheDisplay(benchmark::State& state) {
    TuningDisplay display;
    LaidOut(display);
    display.Show(Reading(3.4), "La 4");
    QImage image(display.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        display.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintTheDisplay);

// The usual console table, then each result in milliseconds per block.
class PerBlockReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            secondsPerCall_[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e9;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nPer block, against 1 ms:\n");
        for (const auto& [name, seconds] : secondsPerCall_) {
            std::printf("  %-36s %8.4f ms\n", name.c_str(), seconds * 1e3);
        }
    }

  private:
    std::map<std::string, double> secondsPerCall_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    PerBlockReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
