#include "system/Host.h"
#include "system/Win32.h"

#include <cstring>
#include <io.h>
#include <vector>

std::string SystemErrorText(int err) {
    char buf[256] = {};
    if (::strerror_s(buf, sizeof buf, err) != 0) return "error " + std::to_string(err);
    return buf;
}

std::string ProgramFolder() {
    // The folder the program was started in, as on every platform (the working folder).
    std::vector<wchar_t> buf(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buf.size()), buf.data());
        if (n == 0) return {};
        if (n < buf.size()) break;
        buf.resize(n + 1);
    }
    std::string folder = Utf8FromWide(buf.data());
    // "C:\" keeps its backslash: without it the name means the drive's current folder.
    if (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

std::string CurrentUserName() {
    wchar_t name[257] = {};
    DWORD size = 257;
    if (!::GetUserNameW(name, &size)) return "";
    return Utf8FromWide(name);
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!::GetComputerNameW(name, &size)) return "";
    return Utf8FromWide(name);
}

bool LocalTime(std::time_t when, std::tm* local) {
    return ::localtime_s(local, &when) == 0;
}

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

long CurrentProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessRuns(long pid) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process) return false;
    const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return runs;
}
