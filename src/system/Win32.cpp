#include "system/Win32.h"

#include <cerrno>

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Utf8FromWide(const wchar_t* text, int length) {
    if (!text || length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), n, nullptr, nullptr);
    if (length < 0 && !utf8.empty() && utf8.back() == '\0') utf8.pop_back();
    return utf8;
}

namespace {
struct ErrorPair {
    DWORD win32;
    int posix;
};
constexpr ErrorPair kErrors[] = {
    {ERROR_FILE_NOT_FOUND, ENOENT},
    {ERROR_PATH_NOT_FOUND, ENOENT},
    {ERROR_INVALID_DRIVE, ENOENT},
    {ERROR_BAD_NETPATH, ENOENT},
    {ERROR_BAD_PATHNAME, ENOENT},
    {ERROR_INVALID_NAME, ENOENT},
    {ERROR_ACCESS_DENIED, EACCES},
    {ERROR_WRITE_PROTECT, EROFS},
    {ERROR_SHARING_VIOLATION, EBUSY},
    {ERROR_LOCK_VIOLATION, EBUSY},
    {ERROR_BUSY, EBUSY},
    {ERROR_FILE_EXISTS, EEXIST},
    {ERROR_ALREADY_EXISTS, EEXIST},
    {ERROR_DISK_FULL, ENOSPC},
    {ERROR_HANDLE_DISK_FULL, ENOSPC},
    {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
    {ERROR_OUTOFMEMORY, ENOMEM},
    {ERROR_INVALID_HANDLE, EBADF},
    {ERROR_INVALID_PARAMETER, EINVAL},
    {ERROR_NOT_SUPPORTED, ENOTSUP},
    {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
    {ERROR_DIRECTORY, ENOTDIR},
    {ERROR_DEVICE_NOT_CONNECTED, ENODEV},
    {ERROR_DEV_NOT_EXIST, ENODEV},
    {ERROR_GEN_FAILURE, EIO},
    {ERROR_OPERATION_ABORTED, EINTR},
    {ERROR_IO_PENDING, EAGAIN},
    {ERROR_NO_DATA, EAGAIN},
    {ERROR_BROKEN_PIPE, EIO},
    {ERROR_SEM_TIMEOUT, ETIMEDOUT},
    {ERROR_NOT_READY, EAGAIN},
    {ERROR_DIR_NOT_EMPTY, ENOTEMPTY},
};
} // namespace

int ErrnoFromWin32(DWORD error) {
    for (const ErrorPair& e : kErrors)
        if (e.win32 == error) return e.posix;
    return EIO;
}

int LastErrno() {
    return ErrnoFromWin32(::GetLastError());
}
