// The synthesiser holds in memory only the samples of the two instruments the
// tone plays. What FluidSynth reads of the SoundFont is counted through a
// loader of the test's own; which samples belong to the piano and to the
// guitar is read from the SoundFont file itself, by the SoundFont 2 format's
// own tables (presets, instruments, sample headers), without FluidSynth.
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Block.h"
#include "core/Notes.h"
#include "sound/ReferenceTone.h"
#include "sound/fluidsynth/FluidSynthOutput.h"
#include "testing/TestSoundFont.h"

namespace harmolune {
namespace {

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value =
            (value << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    }
    return value;
}

std::uint16_t Le16(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                      (static_cast<unsigned char>(bytes.at(at + 1)) << 8));
}

struct SampleRange {
    std::uint64_t firstByte;  // in the file
    std::uint64_t endByte;    // one past the last
};

// The tables of a SoundFont 2 file, as offsets into its bytes.
struct SoundFontTables {
    std::string bytes;
    std::size_t smpl = 0;  // the sample data, 16-bit words
    std::uint64_t smplBytes = 0;
    std::size_t phdr = 0, pbag = 0, pgen = 0, inst = 0, ibag = 0, igen = 0;
    std::size_t presets = 0;           // preset headers, the closing one included
    std::vector<SampleRange> samples;  // by sample header index
};

// Reads the chunks from begin to end into t, and those of the lists among them.
void ReadChunks(SoundFontTables& t, std::size_t begin, std::size_t end) {
    for (std::size_t at = begin; at + 8 <= end;) {
        const std::string id = t.bytes.substr(at, 4);
        const std::uint32_t size = Le32(t.bytes, at + 4);
        const std::size_t data = at + 8;
        if (id == "LIST") {
            ReadChunks(t, data + 4, data + size);
        } else if (id == "smpl") {
            t.smpl = data;
            t.smplBytes = size;
        } else if (id == "phdr") {
            t.phdr = data;
            t.presets = size / 38;
        } else if (id == "pbag") {
            t.pbag = data;
        } else if (id == "pgen") {
            t.pgen = data;
        } else if (id == "inst") {
            t.inst = data;
        } else if (id == "ibag") {
            t.ibag = data;
        } else if (id == "igen") {
            t.igen = data;
        } else if (id == "shdr") {
            // The sample data comes before the headers (sdta before pdta). The
            // last header (EOS) only closes the list.
            for (std::size_t h = 0; h + 1 < size / 46; ++h) {
                const std::size_t header = data + h * 46;
                t.samples.push_back({t.smpl + 2 * std::uint64_t{Le32(t.bytes, header + 20)},
                                     t.smpl + 2 * std::uint64_t{Le32(t.bytes, header + 24)}});
            }
        }
        at = data + size + (size & 1);
    }
}

SoundFontTables ReadSoundFont(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    SoundFontTables t;
    t.bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (t.bytes.size() < 12 || t.bytes.compare(0, 4, "RIFF") != 0 ||
        t.bytes.compare(8, 4, "sfbk") != 0) {
        throw std::runtime_error(path + " is not a SoundFont 2 file");
    }
    ReadChunks(t, 12, t.bytes.size());
    return t;
}

// The generator amounts of operator op in the generators [first, end) of a
// generator table.
std::vector<std::uint16_t> Amounts(const SoundFontTables& t, std::size_t table, std::size_t first,
                                   std::size_t end, std::uint16_t op) {
    std::vector<std::uint16_t> amounts;
    for (std::size_t g = first; g < end; ++g) {
        if (Le16(t.bytes, table + 4 * g) == op) {
            amounts.push_back(Le16(t.bytes, table + 4 * g + 2));
        }
    }
    return amounts;
}

constexpr std::uint16_t kInstrumentGenerator = 41;
constexpr std::uint16_t kSampleIdGenerator = 53;

// The sample header indices that the preset of bank and program plays: its
// zones' instruments, and their zones' samples. Empty when there is no such
// preset.
std::set<unsigned> SamplesOfPreset(const SoundFontTables& t, int bank, int program) {
    std::set<unsigned> samples;
    for (std::size_t p = 0; p + 1 < t.presets; ++p) {
        const std::size_t header = t.phdr + p * 38;
        if (Le16(t.bytes, header + 20) != program || Le16(t.bytes, header + 22) != bank) {
            continue;
        }
        const std::size_t firstBag = Le16(t.bytes, header + 24);
        const std::size_t endBag = Le16(t.bytes, header + 38 + 24);
        for (std::size_t b = firstBag; b < endBag; ++b) {
            for (const std::size_t i :
                 Amounts(t, t.pgen, Le16(t.bytes, t.pbag + 4 * b),
                         Le16(t.bytes, t.pbag + 4 * b + 4), kInstrumentGenerator)) {
                const std::size_t firstIbag = Le16(t.bytes, t.inst + 22 * i + 20);
                const std::size_t endIbag = Le16(t.bytes, t.inst + 22 * (i + 1) + 20);
                for (std::size_t z = firstIbag; z < endIbag; ++z) {
                    for (const std::uint16_t s :
                         Amounts(t, t.igen, Le16(t.bytes, t.ibag + 4 * z),
                                 Le16(t.bytes, t.ibag + 4 * z + 4), kSampleIdGenerator)) {
                        samples.insert(s);
                    }
                }
            }
        }
    }
    return samples;
}

