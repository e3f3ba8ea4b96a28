// The octave file on real files in a temporary folder: what a first line
// gives, creation on first start, the save's exact bytes, the fallback
// folder, links, and files that are empty, huge, unreadable or unwritable.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

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

// What a failed save says: a French sentence naming the file, then the
// system's own words for error on a line of their own.
std::string FrenchSaveError(const std::string& path, int error) {
    return "L'octave n'a pas pu être enregistrée dans « " + path + " » :\n" + std::strerror(error);
}

TEST(Settings, FailedSaveExplainsItselfInFrench) {
    TempDir dir;
    WriteFile(dir.File("plain-file"), "x");
    // A folder cannot be made under a regular file, not even by root.
    const std::string path = dir.File("plain-file") + "/Harmolune.ini";
    std::string error;
    EXPECT_FALSE(SaveOctave(path, 4, error));
    EXPECT_EQ(error, FrenchSaveError(path, ENOTDIR));
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

// The names in a folder, sorted.
std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs fn in a child process, so that it may change what the test process
// must keep (its user, its limits, its signals), and gives back what fn
// returned: empty when all went well, what went wrong otherwise. The text
// comes back through a pipe; a child that dies says how.
std::string InAChild(const std::function<std::string()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) {
        return std::string("pipe: ") + std::strerror(errno);
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        const std::string failure = fn();
        std::size_t done = 0;
        while (done < failure.size()) {
            const ssize_t n = write(fds[1], failure.data() + done, failure.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        _exit(failure.empty() ? 0 : 1);
    }
    close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n = 0; (n = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        return text + " (the child could not be started or waited for)";
    }
    if (!WIFEXITED(status)) {
        return text + " (the child died of signal " + std::to_string(WTERMSIG(status)) + ")";
    }
    if (WEXITSTATUS(status) != 0 && text.empty()) {
        return "the child exited with status " + std::to_string(WEXITSTATUS(status));
    }
    return text;
}

constexpr uid_t kNobody = 65534;

// Runs fn in a child as a user without root's rights, who may not write into
// a folder of mode 0555 nor read a file of mode 0000: nobody, with no
// supplementary group, when the tests run as root, as CI does; the user the
// tests run as otherwise.
std::string AsAnOrdinaryUser(const std::function<std::string()>& fn) {
    return InAChild([&fn]() -> std::string {
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
            return std::string("could not become nobody: ") + std::strerror(errno);
        }
        if (geteuid() == 0) {
            return "still root";
        }
        return fn();
    });
}

// Lets the ordinary user of AsAnOrdinaryUser write into dir, which a test
// running as root made.
void GiveToTheOrdinaryUser(const fs::path& dir) {
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.c_str(), kNobody, kNobody), 0) << std::strerror(errno);
    }
}

