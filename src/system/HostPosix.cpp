#include "system/Host.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <pwd.h>
#include <unistd.h>
#include <vector>

std::string SystemErrorText(int err) {
    char buf[256];
    // The GNU strerror_r returns the text, which may or may not live in buf.
    return strerror_r(err, buf, sizeof buf);
}

std::string ProgramFolder() {
    std::vector<char> buf(PATH_MAX + 1);
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) break;
        if (errno != ERANGE || buf.size() > 1u << 20) return {};
        buf.resize(buf.size() * 2);
    }
    std::string folder(buf.data());
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string CurrentUserName() {
    const uid_t uid = ::getuid();
    std::vector<char> buf(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buf.data(), buf.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return std::to_string(uid);
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
}

bool LocalTime(std::time_t when, std::tm* local) {
    return ::localtime_r(&when, local) != nullptr;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessRuns(long pid) {
    // EPERM: it runs, under another user.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
