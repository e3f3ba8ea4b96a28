// Soak of the measuring cycle: a million blocks of tonal, silent, clipped and
// random sound, with clicks and note changes in between, through one
// MeasuringCycle and the tuning display's LiveTuner. Nothing may be allocated inside the loop
// (counted by the replaced global operator new below), the resident memory must not grow, the state
// must stay a whole count, and every measurement of a clean tone must end on that tone's frequency.
//
// HARMOLUNE_SOAK_BLOCKS sets the number of blocks (the sanitizer build uses
// fewer). The figures (blocks per second, memory) are printed, not asserted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <barrier>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/Notes.h"
#include "core/Numbers.h"
#include "measure/LiveTuner.h"
#include "measure/MeasuringCycle.h"

namespace {

// Allocations made by the calling thread so far.
thread_local long long threadAllocations = 0;

void* Allocate(std::size_t size) {
    ++threadAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    ++threadAllocations;
    const auto a = static_cast<std::size_t>(align);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

// Every form of the global allocation functions counts; the deallocation
// functions only give back what malloc gave.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return AllocateAligned(size, align);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace harmolune {
namespace {

constexpr double kPi = 3.14159265358979323846;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAddressSanitizer = true;
#else
constexpr bool kUnderAddressSanitizer = false;
#endif
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

// Resident memory in bytes, from /proc/self/statm.
long long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0;
    long long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

// A small, fast generator: the loop must not call anything that allocates.
class XorShift {
  public:
    explicit XorShift(std::uint32_t seed = 0x9E3779B9U) : state_(seed) {}
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

  private:
    std::uint32_t state_;
};

// A clean sine of frequencyHz whose largest |sample - 128| is about level.
Block Tone(double frequencyHz, int level, double phase) {
    Block block;
    for (int t = 0; t < kFrameLength; ++t) {
        block[t] = static_cast<std::uint8_t>(
            128 + std::lround(level * std::sin(2 * kPi * frequencyHz * t / kSampleRate + phase)));
    }
    return block;
}

// A tone driven far past full scale: a square wave with rounded edges.
Block Clipped(double frequencyHz) {
    Block block;
    for (int t = 0; t < kFrameLength; ++t) {
        const double v = 128 + 400 * std::sin(2 * kPi * frequencyHz * t / kSampleRate);
        block[t] = static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
    }
    return block;
}

// A note the soak measures: its reference text and frequency.
struct SoakNote {
    std::string referenceText;
    std::string separator;
    double frequencyHz = 0;
    std::array<Block, 4> accepted;  // levels 40, 55, 70, 85
    Block tooLoud;                  // level 110
    Block quiet;                    // level 12
};

// From E2 upwards, where a clean tone measures within a few cents; every
// other note with a decimal comma, which the cycle reads with that separator.
std::vector<SoakNote> MakeNotes() {
    std::vector<SoakNote> notes;
    int n = 0;
    for (int octave = 2; octave <= 7; ++octave) {
        for (int key = 0; key < 12; key += 5) {
            const std::string separator = n % 2 == 0 ? "." : ",";
            const NoteChoice choice = ChooseKey(key, octave, separator);
            if (choice.frequencyHz < 82.0) {
                continue;
            }
            SoakNote note;
            note.referenceText = choice.referenceText;
            note.separator = separator;
            note.frequencyHz = choice.frequencyHz;
            const double phase = 0.1 * n;
            const int levels[] = {40, 55, 70, 85};
            for (std::size_t i = 0; i < note.accepted.size(); ++i) {
                note.accepted[i] = Tone(note.frequencyHz, levels[i], phase + i);
            }
            note.tooLoud = Tone(note.frequencyHz, 110, phase);
            note.quiet = Tone(note.frequencyHz, 12, phase);
            notes.push_back(note);
            ++n;
        }
    }
    for (const int string : {4, 9, 14, 19, 23, 28}) {
        const NoteChoice choice = ChooseString(string, ".");
        SoakNote note;
        note.referenceText = choice.referenceText;
        note.separator = ".";
        note.frequencyHz = choice.frequencyHz;
        for (std::size_t i = 0; i < note.accepted.size(); ++i) {
            note.accepted[i] = Tone(note.frequencyHz, 45 + 12 * static_cast<int>(i), 0.7 * i);
        }
        note.tooLoud = Tone(note.frequencyHz, 120, 0.2);
        note.quiet = Tone(note.frequencyHz, 20, 0.4);
        notes.push_back(note);
    }
    return notes;
}

// Blocks that belong to no note: silence, offsets, noise, clipping.
std::vector<Block> MakeOtherBlocks() {
    std::vector<Block> blocks;
    Block block;
    for (const int value : {128, 0, 255, 127, 160}) {
        block.fill(static_cast<std::uint8_t>(value));
        blocks.push_back(block);
    }
    XorShift random;
    for (const int spread : {1, 16, 40, 90, 128}) {
        for (auto& s : block) {
            s = static_cast<std::uint8_t>(std::max(
                0, std::min(255, 128 - spread + static_cast<int>(random.Below(2 * spread + 1)))));
        }
        blocks.push_back(block);
    }
    for (const double hz : {50.0, 440.0, 1000.0, 3000.0}) {
        blocks.push_back(Clipped(hz));
    }
    return blocks;
}

// Reference texts the window never writes.
constexpr std::array<std::string_view, 5> kOddReferences{"abc", "-440Hz", "1e308Hz", "0.00Hz",
                                                         "261,63Hz"};

bool IsWholeState(double s) { return s == -1.0 || (s >= 0.0 && std::floor(s) == s); }

// "", "...Hz", or digits, the separator, two digits and " Hz".
bool IsLabelText(const std::string& label) {
    if (label.empty() || label == kPlaceholderText) {
        return true;
    }
    const std::size_t n = label.size();
    if (n < 7 || label.compare(n - 3, 3, " Hz") != 0 ||
        (label[n - 6] != '.' && label[n - 6] != ',')) {
        return false;
    }
    for (std::size_t i = 0; i < n - 3; ++i) {
        if (i != n - 6 && (label[i] < '0' || label[i] > '9')) {
            return false;
        }
    }
    return true;
}

// The number of a result text, read by hand: digits, separator, two digits.
double LabelNumber(const std::string& label) {
    double value = 0;
    for (const char c : label) {
        if (c == ' ') {
            break;
        }
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        }
    }
    return value / 100;
}

struct SoakCounts {
    long long ticks = 0;
    long long badStates = 0;
    long long badSums = 0;
    long long badLabels = 0;
    long long badLive = 0;       // a tuning display's reading that is not a number
    long long measurements = 0;  // clean-tone measurements run to the end
    long long wrongResults = 0;  // ... whose result is not the tone's frequency
    long long unfinished = 0;    // ... that showed no result
    double worstErrorHz = 0;
};

long long SoakBlocks() {
    if (const char* text = std::getenv("HARMOLUNE_SOAK_BLOCKS")) {
        return std::atoll(text);
    }
    return 1'000'000;
}

// One measuring cycle and the script that drives it, on one thread.
class Soaker {
  public:
    Soaker(const std::vector<SoakNote>& notes, const std::vector<Block>& others, std::uint32_t seed)
        : notes_(notes), others_(others), random_(seed) {
        // Room for any reference, so that following a new one does not allocate.
        liveReference_.reserve(32);
    }

    // Runs until `blocks` blocks have gone through the cycle.
    void Run(long long blocks) {
        while (counts_.ticks < blocks) {
            if (random_.Below(4) == 0) {
                Measure(AnyNote());
            } else {
                Chaos();
            }
        }
    }

    // Every note followed long enough, as a piano key and not, for the fine
    // measurement to use each window length it ever will and to write its
    // whole ring of blocks: the pages it brings in later are then none.
    void WarmUp() {
        for (const SoakNote& note : notes_) {
            for (const bool pianoKey : {false, true}) {
                cycle_.NoteChosen();
                cycle_.Arm(note.referenceText, std::nullopt, ".", pianoKey);
                // The tuning display struck once and following 40 blocks:
                // its whole ring and each window length it takes.
                livePiano_ = pianoKey;
                liveReference_.clear();
                Tick(note.quiet, note.referenceText, note.separator);
                for (int i = 0; i < 40; ++i) {
                    Tick(note.accepted[i % 4], note.referenceText, note.separator);
                }
                Tick(note.quiet, note.referenceText, note.separator);
            }
        }
    }

    // The lowest note (a reference of 0 Hz, or octave -1) as a piano key
    // takes the longest windows: the tuning display's are written once here.
    void WarmUpLongestWindows() {
        const SoakNote& note = notes_.front();
        for (const bool pianoKey : {false, true}) {
            livePiano_ = pianoKey;
            liveReference_.clear();
            Tick(note.quiet, "0.00Hz", ".");
            for (int i = 0; i < 48; ++i) {
                Tick(note.accepted[i % 4], "0.00Hz", ".");
            }
            Tick(note.quiet, note.referenceText, note.separator);
        }
    }

    void ClearCounts() { counts_ = SoakCounts{}; }
    const SoakCounts& Counts() const { return counts_; }

  private:
    const SoakNote& AnyNote() {
        return notes_[random_.Below(static_cast<std::uint32_t>(notes_.size()))];
    }

    void Tick(const Block& block, std::string_view reference, std::string_view separator) {
        // The tuning display follows the same note on every block, as the
        // window's does.
        if (reference != liveReference_) {
            liveReference_.assign(reference);
            const double note = MidiNoteOf(ReadLeadingNumber(reference, separator));
            live_.Choose(std::isfinite(note)
                             ? static_cast<int>(std::lround(std::clamp(note, 0.0, 127.0)))
                             : 0,
                         livePiano_);
            livePiano_ = !livePiano_;
        }
        live_.Push(block);
        counts_.badLive +=
            !live_.Reading() || std::isfinite(live_.Reading()->fine.frequencyHz) ? 0 : 1;
        cycle_.Tick(block, reference, separator);
        ++counts_.ticks;
        counts_.badStates += IsWholeState(cycle_.SamplingState()) ? 0 : 1;
        const double sum = cycle_.FrequencySum();
        counts_.badSums += std::isfinite(sum) && sum >= 0 ? 0 : 1;
        counts_.badLabels += IsLabelText(cycle_.MeasuredText()) ? 0 : 1;
    }

    // One measurement of a clean tone: choose, arm, an optional first block
    // too loud to count, two to six accepted blocks, a quiet one that ends it.
    void Measure(const SoakNote& note) {
        cycle_.NoteChosen();
        // Half the notes as piano keys, whose fine measurement also follows
        // the partials.
        cycle_.Arm(note.referenceText, std::nullopt, ".", random_.Below(2) == 0);
        if (random_.Below(3) == 0) {
            Tick(note.tooLoud, note.referenceText, note.separator);
        }
        const std::uint32_t accepted = 2 + random_.Below(5);
        for (std::uint32_t i = 0; i < accepted; ++i) {
            Tick(note.accepted[random_.Below(4)], note.referenceText, note.separator);
        }
        const bool openBeforeQuiet = cycle_.MeasuredText() == kPlaceholderText;
        Tick(note.quiet, note.referenceText, note.separator);
        ++counts_.measurements;
        if (!openBeforeQuiet || cycle_.SamplingState() != -1.0 ||
            cycle_.MeasuredText() == kPlaceholderText) {
            ++counts_.unfinished;
            return;
        }
        // A clean tone from E2 up measures within a few hundredths of a bin
        // (8 Hz); a wrong mean or a wrong bin is off by far more.
        const double error = std::fabs(LabelNumber(cycle_.MeasuredText()) - note.frequencyHz);
        counts_.worstErrorHz = std::fmax(counts_.worstErrorHz, error);
        counts_.wrongResults += error <= 0.5 ? 0 : 1;
    }

    // Anything at all: blocks of any kind under any reference, clicks and
    // note changes at random.
    void Chaos() {
        const SoakNote& note = AnyNote();
        std::string_view reference = note.referenceText;
        std::string_view separator = note.separator;
        switch (random_.Below(8)) {
            case 0:
                reference = kOddReferences[random_.Below(kOddReferences.size())];
                break;
            case 1:
                separator = separator == "." ? "," : ".";
                break;
            default:
                break;
        }
        switch (random_.Below(16)) {
            case 0:
                cycle_.Arm(reference, std::nullopt, ".", random_.Below(2) == 0);
                break;
            case 1:
                cycle_.NoteChosen();
                break;
            default:
                break;
        }
        switch (random_.Below(4)) {
            case 0:
                Tick(others_[random_.Below(static_cast<std::uint32_t>(others_.size()))], reference,
                     separator);
                break;
            case 1:
                Tick(note.quiet, reference, separator);
                break;
            case 2:
                Tick(note.tooLoud, reference, separator);
                break;
            default:
                Tick(note.accepted[random_.Below(4)], reference, separator);
                break;
        }
    }

    const std::vector<SoakNote>& notes_;
    const std::vector<Block>& others_;
    XorShift random_;
    MeasuringCycle cycle_;
    LiveTuner live_;
    std::string liveReference_;
    bool livePiano_ = false;
    SoakCounts counts_;
};

// The window runs one cycle; the soak runs one per core, each on its own
// thread, so that a million blocks take well under a minute and so that any
// state hidden in the core and shared between cycles would show.
TEST(Soak, AMillionBlocksWithoutAllocationGrowthOrBadState) {
    const std::vector<SoakNote> notes = MakeNotes();
    const std::vector<Block> others = MakeOtherBlocks();
    const long long total = SoakBlocks();
    constexpr int kThreads = 2;

    std::vector<std::unique_ptr<Soaker>> soakers;
    soakers.reserve(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        soakers.push_back(std::make_unique<Soaker>(notes, others, 0x9E3779B9U + 7919U * i));
    }
    std::barrier sync(kThreads);
    long long residentBefore = 0;
    long long residentAfter = 0;
    double seconds = 0;
    std::array<long long, kThreads> allocated{};

    const auto work = [&](int i) {
        Soaker& soaker = *soakers[i];
        // Warm up: every page the cycle touches is touched once first. The
        // fine measurement computes each window length's Hann window, and
        // writes the far end of its ring, only when a note first needs them.
        soaker.WarmUp();
        soaker.WarmUpLongestWindows();
        soaker.Run(200);
        soaker.ClearCounts();
        sync.arrive_and_wait();
        if (i == 0) {
            residentBefore = ResidentBytes();
        }
        sync.arrive_and_wait();
        const auto start = std::chrono::steady_clock::now();
        const long long before = threadAllocations;
        soaker.Run(total / kThreads);
        allocated[i] = threadAllocations - before;
        sync.arrive_and_wait();
        if (i == 0) {
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            residentAfter = ResidentBytes();
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < kThreads; ++i) {
        threads.emplace_back(work, i);
    }
    work(0);
    for (std::thread& t : threads) {
        t.join();
    }

    SoakCounts sum;
    for (const auto& soaker : soakers) {
        const SoakCounts& c = soaker->Counts();
        sum.ticks += c.ticks;
        sum.badStates += c.badStates;
        sum.badSums += c.badSums;
        sum.badLabels += c.badLabels;
        sum.badLive += c.badLive;
        sum.measurements += c.measurements;
        sum.wrongResults += c.wrongResults;
        sum.unfinished += c.unfinished;
        sum.worstErrorHz = std::fmax(sum.worstErrorHz, c.worstErrorHz);
    }
    std::printf(
        "soak: %lld blocks on %d threads in %.1f s, %.0f blocks per second; resident memory "
        "%.2f MiB before, %.2f MiB after; %lld allocations; %lld measurements, worst %.3f Hz "
        "off\n",
        sum.ticks, kThreads, seconds, sum.ticks / seconds, residentBefore / 1048576.0,
        residentAfter / 1048576.0, allocated[0] + allocated[1], sum.measurements, sum.worstErrorHz);

    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(allocated[i], 0) << "thread " << i;
    }
    // The resident memory may move by a few pages (the allocator's and the
    // output's bookkeeping), not by anything that grows per block. Under
    // AddressSanitizer it grows with the sanitizer's own shadow and fake
    // stacks, so there only the allocation count tells.
    if (!kUnderAddressSanitizer) {
        EXPECT_LT(residentAfter - residentBefore, 512 * 1024);
    }
    EXPECT_EQ(sum.badStates, 0);
    EXPECT_EQ(sum.badSums, 0);
    EXPECT_EQ(sum.badLabels, 0);
    EXPECT_EQ(sum.badLive, 0);
    EXPECT_GT(sum.measurements, total / 40);
    EXPECT_EQ(sum.unfinished, 0);
    EXPECT_EQ(sum.wrongResults, 0);
}

}  // namespace
}  // namespace harmolune