// Where the folder cannot be written, no temporary file can be made beside
// the file; a file that can be written is then rewritten in place.
TEST(Settings, AWritableFileInAReadOnlyFolderIsRewrittenInPlace) {
    TempDir dir;
    WriteFile(dir.File(), "2\r\n");
    const ino_t before = Inode(dir.File());
    chmod(dir.File().c_str(), 0666);
    chmod(dir.Path().c_str(), 0555);
    const std::string failure = AsAnOrdinaryUser([&]() -> std::string {
        std::string error;
        return SaveOctave(dir.File(), 7, error) ? "" : error;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(ReadFile(dir.File()), "7\r\n");
    EXPECT_EQ(Inode(dir.File()), before);
    EXPECT_EQ(LoadOctave(dir.File()).octave, 7);
}

TEST(Settings, AReadOnlyFileInAReadOnlyFolderFailsInFrenchThenTheSystemsWords) {
    TempDir dir;
    WriteFile(dir.File(), "2\r\n");
    chmod(dir.File().c_str(), 0444);
    chmod(dir.Path().c_str(), 0555);
    const std::string failure = AsAnOrdinaryUser([&]() -> std::string {
        std::string error;
        if (SaveOctave(dir.File(), 7, error)) {
            return "the save said it succeeded";
        }
        // The second line is strerror's, in whatever language it speaks.
        const std::string expected = FrenchSaveError(dir.File(), EACCES);
        return error == expected ? "" : "said:\n" + error + "\ninstead of:\n" + expected;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(ReadFile(dir.File()), "2\r\n");
}

// A folder of the executable that its user cannot write to, as after an
// install: a file there is used only when that user can read it, otherwise
// the file goes to the config folder. Run as root, the folder would be
// writable and the case would never be reached.
struct ReadOnlyFolderCase {
    const char* name;
    int fileMode;  // -1: no file at all
    bool beside;   // the file beside the executable, else the config folder's
};

void PrintTo(const ReadOnlyFolderCase& c, std::ostream* os) { *os << c.name; }

class ReadOnlyFolder : public ::testing::TestWithParam<ReadOnlyFolderCase> {};

TEST_P(ReadOnlyFolder, KeepsTheFileBesideOnlyWhenItCanBeRead) {
    const ReadOnlyFolderCase& c = GetParam();
    TempDir dir;
    if (c.fileMode >= 0) {
        WriteFile(dir.File(), "7\r\n");
        chmod(dir.File().c_str(), static_cast<mode_t>(c.fileMode));
    }
    chmod(dir.Path().c_str(), 0555);
    const std::string expected = c.beside ? dir.File() : "/xdg/harmolune/Harmolune.ini";
    const std::string failure = AsAnOrdinaryUser([&]() -> std::string {
        if (access(dir.Path().c_str(), W_OK) == 0) {
            return "the folder is writable: the case is not what it means to be";
        }
        const std::string path = SettingsPath(dir.Path().string(), "/xdg", "/home/u");
        return path == expected ? "" : "chose " + path + " instead of " + expected;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ReadOnlyFolder,
    ::testing::Values(ReadOnlyFolderCase{"AReadableFileIsUsedThere", 0644, true},
                      ReadOnlyFolderCase{"AnUnreadableFileIsNot", 0, false},
                      ReadOnlyFolderCase{"WithoutAFileTheConfigFolderIsUsed", -1, false}),
    [](const ::testing::TestParamInfo<ReadOnlyFolderCase>& info) {
        return std::string(info.param.name);
    });

// A file that cannot be read or makes no sense gives octave 3 and one line
// for stderr, the same whoever runs the program. %P stands for the file's
// path, %E for the system's words for errorCode.
struct BadFileCase {
    const char* name;
    enum { kEmptyFile, kUnreadableFile, kFolder } what;
    mode_t folderMode;
    const char* note;
    int errorCode;
};

void PrintTo(const BadFileCase& c, std::ostream* os) { *os << c.name; }

class BadFile : public ::testing::TestWithParam<BadFileCase> {};

std::string Filled(std::string text, const std::string& path, int errorCode) {
    for (std::size_t at = 0; (at = text.find('%', at)) != std::string::npos;) {
        const std::string with = text[at + 1] == 'P' ? path : std::strerror(errorCode);
        text.replace(at, 2, with);
        at += with.size();
    }
    return text;
}

TEST_P(BadFile, StartsInThreeAndSaysWhyInOneFrenchLine) {
    const BadFileCase& c = GetParam();
    TempDir dir;
    GiveToTheOrdinaryUser(dir.Path());
    switch (c.what) {
        case BadFileCase::kEmptyFile:
            WriteFile(dir.File(), "");
            break;
        case BadFileCase::kUnreadableFile:
            WriteFile(dir.File(), "7\r\n");
            chmod(dir.File().c_str(), 0);
            break;
        case BadFileCase::kFolder:
            fs::create_directory(dir.File());
            break;
    }
    chmod(dir.Path().c_str(), c.folderMode);
    const std::string expected = Filled(c.note, dir.File(), c.errorCode);
    const std::string failure = AsAnOrdinaryUser([&]() -> std::string {
        const LoadedOctave loaded = LoadOctave(dir.File());
        if (loaded.octave != 3) {
            return "octave " + std::to_string(loaded.octave);
        }
        return loaded.note == expected ? ""
                                       : "said:\n" + loaded.note + "\ninstead of:\n" + expected;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BadFile,
    ::testing::Values(BadFileCase{"ZeroBytes", BadFileCase::kEmptyFile, 0755,
                                  "%P est vide ; octave 3 par défaut.", 0},
                      BadFileCase{"Unreadable", BadFileCase::kUnreadableFile, 0755,
                                  "%P : %E ; octave 3 par défaut.", EACCES},
                      // Neither read nor replaced: both reasons, on the same line.
                      BadFileCase{"UnreadableInAReadOnlyFolder", BadFileCase::kUnreadableFile, 0555,
                                  "%P : %E ; octave 3 par défaut. "
                                  "L'octave n'a pas pu être enregistrée dans « %P » : %E",
                                  EACCES},
                      BadFileCase{"AFolderInPlaceOfTheFile", BadFileCase::kFolder, 0755,
                                  "%P : %E ; octave 3 par défaut. "
                                  "L'octave n'a pas pu être enregistrée dans « %P » : %E",
                                  EISDIR}),
    [](const ::testing::TestParamInfo<BadFileCase>& info) { return std::string(info.param.name); });

// A save that cannot write its bytes, as on a full disk: in a child whose
// files may not grow past zero bytes, write() fails with EFBIG (SIGXFSZ,
// which would kill it, is ignored). The old file must stay as it was, and
// nothing be left beside it.
struct FailedWriteCase {
    const char* name;
    mode_t folderMode;
    mode_t fileMode;
};

void PrintTo(const FailedWriteCase& c, std::ostream* os) { *os << c.name; }

class FailedWrite : public ::testing::TestWithParam<FailedWriteCase> {};

TEST_P(FailedWrite, KeepsTheOldBytesAndSaysSoInFrench) {
    const FailedWriteCase& c = GetParam();
    TempDir dir;
    GiveToTheOrdinaryUser(dir.Path());
    const std::string old = "5\r\nkept as it was\r\n";
    WriteFile(dir.File(), old);
    chmod(dir.File().c_str(), c.fileMode);
    chmod(dir.Path().c_str(), c.folderMode);
    const std::string failure = AsAnOrdinaryUser([&]() -> std::string {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit before = limit;
        limit.rlim_cur = 0;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return std::string("setrlimit: ") + std::strerror(errno);
        }
        std::string error;
        const bool saved = SaveOctave(dir.File(), 7, error);
        setrlimit(RLIMIT_FSIZE, &before);
        if (saved) {
            return "the save said it succeeded";
        }
        const std::string expected = FrenchSaveError(dir.File(), EFBIG);
        return error == expected ? "" : "said:\n" + error + "\ninstead of:\n" + expected;
    });
    chmod(dir.Path().c_str(), 0755);
    EXPECT_EQ(failure, "");
    EXPECT_EQ(ReadFile(dir.File()), old);
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"Harmolune.ini"});
}

INSTANTIATE_TEST_SUITE_P(Settings, FailedWrite,
                         ::testing::Values(FailedWriteCase{"ThroughATemporaryFile", 0755, 0644},
                                           FailedWriteCase{"InPlaceInAReadOnlyFolder", 0555, 0666}),
                         [](const ::testing::TestParamInfo<FailedWriteCase>& info) {
                             return std::string(info.param.name);
                         });

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
