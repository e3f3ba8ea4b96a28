// The cost and the speed of the sound path, with the real backends against
// the private sound server that harmolune-sound-bench starts:
//   - Start-up (--startup PROGRAM [SOUNDFONT], under the X server of
//     DISPLAY): from exec to the window mapped on the screen, median of 10
//     starts; with SOUNDFONT standing in for the default one (root only).
//   - CPU use (per cent of one core, all threads, from the scheduler's own
//     count) of the window offscreen in three states: no note chosen; La 4
//     sounding while it is measured; 30 s after the click. Beside each, the
//     share of a parec recording the same source as capture does, measured
//     over the same seconds: the floor for continuous capture on this
//     machine. Then the share of each of the window's threads.
//   - Click to sound at the sink: from the note-on to the note's first sample
//     read from the sink's monitor, median of 20 clicks, with the machine idle
//     and with two busy loops, and the pieces of the tone missing (underflows).
//     The monitor's own delay (about a millisecond, read in pieces of 1 ms) is
//     counted in, so the figure is an upper bound; but a reader of 1 ms pieces
//     holds the server to a 1 ms period. Read in 50 ms pieces, with the time
//     taken back by the latency the server reports, the figure is what a
//     desktop with no other low-latency client would hear, within a few ms.
//     (--latency: these alone; the script runs them against PipeWire too.)
//   - A held note under load (--held-note): La 4 held for 3 s while two busy
//     loops keep both cores busy, and the pieces of the tone the server found
//     missing meanwhile (underflows), 0 when the stream kept up.
//   - First clicks (--first-clicks SOUNDFONT): click to sound, as above, of
//     the first piano key and the first guitar string after start-up, with
//     the synthesiser made anew each time.
//   - Capture to analysis: from a captured fragment reaching the ring to the
//     end of its block's analysis.
#include <fcntl.h>
#include <poll.h>
#include <pulse/simple.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/FlatButton.h"
#include "app/MainWindow.h"
#include "bench/SoundBenchTools.h"
#include "core/Notes.h"
#include "measure/MeasuringCycle.h"
#include "sound/BlockRing.h"
#include "sound/ReferenceTone.h"
#include "sound/fluidsynth/FluidSynthOutput.h"
#include "sound/pulse/PulseCapture.h"

namespace harmolune {
namespace {

using namespace soundbench;
using namespace std::chrono_literals;

// The window's per-block path without the window: wait on the ring's
// eventfd, take each block, analyse it.
bool CaptureToAnalysis() {
    const NoteChoice note = ChooseKey(9, 4, ".");
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
        // fragment's arrival time this block's.
        if (taken == 1) {
            latenciesMs.push_back(static_cast<double>(NowNs() - capture.LastBufferNanoseconds()) /
                                  1e6);
        }
    }
    capture.Stop();
    if (!latenciesMs.empty()) {
        std::sort(latenciesMs.begin(), latenciesMs.end());
        std::printf("capture to analysis: median %.3f ms, 95th %.3f ms, max %.3f ms (%zu blocks)\n",
                    latenciesMs[latenciesMs.size() / 2], latenciesMs[latenciesMs.size() * 95 / 100],
                    latenciesMs.back(), latenciesMs.size());
    }
    return true;
}

// The window offscreen with both backends, and parec beside it.
void WindowCpu() {
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
    // TimGM6mb's La 4 at the tone's gain peaks below the level that starts a
    // measurement; turned up as a microphone would be, it is measured.
    waitpid(Spawn({"pactl", "set-source-volume", "@DEFAULT_SOURCE@", "150%", nullptr}), nullptr, 0);
    const pid_t parec = Spawn({"parec", "--rate=32768", "--format=u8", "--channels=1",
                               "--latency-msec=125", "--raw", nullptr});
    RunEventLoop(1000);
    const auto measure = [&](const char* state) {
        const std::string self = std::to_string(getpid());
        const std::string other = std::to_string(parec);
        const std::map<std::string, Use> threadsStart = UseByThread(self);
        const Use parecThreadStart = UseIn("/proc/" + other + "/schedstat");
        const double cpuStart = CpuSecondsOf(self);
        const double parecStart = CpuSecondsOf(other);
        const auto start = Clock::now();
        RunEventLoop(static_cast<int>(std::chrono::milliseconds(kRun).count()));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double ours = 100.0 * (CpuSecondsOf(self) - cpuStart) / wall;
        const double theirs = 100.0 * (CpuSecondsOf(other) - parecStart) / wall;
        std::printf("CPU %-34s harmolune %5.2f %%, parec %5.2f %%, ratio %.2f (%.1f s)\n", state,
                    ours, theirs, theirs > 0 ? ours / theirs : 0.0, wall);
        // Where it goes: threads that ended meanwhile (none, normally) are
        // missing here.
        std::string split;
        const auto add = [&](const std::string& name, const Use& now, const Use& before) {
            const double used = now.seconds - before.seconds;
            if (used >= 0.00005 * wall) {
                char share[96];
                std::snprintf(share, sizeof share, "%s%s %.2f %% (%.0f runs/s)",
                              split.empty() ? "" : ", ", name.c_str(), 100.0 * used / wall,
                              (now.runs - before.runs) / wall);
                split += share;
            }
        };
        for (const auto& [name, use] : UseByThread(self)) {
            const auto before = threadsStart.find(name);
            add(name, use, before == threadsStart.end() ? Use{} : before->second);
        }
        std::printf("    by thread: %s\n", split.c_str());
        split.clear();
        add("parec", UseIn("/proc/" + other + "/schedstat"), parecThreadStart);
        std::printf("    beside it: %s\n", split.c_str());
        std::fflush(stdout);
    };
    measure("no note chosen:");
    window.Widgets().octaveSelector->setValue(4);
    window.Widgets().clavier[9]->click();
    window.Widgets().sample->click();
    const auto click = Clock::now();
    measure("La 4 sounding, measuring:");
    std::printf("    measured: \"%s\", fine: \"%s\"\n",
                window.Widgets().measuredFrequency->text().toStdString().c_str(),
                window.Widgets().measuredFrequency->toolTip().toStdString().c_str());
    RunEventLoop(static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(click + 30s - Clock::now()).count()));
    measure("30 s after the click:");
    End(parec);
    window.close();
    QFile::remove(QString::fromStdString(settings));
}

