#include "app/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "reference/Notes.h"
#include "reference/Numbers.h"

namespace harmolune {

namespace {

std::string Join(std::string_view dir, std::string_view name) {
    std::string path(dir);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Opens path for reading when it is a regular file; -1 otherwise.
int OpenRegularFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

bool HasReadableFile(const std::string& path) {
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

// mkdir -p; true when dir exists as a folder afterwards.
bool MakeFolders(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return true;
        }
        errno = ENOTDIR;
        return false;
    }
    const std::string parent = ParentOf(dir);
    if (parent != dir && !MakeFolders(parent)) {
        return false;
    }
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

// Folders that hold installed programs: /usr (with /usr/local), /opt, and
// /bin and /sbin. Nothing is written there at run time, even by root, who
// could.
bool IsSystemProgramFolder(std::string_view dir) {
    for (const std::string_view root : {"/usr", "/opt", "/bin", "/sbin"}) {
        if (dir.starts_with(root) && (dir.size() == root.size() || dir[root.size()] == '/')) {
            return true;
        }
    }
    return false;
}

std::string SaveError(const std::string& path, int error) {
    return "L'octave n'a pas pu être enregistrée dans « " + path + " » : " + std::strerror(error) +
           ".";
}

}  // namespace

std::string SettingsPath(const std::string& exeDir, std::string_view xdgConfigHome,
                         std::string_view home) {
    std::string beside = Join(exeDir, kSettingsFileName);
    const bool installed = IsSystemProgramFolder(exeDir);
    if (!installed && (access(exeDir.c_str(), W_OK) == 0 || HasReadableFile(beside))) {
        return beside;
    }
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') {
        return Join(Join(xdgConfigHome, "harmolune"), kSettingsFileName);
    }
    if (!home.empty()) {
        return Join(Join(home, ".config/harmolune"), kSettingsFileName);
    }
    return beside;
}

int OctaveFromFirstLine(std::string_view text) {
    text = text.substr(0, kMaxSettingsLine);
    text = text.substr(0, text.find('\r'));
    const double octave = RoundToEven(ReadLeadingNumber(text));
    if (std::isnan(octave)) {
        return 0;
    }
    if (octave < kMinOctave) {
        return kMinOctave;
    }
    if (octave > kMaxOctave) {
        return kMaxOctave;
    }
    return static_cast<int>(octave);
}

LoadedOctave LoadOctave(const std::string& path) {
    LoadedOctave result;
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        // A first start is no news; anything else is worth a line.
        if (errno != ENOENT) {
            result.note = path + " : " + std::strerror(errno) + " ; octave " +
                          std::to_string(kDefaultOctave) + " par défaut.";
        }
        std::string error;
        if (!SaveOctave(path, kDefaultOctave, error)) {
            result.note += (result.note.empty() ? "" : " ") + error;
        }
        return result;
    }
    char buffer[kMaxSettingsLine];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t n = read(fd, buffer + size, sizeof buffer - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result.note = path + " : " + std::strerror(errno) + " ; octave " +
                          std::to_string(kDefaultOctave) + " par défaut.";
            close(fd);
            return result;
        }
        if (n == 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    close(fd);
    if (size == 0) {
        result.note =
            path + " est vide ; octave " + std::to_string(kDefaultOctave) + " par défaut.";
        return result;
    }
    result.octave = OctaveFromFirstLine(std::string_view(buffer, size));
    return result;
}

bool SaveOctave(const std::string& path, int octave, std::string& error) {
    const std::string dir = ParentOf(path);
    if (!MakeFolders(dir)) {
        error = SaveError(path, errno);
        return false;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = SaveError(path, errno);
        return false;
    }
    // mkstemp makes the file private; a settings file is as readable as any.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    const std::string line = std::to_string(octave) + "\r\n";
    bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    int failure = errno;
    if (ok && fsync(fd) != 0) {
        ok = false;
        failure = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        failure = errno;
    }
    if (!ok) {
        unlink(temp.c_str());
        error = SaveError(path, failure);
    }
    return ok;
}

}  // namespace harmolune