// A byte range of the SoundFont file that FluidSynth read, through the
// file callbacks of CountingLoader.
struct ByteRange {
    std::uint64_t first;
    std::uint64_t end;
};

std::mutex readsMutex;
std::vector<ByteRange> reads;

std::vector<ByteRange> TakeReads() {
    const std::lock_guard<std::mutex> lock(readsMutex);
    return std::exchange(reads, {});
}

void* OpenFile(const char* path) { return std::fopen(path, "rb"); }

int ReadFile(void* buffer, fluid_long_long_t count, void* file) {
    auto* f = static_cast<std::FILE*>(file);
    const long long at = ftello(f);
    if (std::fread(buffer, static_cast<std::size_t>(count), 1, f) != 1) {
        return FLUID_FAILED;
    }
    const std::lock_guard<std::mutex> lock(readsMutex);
    reads.push_back({static_cast<std::uint64_t>(at), static_cast<std::uint64_t>(at + count)});
    return FLUID_OK;
}

int SeekFile(void* file, fluid_long_long_t offset, int origin) {
    return fseeko(static_cast<std::FILE*>(file), offset, origin) == 0 ? FLUID_OK : FLUID_FAILED;
}

fluid_long_long_t TellFile(void* file) { return ftello(static_cast<std::FILE*>(file)); }

int CloseFile(void* file) {
    return std::fclose(static_cast<std::FILE*>(file)) == 0 ? FLUID_OK : FLUID_FAILED;
}

fluid_sfloader_t* CountingLoader(fluid_settings_t* settings) {
    fluid_sfloader_t* loader = new_fluid_defsfloader(settings);
    fluid_sfloader_set_callbacks(loader, OpenFile, ReadFile, SeekFile, TellFile, CloseFile);
    return loader;
}

// The samples read whole. (FluidSynth also reads the 46 words that follow a
// sample, which the format asks to be zero; in a SoundFont that packs its
// samples closer, they are the start of the next one.)
std::set<unsigned> SamplesRead(const SoundFontTables& t, const std::vector<ByteRange>& ranges) {
    std::set<unsigned> read;
    for (unsigned s = 0; s < t.samples.size(); ++s) {
        const SampleRange& sample = t.samples[s];
        for (const ByteRange& r : ranges) {
            if (r.first <= sample.firstByte && sample.endByte <= r.end) {
                read.insert(s);
                break;
            }
        }
    }
    return read;
}

// Bytes read of the sample data, whichever sample they belong to.
std::uint64_t SampleBytesRead(const SoundFontTables& t, const std::vector<ByteRange>& ranges) {
    std::uint64_t bytes = 0;
    for (const ByteRange& r : ranges) {
        const std::uint64_t first = std::max<std::uint64_t>(r.first, t.smpl);
        const std::uint64_t end = std::min<std::uint64_t>(r.end, t.smpl + t.smplBytes);
        bytes += end > first ? end - first : 0;
    }
    return bytes;
}

FluidSynthOptions Counted(const std::string& soundFont) {
    FluidSynthOptions options;
    options.soundFont = soundFont;
    options.audioOutput = false;
    options.sampleRateHz = kSampleRate;
    options.soundFontLoader = CountingLoader;
    return options;
}

