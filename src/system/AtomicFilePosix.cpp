#include "system/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "system/Host.h"

namespace {
// A name for the temporary file that no other writer (another thread or program saving the same
// file) picks at the same moment; O_EXCL settles the rare collision.
std::string TempSuffix(unsigned attempt) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    uint64_t x = (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(ts.tv_nsec) ^
                 (static_cast<uint64_t>(ts.tv_sec) << 30) ^ (attempt * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    static const char digits[] = "0123456789abcdef";
    std::string s = ".";
    for (int i = 0; i < 12; ++i, x >>= 4)
        s += digits[x & 15];
    return s + ".tmp";
}

// The temporary file lies beside the target and is named after it, unless that name would be too
// long for the file system: then a short hidden name in the same folder does.
std::string TempName(const std::string& target, unsigned attempt) {
    const std::string suffix = TempSuffix(attempt);
    const size_t slash = target.rfind('/');
    const size_t nameLength = slash == std::string::npos ? target.size() : target.size() - slash - 1;
    if (nameLength + suffix.size() <= NAME_MAX) return target + suffix;
    return target.substr(0, slash == std::string::npos ? 0 : slash + 1) + ".qln" + suffix;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

AtomicWrite WriteFileAtomic(const std::string& path, const void* data, size_t size) {
    AtomicWrite result;
    result.target = path;
    if (path.empty()) {
        result.error = ENOENT;
        return result;
    }
    // Renaming over a symbolic link would replace the link itself and leave the file it points to
    // (a file shared with other installations, say) unchanged.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            result.target = real;
            std::free(real);
        }
    }
    const std::string& target = result.target;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    auto failed = [&](int err) {
        result.error = err;
        return result;
    };
    // Rename only needs a writable folder; a file the user made read-only stays as it is.
    if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return failed(errno);

    std::string tmp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = TempName(target, attempt);
        // 0666 lets the umask decide for a new file, as for any other file the user creates.
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failed(errno);
    auto discard = [&](int err) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmp.c_str());
        return failed(err);
    };
    if (exists && S_ISREG(st.st_mode)) {
        // The group first: changing it may clear the set-group-id bit that the mode then restores.
        // Only the owner (or root) may give the file its group; anyone else's copy keeps theirs.
        (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
        (void)::fchmod(fd, st.st_mode & 07777);
    }
    const auto* p = static_cast<const uint8_t*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return discard(n < 0 ? errno : ENOSPC);
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return discard(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0) return discard(errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        result.replacing = true;
        return discard(errno);
    }
    // Make the rename itself durable. The new file is in place already, so a failure here is not
    // worth reporting.
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    result.ok = true;
    return result;
}
