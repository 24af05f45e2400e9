#include "system/AtomicFile.h"
#include "system/Host.h"
#include "system/Win32.h"

#include <cerrno>

namespace {
// A name for the temporary file beside the target that no other writer picks at the same
// moment; CREATE_NEW settles the rare collision.
std::string TempName(const std::string& target, unsigned attempt) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    uint64_t x = (uint64_t{::GetCurrentProcessId()} << 32) ^ static_cast<uint64_t>(now.QuadPart) ^
                 (attempt * 0x9E3779B97F4A7C15ull);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    static const char digits[] = "0123456789abcdef";
    std::string s = ".";
    for (int i = 0; i < 12; ++i, x >>= 4)
        s += digits[x & 15];
    return target + s + ".tmp";
}

bool WriteAll(HANDLE h, const void* data, size_t size, int* err) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(size < (1u << 30) ? size : (1u << 30));
        if (!::WriteFile(h, p, want, &n, nullptr)) {
            *err = LastErrno();
            return false;
        }
        if (n == 0) {
            *err = ENOSPC;
            return false;
        }
        p += n;
        size -= n;
    }
    return true;
}
} // namespace

AtomicWrite WriteFileAtomic(const std::string& path, const void* data, size_t size) {
    AtomicWrite result;
    result.target = path;
    auto failed = [&](int err) {
        result.error = err;
        return result;
    };
    if (path.empty()) return failed(ENOENT);
    const std::wstring target = WideFromUtf8(path);
    // A file the user made read-only stays as it is (the rename would replace it regardless).
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return failed(EACCES);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return failed(EISDIR);

    std::wstring tmp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        tmp = WideFromUtf8(TempName(path, attempt));
        h = ::CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (h == INVALID_HANDLE_VALUE) return failed(LastErrno());
    auto discard = [&](int err) {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
        ::DeleteFileW(tmp.c_str());
        return failed(err);
    };
    int err = 0;
    if (!WriteAll(h, data, size, &err)) return discard(err);
    if (!::FlushFileBuffers(h)) return discard(LastErrno());
    const BOOL closed = ::CloseHandle(h);
    h = INVALID_HANDLE_VALUE;
    if (!closed) return discard(LastErrno());
    if (!::MoveFileExW(tmp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        result.replacing = true;
        return discard(LastErrno());
    }
    result.ok = true;
    return result;
}
