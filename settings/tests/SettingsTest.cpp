// The octave file on real files in a temporary folder: what a first line
// gives, creation on first start, the save's exact bytes, the fallback
// folder, links, and files that are empty, huge, unreadable or unwritable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "settings/Settings.h"
#include "testing/Files.h"

namespace harmolune {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct FileCase {
    const char* name;
    std::string bytes;
    int octave;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class LoadFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(LoadFile, GivesTheOctaveOfItsFirstLine) {
    const FileCase& c = GetParam();
    TempDir dir;
    WriteFile(dir.File(), c.bytes);
    EXPECT_EQ(LoadOctave(dir.File()).octave, c.octave);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, LoadFile,
    ::testing::Values(
        FileCase{"Seven", "7\r\n", 7}, FileCase{"MinusOne", "-1\r\n", -1},
        FileCase{"Letters", "abc\r\n", 0}, FileCase{"EmptyFirstLine", "\r\n9\r\n", 0},
        FileCase{"HalfGoesDownToEven", "2.5\r\n", 2}, FileCase{"HalfGoesUpToEven", "3.5\r\n", 4},
        FileCase{"BlankBeforeDigit", " 5\r\n", 5}, FileCase{"DigitThenWord", "4 octaves\r\n", 4},
        FileCase{"OnlyTheFirstLine", "6\r\n2\r\n1\r\n", 6}, FileCase{"NoLineEnd", "8", 8},
        // A line feed alone does not end the line: it is skipped
        // like a blank, so "1\n2" reads 12, clamped to 8.
        FileCase{"LineFeedInsideTheLine", "1\n2\r\n", 8},
        FileCase{"AboveEightClampsToEight", "12\r\n", 8},
        FileCase{"BelowMinusOneClampsToMinusOne", "-5\r\n", -1},
        FileCase{"BeyondSixteenBitsClamps", "70000\r\n", 8},
        FileCase{"HugeExponentClamps", "1e999\r\n", 8},
        FileCase{"HugeNegativeClamps", "-1e999\r\n", -1}, FileCase{"ZeroByteFileIsDefault", "", 3},
        // Only the first 4096 bytes are looked at: blanks fill
        // them, so the digit after them is never seen.
        FileCase{"PastFourKibIsNotRead", std::string(4096, ' ') + "7\r\n", 0},
        FileCase{"DigitWithinFourKib", std::string(4095, ' ') + "7\r\n", 7},
        FileCase{"MegabyteLine", "5" + std::string(1 << 20, 'x'), 5}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(Settings, FirstStartCreatesTheFileWithThree) {
    TempDir dir;
    const LoadedOctave loaded = LoadOctave(dir.File());
    EXPECT_EQ(loaded.octave, 3);
    EXPECT_EQ(loaded.note, "");
    EXPECT_EQ(ReadFile(dir.File()), "3\r\n");
}

TEST(Settings, ZeroByteFileStartsInThreeAndSaysSo) {
    TempDir dir;
    WriteFile(dir.File(), "");
    const LoadedOctave loaded = LoadOctave(dir.File());
    EXPECT_EQ(loaded.octave, 3);
    EXPECT_NE(loaded.note, "");
}

TEST(Settings, AFolderInPlaceOfTheFileStartsInThree) {
    TempDir dir;
    fs::create_directory(dir.File());
    const LoadedOctave loaded = LoadOctave(dir.File());
    EXPECT_EQ(loaded.octave, 3);
    EXPECT_NE(loaded.note, "");
}

struct SaveCase {
    int octave;
    const char* bytes;
};

void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.octave; }

class SaveFile : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveFile, WritesOneLineWithCrLf) {
    TempDir dir;
    WriteFile(dir.File(), "6\r\n2\r\nleft over\r\n");
    std::string error;
    const SaveCase& c = GetParam();
    ASSERT_TRUE(SaveOctave(dir.File(), c.octave, error)) << error;
    EXPECT_EQ(ReadFile(dir.File()), c.bytes);
    EXPECT_EQ(LoadOctave(dir.File()).octave, c.octave);
}

INSTANTIATE_TEST_SUITE_P(Settings, SaveFile,
                         ::testing::Values(SaveCase{-1, "-1\r\n"}, SaveCase{0, "0\r\n"},
                                           SaveCase{4, "4\r\n"}, SaveCase{8, "8\r\n"}));

TEST(Settings, SaveLeavesNoTemporaryFileBehind) {
    TempDir dir;
    std::string error;
    ASSERT_TRUE(SaveOctave(dir.File(), 5, error));
    ASSERT_TRUE(SaveOctave(dir.File(), 6, error));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(Settings, SaveReplacesTheFileRatherThanWritingIntoIt) {
    // A rename gives the path a new inode; writing in place would keep the
    // old one, and a crash halfway would leave a half-written file.
    TempDir dir;
    WriteFile(dir.File(), "2\r\n");
    struct stat before {};
    ASSERT_EQ(stat(dir.File().c_str(), &before), 0);
    std::string error;
    ASSERT_TRUE(SaveOctave(dir.File(), 7, error));
    struct stat after {};
    ASSERT_EQ(stat(dir.File().c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
}

TEST(Settings, SaveCreatesMissingFolders) {
    TempDir dir;
    const std::string path = (dir.Path() / "config/harmolune/Harmolune.ini").string();
    std::string error;
    ASSERT_TRUE(SaveOctave(path, 1, error)) << error;
    EXPECT_EQ(ReadFile(path), "1\r\n");
}

TEST(Settings, FailedSaveExplainsItselfInFrench) {
    TempDir dir;
    WriteFile(dir.File("plain-file"), "x");
    // A folder cannot be made under a regular file, not even by root.
    const std::string path = dir.File("plain-file") + "/Harmolune.ini";
    std::string error;
    EXPECT_FALSE(SaveOctave(path, 4, error));
    EXPECT_EQ(error.rfind("L'octave n'a pas pu être enregistrée dans « " + path + " » :\n", 0), 0U)
        << error;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

// Runs fn as a user without root's rights, who may not write into a folder of
// mode 0555: in a child that becomes nobody when the tests run as root, as
// they may, directly otherwise. Returns fn's result, or -1.
int AsAnOrdinaryUser(const std::function<int()>& fn) {
    if (geteuid() != 0) {
        return fn();
    }
    const pid_t child = fork();
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0) {
            _exit(100);
        }
        std::fflush(nullptr);
        _exit(fn());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Where the folder cannot be written, no temporary file can be made beside
// the file; a file that can be written is then rewritten in place.
TEST(Settings, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
    TempDir dir;
    WriteFile(dir.File(), "2\r\n");
    const ino_t before = Inode(dir.File());
    chmod(dir.File().c_str(), 0666);
    chmod(dir.Path().c_str(), 0555);
    const int saved = AsAnOrdinaryUser([&] {
        std::string error;
        if (!SaveOctave(dir.File(), 7, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        return 0;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(ReadFile(dir.File()), "7\r\n");
    EXPECT_EQ(Inode(dir.File()), before);
    EXPECT_EQ(LoadOctave(dir.File()).octave, 7);
}

TEST(Settings, AReadOnlyFileInAReadOnlyFolderFailsInFrenchThenTheSystemsWords) {
    TempDir dir;
    WriteFile(dir.File(), "2\r\n");
    chmod(dir.File().c_str(), 0444);
    chmod(dir.Path().c_str(), 0555);
    const std::string expectedFirstLine =
        "L'octave n'a pas pu être enregistrée dans « " + dir.File() + " » :\n";
    const int result = AsAnOrdinaryUser([&] {
        std::string error;
        if (SaveOctave(dir.File(), 7, error)) {
            return 1;
        }
        // The second line is strerror's, in whatever language it speaks.
        const bool twoLines = error.rfind(expectedFirstLine, 0) == 0 &&
                              error.size() > expectedFirstLine.size() &&
                              error.find('\n', expectedFirstLine.size()) == std::string::npos;
        if (!twoLines) {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
        return twoLines ? 0 : 2;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(dir.File()), "2\r\n");
}

// A Harmolune.ini that is a link, as a user makes to keep the file with the
// rest of their settings: the save goes to the file it names, and the link
// stays a link.
TEST(Settings, ALinkIsWrittenThroughToTheFileItNames) {
    TempDir dir;
    fs::create_directory(dir.Path() / "kept");
    const std::string target = dir.File("kept/Harmolune.ini");
    WriteFile(target, "2\r\n");
    fs::create_symlink("kept/Harmolune.ini", dir.File());
    EXPECT_EQ(LoadOctave(dir.File()).octave, 2);
    std::string error;
    ASSERT_TRUE(SaveOctave(dir.File(), 6, error)) << error;
    EXPECT_TRUE(fs::is_symlink(dir.File()));
    EXPECT_EQ(ReadFile(target), "6\r\n");
    EXPECT_EQ(LoadOctave(dir.File()).octave, 6);

    // A link whose file is gone: the first start creates the file it names.
    fs::remove(target);
    EXPECT_EQ(LoadOctave(dir.File()).octave, 3);
    EXPECT_TRUE(fs::is_symlink(dir.File()));
    EXPECT_EQ(ReadFile(target), "3\r\n");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.Path() / "kept")) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(Settings, LivesBesideTheExecutableWhenThatFolderIsWritable) {
    TempDir dir;
    EXPECT_EQ(SettingsPath(dir.Path().string(), "/xdg", "/home/u"), dir.File());
}

TEST(Settings, UsesAReadableFileBesideTheExecutableEvenInAReadOnlyFolder) {
    TempDir dir;
    WriteFile(dir.File(), "7\r\n");
    chmod(dir.Path().c_str(), 0555);
    EXPECT_EQ(SettingsPath(dir.Path().string(), "/xdg", "/home/u"), dir.File());
    chmod(dir.Path().c_str(), 0755);
}

// Where the package and `cmake --install` put the program. Root could write
// there, but an installed program keeps its file in the config folder of
// whoever runs it: run as root, as CI is, a rule that only asks whether the
// folder is writable would put it in /usr/bin.
TEST(Settings, AnInstalledProgramKeepsItsFileInTheConfigFolder) {
    for (const char* exeDir :
         {"/usr/bin", "/usr/local/bin", "/usr/games", "/opt/harmolune/bin", "/bin", "/sbin"}) {
        EXPECT_EQ(SettingsPath(exeDir, "/cfg", "/home/u"), "/cfg/harmolune/Harmolune.ini")
            << exeDir;
    }
}

TEST(Settings, ABuildFolderNamedLikeASystemOneKeepsTheFileBeside) {
    TempDir dir;
    for (const char* name : {"usr/bin", "opt", "usrlocal"}) {
        const fs::path exeDir = dir.Path() / name;
        fs::create_directories(exeDir);
        EXPECT_EQ(SettingsPath(exeDir.string(), "/cfg", "/home/u"),
                  (exeDir / "Harmolune.ini").string());
    }
}

struct FallbackCase {
    const char* name;
    const char* xdgConfigHome;
    const char* home;
    const char* expected;
};

void PrintTo(const FallbackCase& c, std::ostream* os) { *os << c.name; }

class Fallback : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(Fallback, GoesToTheConfigFolderWhenBesideTheExecutableIsImpossible) {
    // A folder that does not exist can be written by nobody, root included.
    TempDir dir;
    const std::string exeDir = (dir.Path() / "no-such-folder").string();
    const FallbackCase& c = GetParam();
    const std::string expected =
        *c.expected == '\0' ? exeDir + "/Harmolune.ini" : std::string(c.expected);
    EXPECT_EQ(SettingsPath(exeDir, c.xdgConfigHome, c.home), expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, Fallback,
                         ::testing::Values(FallbackCase{"XdgConfigHome", "/cfg", "/home/u",
                                                        "/cfg/harmolune/Harmolune.ini"},
                                           FallbackCase{"XdgWithSlash", "/cfg/", "/home/u",
                                                        "/cfg/harmolune/Harmolune.ini"},
                                           FallbackCase{"UnsetXdgUsesHomeConfig", "", "/home/u",
                                                        "/home/u/.config/harmolune/Harmolune.ini"},
                                           FallbackCase{"RelativeXdgIsIgnored", "cfg", "/home/u",
                                                        "/home/u/.config/harmolune/Harmolune.ini"},
                                           FallbackCase{"NoHomeStaysBesideTheExecutable", "", "",
                                                        ""}),
                         [](const ::testing::TestParamInfo<FallbackCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Settings, FallbackFolderIsCreatedAtFirstStartAndRoundTrips) {
    TempDir dir;
    const std::string exeDir = (dir.Path() / "no-such-folder").string();
    const std::string xdg = (dir.Path() / "xdg").string();
    const std::string path = SettingsPath(exeDir, xdg, "");
    ASSERT_EQ(path, xdg + "/harmolune/Harmolune.ini");
    EXPECT_EQ(LoadOctave(path).octave, 3);
    EXPECT_EQ(ReadFile(path), "3\r\n");
    std::string error;
    ASSERT_TRUE(SaveOctave(path, -1, error)) << error;
    EXPECT_EQ(LoadOctave(path).octave, -1);
}

}  // namespace
}  // namespace harmolune
