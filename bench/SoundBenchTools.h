#pragma once
// What the sound benchmark measures with: the scheduler's count of a
// process's and its threads' CPU time, starting and ending the programs it
// times, busy loops, a short event loop, and a watch on the sink's monitor
// for a note's first sample. Included by SoundBench.cpp only.

#include <fcntl.h>
#include <poll.h>
#include <pulse/simple.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sound/fluidsynth/FluidSynthOutput.h"

namespace harmolune::soundbench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr auto kRun = std::chrono::seconds(10);

// Time on a CPU, in seconds, from the scheduler's own count in nanoseconds
// (schedstat): the clock ticks of getrusage and /proc/PID/stat are 10 ms
// apart, a tenth of what parec uses in 10 s. With it, how many times the
// thread was put on a CPU: its wake-ups, near enough.
struct Use {
    double seconds = 0;
    double runs = 0;
};

inline Use UseIn(const std::filesystem::path& schedstat) {
    std::ifstream in(schedstat);
    double ns = 0;
    double waitedNs = 0;
    Use use;
    in >> ns >> waitedNs >> use.runs;
    use.seconds = ns / 1e9;
    return use;
}

// Every thread of a process, by thread name; the main thread, the window's in
// this program, is "window".
inline std::map<std::string, Use> UseByThread(const std::string& pid) {
    std::map<std::string, Use> uses;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + pid + "/task", error)) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        if (task.path().filename() == pid) {
            name = "window";
        }
        const Use use = UseIn(task.path() / "schedstat");
        uses[name].seconds += use.seconds;
        uses[name].runs += use.runs;
    }
    return uses;
}

inline double CpuSecondsOf(const std::string& pid) {
    double total = 0;
    for (const auto& [name, use] : UseByThread(pid)) {
        total += use.seconds;
    }
    return total;
}

inline std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Makes file seen at the default SoundFont's path by this process and its
// children alone, in a mount namespace of their own. Root only.
inline bool SeeAsDefaultSoundFont(const char* file) {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(file, kDefaultSoundFont, nullptr, MS_BIND, nullptr) == 0;
}

// Runs argv with its output thrown away; with soundFont, the program finds
// that file as the default SoundFont.
inline pid_t Spawn(const std::vector<const char*>& argv, const char* soundFont = nullptr) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (soundFont != nullptr && !SeeAsDefaultSoundFont(soundFont)) {
            _exit(126);
        }
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execvp(argv[0], const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    return pid;
}

inline void End(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// Two processes that keep both cores busy while they live.
class BusyLoops {
  public:
    BusyLoops() {
        for (pid_t& pid : pids_) {
            pid = Spawn({"sh", "-c", "while :; do :; done", nullptr});
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) {
            End(pid);
        }
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

  private:
    pid_t pids_[2]{};
};

// Runs the event loop for ms milliseconds as the program's own would run it.
// (QTest::qWait wakes every 10 ms, which would be counted as the window's.)
inline void RunEventLoop(int ms) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
}

// Reads the default source (the sink's monitor) in pieces of pieceMs and keeps
// the time of the first sample above the threshold after each arming. Pieces
// of 1 ms hold the server's sink and graph to a period of about 1 ms, which
// no desktop has: the note is heard sooner than it would be. Longer pieces
// leave the period to the program under test, and the onset's time is taken
// back by the latency the server reports for the piece.
class OnsetWatch {
  public:
    explicit OnsetWatch(int pieceMs) : piece_(static_cast<std::size_t>(pieceMs) * kRate / 1000) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, 1};
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(piece_ * sizeof(float));
        int error = 0;
        stream_ = pa_simple_new(nullptr, "harmolune-sound-bench", PA_STREAM_RECORD, nullptr,
                                "onsets", &format, nullptr, &attr, &error);
        if (stream_ != nullptr) {
            reader_ = std::thread([this] { Read(); });
        }
    }
    ~OnsetWatch() {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        if (stream_ != nullptr) {
            pa_simple_free(stream_);
        }
    }
    OnsetWatch(const OnsetWatch&) = delete;
    OnsetWatch& operator=(const OnsetWatch&) = delete;

    bool Ok() const { return stream_ != nullptr; }

    // Waits up to 2 s for sound after now; the onset in steady-clock ns, or 0.
    std::int64_t NextOnset() {
        onsetNs_ = 0;
        armed_ = true;
        for (int i = 0; i < 2000 && onsetNs_ == 0; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        armed_ = false;
        return onsetNs_;
    }

    // True once the monitor has been silent for the last 100 ms.
    bool Silent() const { return quietFrames_ >= kRate / 10; }

  private:
    static constexpr std::size_t kRate = 48000;
    static constexpr float kThreshold = 0.005F;

    void Read() {
        std::vector<float> piece(piece_);
        int error = 0;
        while (!stop_) {
            if (pa_simple_read(stream_, piece.data(), piece.size() * sizeof(float), &error) < 0) {
                return;
            }
            const std::int64_t now = NowNs();
            std::size_t first = piece_;
            for (std::size_t i = 0; i < piece_; ++i) {
                if (std::fabs(piece[i]) > kThreshold) {
                    first = i;
                    break;
                }
            }
            quietFrames_ = first == piece_ ? quietFrames_ + piece_ : 0;
            if (armed_ && onsetNs_ == 0 && first < piece_) {
                std::int64_t afterOnsetNs =
                    static_cast<std::int64_t>(piece_ - first) * 1000000000 / kRate;
                if (piece_ > kRate / 1000) {
                    const pa_usec_t latencyUs = pa_simple_get_latency(stream_, &error);
                    afterOnsetNs += static_cast<std::int64_t>(latencyUs) * 1000;
                }
                onsetNs_ = now - afterOnsetNs;
            }
        }
    }

    const std::size_t piece_;
    pa_simple* stream_ = nullptr;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> armed_{false};
    std::atomic<std::int64_t> onsetNs_{0};
    std::atomic<std::size_t> quietFrames_{0};
};

}  // namespace harmolune::soundbench
