// What the piano's curve costs the window once per change, offscreen: a final
// reading kept (the record saved through a temporary file flushed to the
// disk, the curve computed again), the curve's pane shown again (summary,
// advice, plot data and the 88 rows of the table), and one paint of the plot
// at its laid-out size. A change comes at most once per strike of a key.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/CurvePane.h"
#include "app/CurvePlot.h"
#include "app/PianoKeeper.h"
#include "testing/Files.h"
#include "testing/SyntheticPiano.h"

namespace {

using namespace harmolune;

// A record of a typical grand's eight A's and C1, in a temporary folder.
struct EightAs {
    EightAs() {
        tuning::PianoRecord record;
        for (const tuning::MeasuredKey& key : testing::MeasureSyntheticPiano(
                 testing::EightAsAndC1(), &testing::TypicalInharmonicity, {}, 5)) {
            tuning::AddReading(record, key);
        }
        std::string error;
        tuning::SavePianoRecord(path, record, error);
    }
    testing::TempDir folder;
    std::string path = folder.File("piano.json");
};

LiveReading Final(int midiNote, double cents) {
    LiveReading r;
    r.midiNote = midiNote;
    r.pianoKey = true;
    r.state = LiveState::Final;
    r.fine.final = true;
    r.fine.frequencyHz = 440.0 * std::exp2((midiNote - 69 + cents / 100.0) / 12.0);
    r.fine.uncertaintyCents = 0.2;
    r.fine.inharmonicity = testing::TypicalInharmonicity(midiNote);
    r.fine.seconds = 3.0;
    return r;
}

void BM_KeepAFinalReading(benchmark::State& state) {
    const EightAs piano;
    PianoKeeper keeper(piano.path);
    keeper.Load();
    std::string error;
    int i = 0;
    for (auto _ : state) {
        keeper.Keep(Final(60, (i++ % 2) * 0.5), error);
    }
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
    }
}
BENCHMARK(BM_KeepAFinalReading)->Unit(benchmark::kMillisecond);

void BM_ShowThePane(benchmark::State& state) {
    const EightAs piano;
    PianoKeeper keeper(piano.path);
    keeper.Load();
    CurvePane pane;
    pane.resize(960, 600);
    const std::vector<tuning::MeasuredKey> readings = tuning::Readings(keeper.Record());
    for (auto _ : state) {
        pane.Show(keeper.Curve(), readings);
    }
}
BENCHMARK(BM_ShowThePane)->Unit(benchmark::kMillisecond);

void BM_PaintThePlot(benchmark::State& state) {
    const EightAs piano;
    PianoKeeper keeper(piano.path);
    keeper.Load();
    CurvePlot plot;
    plot.resize(plot.sizeHint());
    plot.Show(PlotDataOf(keeper.Curve(), tuning::Readings(keeper.Record())));
    QImage image(plot.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        plot.render(&image);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_PaintThePlot)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
