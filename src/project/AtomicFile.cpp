#include "project/AtomicFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
} // namespace

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* reason) {
    std::string tempName = path + ".tmp-XXXXXX";
    const int fd = ::mkstemp(tempName.data());
    auto fail = [&](int e) {
        if (reason) *reason = std::strerror(e);
        return false;
    };
    if (fd < 0) return fail(errno);
    const bool written =
        WriteAll(fd, static_cast<const uint8_t*>(data), size) && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    const int writeErrno = errno;
    if (::close(fd) != 0 && written) {
        const int e = errno;
        ::unlink(tempName.c_str());
        return fail(e);
    }
    if (!written) {
        ::unlink(tempName.c_str());
        return fail(writeErrno);
    }
    if (::rename(tempName.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tempName.c_str());
        return fail(e);
    }
    // The rename is on the disk only once the folder is.
    const int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
