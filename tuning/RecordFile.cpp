#include "tuning/RecordFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace harmolune::tuning {

namespace {

std::string ParentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// mkdir -p; 0 when dir exists as a folder afterwards.
int MakeFolders(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    }
    const std::string parent = ParentOf(dir);
    if (parent != dir) {
        if (const int failure = MakeFolders(parent); failure != 0) {
            return failure;
        }
    }
    return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST ? 0 : errno;
}

// The file a link at path finally names; path itself when it is no link.
int ResolveLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return 0;
        }
        std::string target(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) == target.size()) {
            return n < 0 ? errno : n == 0 ? ENOENT : ENAMETOOLONG;
        }
        target.resize(static_cast<std::size_t>(n));
        if (target.front() == '/') {
            path = target;
        } else {
            std::string joined = ParentOf(path);
            joined += '/';
            joined += target;
            path = joined;
        }
    }
    return ELOOP;
}

int WriteAndSync(int fd, const std::string& data) {
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
    return fsync(fd) == 0 ? 0 : errno;
}

}  // namespace

int ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string& bytes) {
    bytes.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return EISDIR;
    }
    char buffer[65536];
    int failure = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failure = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
            failure = EFBIG;
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return failure;
}

int ReplaceFileAtomically(const std::string& path, const std::string& data, bool makeFolders) {
    std::string file = path;
    if (const int failure = ResolveLinks(file); failure != 0) {
        return failure;
    }
    if (makeFolders) {
        if (const int failure = MakeFolders(ParentOf(file)); failure != 0) {
            return failure;
        }
    }
    std::string temp = file + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        return errno;
    }
    // mkstemp makes the file private; the record is as readable as any file
    // the user makes.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    int failure = WriteAndSync(fd, data);
    if (close(fd) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && rename(temp.c_str(), file.c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        unlink(temp.c_str());
    }
    return failure;
}

int MoveAside(const std::string& path, const std::string& aside, std::string& used) {
    for (int n = 1; n < 1000; ++n) {
        used = n == 1 ? aside : aside + "." + std::to_string(n);
        // link() never replaces a file that is there; rename() would.
        if (link(path.c_str(), used.c_str()) == 0) {
            if (unlink(path.c_str()) != 0) {
                const int failure = errno;
                unlink(used.c_str());
                return failure;
            }
            return 0;
        }
        if (errno == EEXIST) {
            continue;
        }
        // A file system without hard links: rename, once nothing is there.
        if (errno == EPERM || errno == EXDEV || errno == EOPNOTSUPP || errno == EMLINK) {
            struct stat st {};
            if (lstat(used.c_str(), &st) == 0) {
                continue;
            }
            return rename(path.c_str(), used.c_str()) == 0 ? 0 : errno;
        }
        return errno;
    }
    return EEXIST;
}

}  // namespace harmolune::tuning
