#include "settings/Settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>

#include "core/Notes.h"
#include "core/Numbers.h"

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

// A French sentence for the user, then the system's own words on a line of
// their own.
std::string SaveError(const std::string& path, int error) {
    return "L'octave n'a pas pu être enregistrée dans « " + path + " » :\n" + std::strerror(error);
}

// The file a link at path finally names; path itself when it is no link.
// Links in the folders above are followed by the system as usual. A chain
// longer than the system would follow gives ELOOP.
bool ResolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return true;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) == target.size()) {
            if (n >= 0) {
                errno = n == 0 ? ENOENT : ENAMETOOLONG;
            }
            return false;
        }
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : Join(ParentOf(path), target);
    }
    errno = ELOOP;
    return false;
}

// Writes all of data to fd from where it stands. Returns 0 or errno.
int WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : EIO;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Through a temporary file in the same folder renamed over path, so that a
// crash leaves either the old file or the new one. Returns 0 or errno.
int ReplaceFile(const std::string& path, const std::string& data) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return errno;
    }
    // mkstemp makes the file private; a settings file is as readable as any.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);

    int failure = WriteAll(fd, data);
    if (failure == 0 && fsync(fd) != 0) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && rename(temp.c_str(), path.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(temp.c_str());
    }
    return failure;
}

// Into the file itself, for a folder where no other file can be made: the
// line is short and written in one call, so a crash is unlikely to catch it
// halfway. The old bytes are cut off only once the new ones are written, so
// that a write refused at once (a full disk, a size limit) leaves the file
// as it was. Returns 0 or errno.
int RewriteInPlace(const std::string& path, const std::string& data) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int failure = WriteAll(fd, data);
    if (failure == 0 && ftruncate(fd, static_cast<off_t>(data.size())) != 0) {
        failure = errno;
    }
    if (failure == 0 && fsync(fd) != 0) {
        failure = errno;
    }
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    return failure;
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
            std::replace(error.begin(), error.end(), '\n', ' ');
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
    // A link is written through: its target gets the new octave, the link stays.
    std::string file = path;
    if (!ResolveLinks(file)) {
        error = SaveError(path, errno);
        return false;
    }
    if (!MakeFolders(ParentOf(file))) {
        error = SaveError(path, errno);
        return false;
    }
    const std::string line = std::to_string(octave) + "\r\n";
    int failure = ReplaceFile(file, line);
    // A folder we may not write to can still hold a file we may write to, as
    // after an install that left the file writable for everyone.
    if (failure == EACCES || failure == EPERM || failure == EROFS) {
        const int inPlace = RewriteInPlace(file, line);
        failure = inPlace == ENOENT ? failure : inPlace;
    }
    if (failure != 0) {
        error = SaveError(path, failure);
        return false;
    }
    return true;
}

}  // namespace harmolune
