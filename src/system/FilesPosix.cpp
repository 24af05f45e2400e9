#include "system/Files.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

std::size_t PathLengthLimit() {
    return PATH_MAX;
}

FileRead ReadRegularFile(const std::string& path, uint64_t refuseAbove, std::size_t readAtMost) {
    FileRead r;
    // O_NONBLOCK keeps a FIFO put in the file's place from hanging the program at open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        r.error = errno;
        return r;
    }
    auto done = [&](FileRead::Status status, int error = 0) {
        ::close(fd);
        r.status = status;
        r.error = error;
        if (status != FileRead::Ok) r.data.clear();
        return r;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0) return done(FileRead::StatFailed, errno);
    if (S_ISDIR(st.st_mode)) return done(FileRead::Folder);
    if (!S_ISREG(st.st_mode)) return done(FileRead::NotRegular);
    if (static_cast<uint64_t>(st.st_size) > refuseAbove) return done(FileRead::TooLarge);
    // The size from fstat is only a hint: the file may grow or shrink while it is read.
    r.data.resize(std::min<uint64_t>(static_cast<uint64_t>(st.st_size) + 1, readAtMost));
    std::size_t got = 0;
    while (got < readAtMost) {
        if (got == r.data.size()) r.data.resize(std::min(readAtMost, r.data.size() * 2 + 65536));
        const ssize_t n = ::read(fd, r.data.data() + got, r.data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done(FileRead::ReadFailed, errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    r.data.resize(got);
    return done(FileRead::Ok);
}

PathStatus StatPath(const std::string& path) {
    struct stat st {};
    PathStatus p;
    p.exists = ::stat(path.c_str(), &st) == 0;
    if (p.exists)
        p.size = static_cast<uint64_t>(st.st_size);
    else
        p.error = errno;
    return p;
}

bool PathExists(const std::string& path, int* err) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    if (err) *err = errno;
    return false;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsOnNetworkFileSystem(const std::string& path) {
    // The file system types' magic numbers as statfs(2) gives them.
    constexpr unsigned long kNetwork[] = {0x6969 /* NFS */, 0x517B /* SMB */, 0xFF534D42 /* CIFS */,
                                          0xFE534D42 /* SMB2 */};
    struct statfs fs {};
    std::string at = path;
    if (::statfs(at.c_str(), &fs) != 0) {
        const size_t slash = path.find_last_of('/');
        at = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        if (::statfs(at.c_str(), &fs) != 0) return false;
    }
    for (unsigned long magic : kNetwork)
        if (static_cast<unsigned long>(fs.f_type) == magic) return true;
    return false;
}

bool FileCreationTime(const std::string& path, std::time_t* when) {
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BTIME | STATX_MTIME, &stx) == 0) {
        if (stx.stx_mask & STATX_BTIME)
            *when = static_cast<std::time_t>(stx.stx_btime.tv_sec);
        else
            *when = static_cast<std::time_t>(stx.stx_mtime.tv_sec);
        return true;
    }
    if (errno != ENOSYS && errno != EPERM) return false;
    // statx is refused (an old kernel, or a sandbox that filters it): fall back to stat.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    *when = st.st_mtime;
    return true;
}

std::string LinkTarget(const std::string& path, int* err) {
    char target[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n < 0 || n == static_cast<ssize_t>(sizeof target)) {
        if (err) *err = n < 0 ? errno : ENAMETOOLONG;
        return "";
    }
    // An absolute target replaces the folder; a relative one ("../../ttyUSB0") continues from it.
    const std::string written(target, static_cast<std::size_t>(n));
    return (std::filesystem::path(path).parent_path() / written).lexically_normal().string();
}

LogHandle OpenLogFile(const std::string& path, int* err) {
    const int flags = O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0 && errno == ELOOP) {
        // A link: remove the link itself (not what it points to) and create our own file. O_EXCL
        // makes sure nobody slipped a new link in between.
        if (::unlink(path.c_str()) == 0) fd = ::open(path.c_str(), flags | O_EXCL, 0644);
    }
    if (fd < 0) *err = errno;
    return fd;
}

int AppendLogFile(LogHandle h, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(static_cast<int>(h), p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : ENOSPC;
        p += n;
        left -= static_cast<size_t>(n);
    }
    return 0;
}

void CloseLogFile(LogHandle h) {
    if (h >= 0) ::close(static_cast<int>(h));
}
