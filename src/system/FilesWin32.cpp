#include "system/Files.h"
#include "system/Win32.h"

#include <algorithm>
#include <filesystem>

std::size_t PathLengthLimit() {
    return 32767; // the longest path the wide calls take
}

namespace {
HANDLE OpenForReading(const std::string& path, DWORD flags) {
    // Others may keep reading and writing it meanwhile, as on any other platform.
    return ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         flags, nullptr);
}
} // namespace

FileRead ReadRegularFile(const std::string& path, uint64_t refuseAbove, std::size_t readAtMost) {
    FileRead r;
    // FILE_FLAG_BACKUP_SEMANTICS opens a folder too, so that it is told apart from a missing file.
    const HANDLE h = OpenForReading(path, FILE_FLAG_BACKUP_SEMANTICS);
    if (h == INVALID_HANDLE_VALUE) {
        r.error = LastErrno();
        return r;
    }
    auto done = [&](FileRead::Status status, int error = 0) {
        ::CloseHandle(h);
        r.status = status;
        r.error = error;
        if (status != FileRead::Ok) r.data.clear();
        return r;
    };
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info)) return done(FileRead::StatFailed, LastErrno());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return done(FileRead::Folder);
    if (::GetFileType(h) != FILE_TYPE_DISK) return done(FileRead::NotRegular);
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > refuseAbove) return done(FileRead::TooLarge);
    r.data.resize(std::min<uint64_t>(size + 1, readAtMost));
    std::size_t got = 0;
    while (got < readAtMost) {
        if (got == r.data.size()) r.data.resize(std::min(readAtMost, r.data.size() * 2 + 65536));
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(r.data.size() - got, 1u << 30));
        if (!::ReadFile(h, r.data.data() + got, want, &n, nullptr))
            return done(FileRead::ReadFailed, LastErrno());
        if (n == 0) break;
        got += n;
    }
    r.data.resize(got);
    return done(FileRead::Ok);
}

PathStatus StatPath(const std::string& path) {
    PathStatus p;
    WIN32_FILE_ATTRIBUTE_DATA a{};
    p.exists = ::GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &a) != 0;
    if (p.exists)
        p.size = (uint64_t{a.nFileSizeHigh} << 32) | a.nFileSizeLow;
    else
        p.error = LastErrno();
    return p;
}

bool PathExists(const std::string& path, int* err) {
    const PathStatus p = StatPath(path);
    if (!p.exists && err) *err = p.error;
    return p.exists;
}

bool IsRegularFile(const std::string& path) {
    const DWORD a = ::GetFileAttributesW(WideFromUtf8(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool IsOnNetworkFileSystem(const std::string&) {
    return false; // the Windows console program keeps no history
}

bool FileCreationTime(const std::string& path, std::time_t* when) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    if (!::GetFileAttributesExW(WideFromUtf8(path).c_str(), GetFileExInfoStandard, &a)) return false;
    // 100 ns steps since 1601-01-01; the Unix epoch is 11644473600 s later.
    const uint64_t ticks = (uint64_t{a.ftCreationTime.dwHighDateTime} << 32) | a.ftCreationTime.dwLowDateTime;
    *when = static_cast<std::time_t>(ticks / 10000000ull) - static_cast<std::time_t>(11644473600ll);
    return true;
}

// Nothing here needs it yet (no by-id folder); mingw's standard library reports reading a link as
// unsupported, which comes back as the error.
std::string LinkTarget(const std::string& path, int* err) {
    std::error_code ec;
    const std::filesystem::path link(WideFromUtf8(path));
    const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
    if (ec) {
        const bool win32 = ec.category() == std::system_category();
        if (err) *err = win32 ? ErrnoFromWin32(static_cast<DWORD>(ec.value())) : ec.value();
        return "";
    }
    const std::wstring resolved = (link.parent_path() / target).lexically_normal().wstring();
    return Utf8FromWide(resolved.c_str(), static_cast<int>(resolved.size()));
}

LogHandle OpenLogFile(const std::string& path, int* err) {
    const std::wstring wide = WideFromUtf8(path);
    // A link at the place is removed (not what it points to) and our own file is made.
    const DWORD a = ::GetFileAttributesW(wide.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) ::DeleteFileW(wide.c_str());
    const HANDLE h =
        ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *err = LastErrno();
        return -1;
    }
    return reinterpret_cast<LogHandle>(h);
}

int AppendLogFile(LogHandle h, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(left, 1u << 30));
        if (!::WriteFile(HandleOf(h), p, want, &n, nullptr)) return LastErrno();
        if (n == 0) return ENOSPC;
        p += n;
        left -= n;
    }
    return 0;
}

void CloseLogFile(LogHandle h) {
    if (h != -1) ::CloseHandle(HandleOf(h));
}
