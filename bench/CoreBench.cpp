// Speed of the analysis: the transform, the peak search and a whole tick, each
// also given as a share of the 125 ms that one block of sound lasts, and the
// transform against FFTW's 4096-point complex double transform in the same run.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "measure/FineEstimator.h"
#include "measure/LiveTuner.h"
#include "measure/MeasuringCycle.h"
#include "spectrum/Fourier.h"
#include "testing/StiffString.h"

namespace {

using harmolune::Block;
using harmolune::Fourier;

constexpr double kBlockSeconds = 4096.0 / 32768.0;

Block NoisyTone() {
    Block block;
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> noise(-3, 3);
    for (int t = 0; t < 4096; ++t) {
        block[t] = static_cast<std::uint8_t>(
            128 + std::lround(50 * std::sin(2 * M_PI * 441.0 * t / 32768.0)) + noise(rng));
    }
    return block;
}

void BM_Transform4096(benchmark::State& state) {
    auto f = std::make_unique<Fourier>();
    const Block block = NoisyTone();
    for (int t = 0; t < 4096; ++t) {
        f->Signal[t] = {static_cast<double>(block[t]), 0.0};
    }
    for (auto _ : state) {
        f->Transform(4096);
        benchmark::DoNotOptimize(f->Spectrum.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Transform4096);

void BM_FftwComplex4096(benchmark::State& state) {
    fftw_complex* in = fftw_alloc_complex(4096);
    fftw_complex* out = fftw_alloc_complex(4096);
    fftw_plan plan = fftw_plan_dft_1d(4096, in, out, FFTW_BACKWARD, FFTW_MEASURE);
    const Block block = NoisyTone();
    for (int t = 0; t < 4096; ++t) {
        in[t][0] = block[t];
        in[t][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwComplex4096);

void BM_FindPeak440(benchmark::State& state) {
    auto f = std::make_unique<Fourier>();
    const Block block = NoisyTone();
    for (int t = 0; t < 4096; ++t) {
        f->Signal[t] = {static_cast<double>(block[t]), 0.0};
    }
    f->Transform(4096);
    for (auto _ : state) {
        benchmark::DoNotOptimize(f->FindPeak(50, 61));
    }
}
BENCHMARK(BM_FindPeak440);

void BM_WholeTick(benchmark::State& state) {
    harmolune::MeasuringCycle cycle;
    const Block block = NoisyTone();
    cycle.Arm("440.00Hz");
    for (auto _ : state) {
        benchmark::DoNotOptimize(cycle.Tick(block, "440.00Hz", "."));
    }
}
BENCHMARK(BM_WholeTick);

// One block of the fine measurement while it follows a note, for a low note
// (four-block windows, the costlier) and a high one (two-block windows).
void BM_FineEstimatorPush(benchmark::State& state) {
    const int midiNote = static_cast<int>(state.range(0));
    const double f = harmolune::EqualTemperedHz(midiNote);
    std::vector<Block> blocks(64);
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.3);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        for (int t = 0; t < 4096; ++t) {
            const double n = static_cast<double>(b * 4096 + t);
            blocks[b][t] = static_cast<std::uint8_t>(
                std::lround(128 + 60 * std::sin(2 * M_PI * f * n / 32768.0) + noise(rng)));
        }
    }
    harmolune::FineEstimator fine;
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == 0) {
            fine.Start(midiNote);
        }
        fine.Push(blocks[next]);
        next = (next + 1) % blocks.size();
    }
}
BENCHMARK(BM_FineEstimatorPush)->Arg(40)->Arg(84);

// The fine measurement of a piano key over a whole note, per block: a
// synthetic piano note (testing/StiffString.h, block peak 90) from the block
// where the count starts to the block where the measurement stops following
// it, with the reading the window takes after each. The lowest keys transform a 4 s window every 8
// blocks, the top octave a one-block window every block.
void BM_FinePianoNote(benchmark::State& state) {
    const int midiNote = static_cast<int>(state.range(0));
    harmolune::testing::StiffStringTone tone;
    tone.midiNote = midiNote;
    tone.leadSeconds = 0.0;
    const harmolune::testing::StiffStringSound sound =
        harmolune::testing::SynthesiseStiffString(tone);
    std::vector<Block> blocks(sound.samples.size() / 4096);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        std::copy_n(sound.samples.begin() + static_cast<std::ptrdiff_t>(b * 4096), 4096,
                    blocks[b].begin());
    }
    harmolune::FineEstimator fine;
    fine.Start(midiNote, true);
    std::size_t followed = 0;
    while (followed < blocks.size() && fine.Following()) {
        fine.Push(blocks[followed++]);
    }
    blocks.resize(followed);
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == 0) {
            fine.Start(midiNote, true);
        }
        fine.Push(blocks[next]);
        // The window reads the measurement after every block.
        benchmark::DoNotOptimize(fine.Reading());
        next = (next + 1) % blocks.size();
    }
    state.counters["blocks"] = static_cast<double>(blocks.size());
}
BENCHMARK(BM_FinePianoNote)->Arg(21)->Arg(69)->Arg(108);