void ClickToSound(const char* what, int pieceMs) {
    FluidSynthOutput synth;
    ReferenceTone tone(synth);
    tone.OpenMidiOutput();
    synth.WaitUntilLoaded();
    OnsetWatch watch(pieceMs);
    if (!watch.Ok()) {
        std::fprintf(stderr, "harmolune-sound-bench: cannot read the monitor\n");
        return;
    }
    std::this_thread::sleep_for(500ms);
    std::vector<double> latenciesMs;
    int missed = 0;
    const int underflowsBefore = synth.Underflows();
    for (int click = 0; click < 20; ++click) {
        // From silence, so that the onset is this note's.
        for (int i = 0; i < 300 && !(synth.Corked() && watch.Silent()); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        const std::int64_t sentNs = NowNs();
        tone.SoundNote(0, 69);
        const std::int64_t onsetNs = watch.NextOnset();
        if (onsetNs == 0) {
            ++missed;
        } else {
            latenciesMs.push_back(static_cast<double>(onsetNs - sentNs) / 1e6);
        }
        std::this_thread::sleep_for(700ms);
        synth.Send(midi::NoteOff(69));
    }
    const int underflows = synth.Underflows() - underflowsBefore;
    tone.CloseMidiOutput();
    std::sort(latenciesMs.begin(), latenciesMs.end());
    if (latenciesMs.empty()) {
        std::printf("click to sound, %s: no onset heard\n", what);
        return;
    }
    std::printf(
        "click to sound, %-14s median %5.1f ms, min %5.1f, max %5.1f (%zu clicks, %d unheard); "
        "underflows: %d\n",
        what, latenciesMs[latenciesMs.size() / 2], latenciesMs.front(), latenciesMs.back(),
        latenciesMs.size(), missed, underflows);
    std::fflush(stdout);
}

void HeldNoteUnderLoad() {
    FluidSynthOutput synth;
    ReferenceTone tone(synth);
    tone.OpenMidiOutput();
    if (!synth.WaitUntilLoaded()) {
        std::fprintf(stderr, "harmolune-sound-bench: the SoundFont did not load\n");
        return;
    }
    std::this_thread::sleep_for(300ms);
    const int before = synth.Underflows();
    bool playing = false;
    {
        const BusyLoops load;
        tone.SoundNote(0, 69);
        std::this_thread::sleep_for(3s);
        playing = !synth.Corked();
    }
    synth.Send(midi::NoteOff(69));
    // The server's word of an underflow reaches the stream's thread a moment
    // later, and later still when that thread is the one held up.
    std::this_thread::sleep_for(500ms);
    const int underflows = synth.Underflows() - before;
    tone.CloseMidiOutput();
    std::printf(
        "held La 4, 3 s under two busy loops: %d underflows (pieces of the tone missing)%s\n",
        underflows, playing ? "" : "; the stream had stopped");
    std::fflush(stdout);
}

// The first piano key and the first guitar string after start-up, as the
// window's first two clicks: a synthesiser made anew with soundFont each time,
// clicked once its SoundFont is in and its stream is up. Ten starts; the
// median and the longest of each, and the median time from opening to the
// SoundFont in and the stream up.
void FirstClicks(const char* soundFont) {
    OnsetWatch watch(1);
    if (!watch.Ok()) {
        std::fprintf(stderr, "harmolune-sound-bench: cannot read the monitor\n");
        return;
    }
    std::vector<double> loadMs;
    std::vector<double> keyMs;
    std::vector<double> stringMs;
    int missed = 0;
    const auto click = [&](ReferenceTone& tone, int program, int note,
                           std::vector<double>& latenciesMs) {
        for (int i = 0; i < 300 && !watch.Silent(); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        const std::int64_t sentNs = NowNs();
        tone.SoundNote(program, note);
        const std::int64_t onsetNs = watch.NextOnset();
        if (onsetNs == 0) {
            ++missed;
        } else {
            latenciesMs.push_back(static_cast<double>(onsetNs - sentNs) / 1e6);
        }
    };
    for (int run = 0; run < 10; ++run) {
        FluidSynthOptions options;
        options.soundFont = soundFont;
        FluidSynthOutput synth(options);
        ReferenceTone tone(synth);
        const auto open = Clock::now();
        tone.OpenMidiOutput();
        synth.WaitUntilLoaded();
        loadMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - open).count());
        std::this_thread::sleep_for(300ms);
        click(tone, 0, 69, keyMs);
        std::this_thread::sleep_for(700ms);
        synth.Send(midi::NoteOff(69));
        click(tone, 25, 40, stringMs);
        std::this_thread::sleep_for(300ms);
        tone.CloseMidiOutput();
    }
    const std::string name = std::filesystem::path(soundFont).filename().string();
    for (auto* latencies : {&loadMs, &keyMs, &stringMs}) {
        std::sort(latencies->begin(), latencies->end());
    }
    if (keyMs.empty() || stringMs.empty()) {
        std::printf("first clicks with %s: no onset heard\n", name.c_str());
        return;
    }
    std::printf(
        "first click with %s, La 4 key / low Mi string: median %5.1f / %5.1f ms, max %5.1f / "
        "%5.1f (%zu starts, %d unheard); loaded and stream up %.0f ms after opening (median)\n",
        name.c_str(), keyMs[keyMs.size() / 2], stringMs[stringMs.size() / 2], keyMs.back(),
        stringMs.back(), keyMs.size(), missed, loadMs[loadMs.size() / 2]);
    std::fflush(stdout);
}