int PeakOfBlock(FluidSynthOutput& synth) {
    std::vector<std::int16_t> stereo(std::size_t{2} * kFrameLength);
    synth.Render(stereo.data(), kFrameLength);
    int peak = 0;
    for (const std::int16_t s : stereo) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

class SampleLoading : public ::testing::TestWithParam<std::string> {};

// At start-up the loading thread reads the piano's and the guitar's samples,
// and only those; the clicks that follow, on both instruments and back, read
// nothing more.
TEST_P(SampleLoading, OnlyThePianoAndTheGuitarAreReadAndBeforeTheFirstClick) {
    const std::string& path = GetParam();
    if (!std::filesystem::exists(path)) {
        GTEST_SKIP() << path << " is not installed";
    }
    const SoundFontTables tables = ReadSoundFont(path);
    std::set<unsigned> expected = SamplesOfPreset(tables, 0, kPianoProgram);
    const std::set<unsigned> guitar = SamplesOfPreset(tables, 0, kGuitarProgram);
    ASSERT_FALSE(expected.empty());
    ASSERT_FALSE(guitar.empty());
    expected.insert(guitar.begin(), guitar.end());
    ASSERT_LT(expected.size(), tables.samples.size());

    TakeReads();
    FluidSynthOutput synth(Counted(path));
    ReferenceTone tone(synth);
    tone.OpenMidiOutput();
    ASSERT_TRUE(synth.WaitUntilLoaded());
    const std::vector<ByteRange> atStart = TakeReads();
    EXPECT_EQ(SamplesRead(tables, atStart), expected);
    // Nothing else: the bytes of those samples, and 46 words after each.
    constexpr std::uint64_t kWordsAfter = 46;
    std::uint64_t expectedBytes = 0;
    for (const unsigned s : expected) {
        expectedBytes += tables.samples[s].endByte - tables.samples[s].firstByte + 2 * kWordsAfter;
    }
    EXPECT_LE(SampleBytesRead(tables, atStart), expectedBytes);
    std::printf("%s: %.1f of %.1f MiB of samples read\n", path.c_str(),
                static_cast<double>(SampleBytesRead(tables, atStart)) / 1048576.0,
                static_cast<double>(tables.smplBytes) / 1048576.0);

    for (const auto& [program, note] : {std::pair{kPianoProgram, 69}, std::pair{kGuitarProgram, 40},
                                        std::pair{kPianoProgram, 48}}) {
        tone.SoundNote(program, note);
        EXPECT_GT(PeakOfBlock(synth), 100) << "program " << program << " note " << note;
    }
    EXPECT_EQ(SampleBytesRead(tables, TakeReads()), 0U) << "samples read at a click";
    tone.CloseMidiOutput();
}

// Two seconds of the synthesiser's output after the messages, as 16-bit
// stereo.
std::vector<std::int16_t> Sound(FluidSynthOutput& synth,
                                const std::vector<std::uint32_t>& messages) {
    synth.Open();
    for (const std::uint32_t m : messages) {
        synth.Send(m);
    }
    std::vector<std::int16_t> stereo(std::size_t{2} * 2 * kSampleRate);
    synth.Render(stereo.data(), 2 * kSampleRate);
    synth.Close();
    return stereo;
}

// TimGM6mb with its guitar moved to bank 99: a General MIDI SoundFont that
// lacks program 25 in bank 0.
std::string WithoutTheGuitar(const std::filesystem::path& folder) {
    SoundFontTables tables = ReadSoundFont(kTestSoundFont);
    bool moved = false;
    for (std::size_t p = 0; p + 1 < tables.presets; ++p) {
        const std::size_t header = tables.phdr + p * 38;
        if (Le16(tables.bytes, header + 20) == kGuitarProgram &&
            Le16(tables.bytes, header + 22) == 0) {
            tables.bytes[header + 22] = 99;
            moved = true;
        }
    }
    EXPECT_TRUE(moved);
    std::string path = (folder / "no-guitar.sf2").string();
    std::ofstream(path, std::ios::binary) << tables.bytes;
    return path;
}

// FluidSynth falls back to the piano of bank 0 for a program the SoundFont
// lacks: a string then sounds as the piano does, with the piano's samples,
// which are already in, and nothing is said on stderr.
TEST(SampleLoadingFallback, AStringWithoutAGuitarSoundsAsThePianoWithNothingMoreRead) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("harmolune-sample-loading-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = WithoutTheGuitar(folder);
    const SoundFontTables tables = ReadSoundFont(path);
    ASSERT_TRUE(SamplesOfPreset(tables, 0, kGuitarProgram).empty());

    TakeReads();
    FluidSynthOutput synth(Counted(path));
    ::testing::internal::CaptureStderr();
    const auto string =
        Sound(synth, {midi::ProgramChange(kGuitarProgram), midi::kBankSelectLsb, midi::NoteOn(40)});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "a lacking program is no fault";
    EXPECT_EQ(SamplesRead(tables, TakeReads()), SamplesOfPreset(tables, 0, kPianoProgram));
    const auto piano =
        Sound(synth, {midi::ProgramChange(kPianoProgram), midi::kBankSelectLsb, midi::NoteOn(40)});
    TakeReads();
    EXPECT_EQ(string, piano);
    EXPECT_GT(*std::max_element(string.begin(), string.end()), 100);
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(SoundFonts, SampleLoading,
                         ::testing::Values(std::string(kTestSoundFont),
                                           std::string("/usr/share/sounds/sf2/FluidR3_GM.sf2")),
                         [](const auto& info) {
                             return std::filesystem::path(info.param).stem().string();
                         });

}  // namespace
}  // namespace harmolune