// What listening for a strike costs each block while a note sounds: the
// block's transform and the sums over the note's partials.
void BM_StrikeDetector(benchmark::State& state) {
    harmolune::StrikeDetector strikes;
    strikes.SetNote(441.0);
    const Block block = NoisyTone();
    for (auto _ : state) {
        benchmark::DoNotOptimize(strikes.Push(block));
    }
}
BENCHMARK(BM_StrikeDetector);

// The tuning display's reading over a whole strike, per block: the same
// synthetic piano note through LiveTuner, from the block before the strike to
// the block where its reading becomes final. Each block's short window, and
// from two blocks on the window's recent half, which says how far the pitch
// moves within it.
void BM_LiveTunerNote(benchmark::State& state) {
    const int midiNote = static_cast<int>(state.range(0));
    harmolune::testing::StiffStringTone tone;
    tone.midiNote = midiNote;
    tone.leadSeconds = 4096.0 / 32768.0;
    const harmolune::testing::StiffStringSound sound =
        harmolune::testing::SynthesiseStiffString(tone);
    std::vector<Block> blocks(sound.samples.size() / 4096);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        std::copy_n(sound.samples.begin() + static_cast<std::ptrdiff_t>(b * 4096), 4096,
                    blocks[b].begin());
    }
    harmolune::LiveTuner tuner;
    tuner.Choose(midiNote, true);
    std::size_t followed = 0;
    while (followed < blocks.size()) {
        tuner.Push(blocks[followed++]);
        if (tuner.Reading() && tuner.Reading()->state == harmolune::LiveState::Final) {
            break;
        }
    }
    blocks.resize(followed);
    std::size_t next = 0;
    for (auto _ : state) {
        if (next == 0) {
            tuner.Choose(midiNote, true);
        }
        tuner.Push(blocks[next]);
        benchmark::DoNotOptimize(tuner.Reading());
        next = (next + 1) % blocks.size();
    }
    state.counters["blocks"] = static_cast<double>(blocks.size());
}
BENCHMARK(BM_LiveTunerNote)->Arg(21)->Arg(33)->Arg(69)->Arg(108);

// The usual console table, then each result as a share of one block and the
// ratio of Transform to FFTW.
class ShareReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const double seconds = run.GetAdjustedRealTime() / 1e9;  // time unit is ns
            secondsPerCall_[run.benchmark_name()] = seconds;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nShare of one block (125 ms of sound):\n");
        for (const auto& [name, seconds] : secondsPerCall_) {
            std::printf("  %-22s %10.3f us  %8.4f %%\n", name.c_str(), seconds * 1e6,
                        100.0 * seconds / kBlockSeconds);
        }
        const auto ours = secondsPerCall_.find("BM_Transform4096");
        const auto fftw = secondsPerCall_.find("BM_FftwComplex4096");
        if (ours != secondsPerCall_.end() && fftw != secondsPerCall_.end()) {
            std::printf("Transform / FFTW 4096-point complex double: %.2f\n",
                        ours->second / fftw->second);
        }
    }

  private:
    std::map<std::string, double> secondsPerCall_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    ShareReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