// Starts program ten times under the X server of DISPLAY and prints the time
// from fork to the first window mapped on the root window. The program is
// ended with SIGTERM each time, as a session ends it. With soundFont, the
// program loads that file in place of the default SoundFont.
int StartUp(const char* program, const char* soundFont) {
    const std::string what = soundFont == nullptr
                                 ? std::string()
                                 : " with " + std::filesystem::path(soundFont).filename().string();
    if (soundFont != nullptr) {
        const pid_t probe = fork();
        if (probe == 0) {
            _exit(SeeAsDefaultSoundFont(soundFont) ? 0 : 1);
        }
        int status = 1;
        waitpid(probe, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::printf("start-up%s: not measured, it cannot stand in for %s (root only)\n",
                        what.c_str(), kDefaultSoundFont);
            return 0;
        }
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x) != 0) {
        std::fprintf(stderr, "harmolune-sound-bench: no X server for --startup\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(x, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x);
    std::vector<double> timesMs;
    for (int run = 0; run < 10; ++run) {
        const auto start = Clock::now();
        const pid_t pid = Spawn({program, nullptr}, soundFont);
        bool mapped = false;
        while (!mapped) {
            pollfd readable{xcb_get_file_descriptor(x), POLLIN, 0};
            if (poll(&readable, 1, 5000) <= 0) {
                break;
            }
            while (xcb_generic_event_t* event = xcb_poll_for_event(x)) {
                mapped = mapped || (event->response_type & 0x7F) == XCB_MAP_NOTIFY;
                std::free(event);
            }
        }
        if (mapped) {
            timesMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::this_thread::sleep_for(300ms);
        End(pid);
    }
    xcb_disconnect(x);
    if (timesMs.empty()) {
        std::printf("start-up%s: the window never showed\n", what.c_str());
        return 1;
    }
    std::sort(timesMs.begin(), timesMs.end());
    std::printf(
        "start-up%s, exec to window shown: median %.0f ms, min %.0f, max %.0f (%zu starts)\n",
        what.c_str(), timesMs[timesMs.size() / 2], timesMs.front(), timesMs.back(), timesMs.size());
    return 0;
}

}  // namespace
}  // namespace harmolune

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--startup") {
        return harmolune::StartUp(argv[2], argc == 4 ? argv[3] : nullptr);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // --cpu: the CPU figures alone; --latency: click to sound alone;
    // --held-note: the held note under load alone.
    const std::string only = argc == 2 ? argv[1] : "";
    if (only == "--cpu") {
        harmolune::WindowCpu();
        return 0;
    }
    if (argc == 3 && std::string(argv[1]) == "--first-clicks") {
        harmolune::FirstClicks(argv[2]);
        return 0;
    }
    if (only == "--held-note") {
        harmolune::HeldNoteUnderLoad();
        return 0;
    }
    if (only == "--latency") {
        harmolune::ClickToSound("idle:", 1);
        harmolune::ClickToSound("idle, 50 ms:", 50);
        return 0;
    }
    if (!harmolune::CaptureToAnalysis()) {
        return 1;
    }
    harmolune::ClickToSound("idle:", 1);
    harmolune::ClickToSound("idle, 50 ms:", 50);
    {
        const harmolune::BusyLoops load;
        harmolune::ClickToSound("two busy loops:", 1);
    }
    harmolune::HeldNoteUnderLoad();
    harmolune::WindowCpu();
    return 0;
}
