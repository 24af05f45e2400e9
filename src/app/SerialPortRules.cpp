#include "app/SerialPortRules.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "link/SerialPort.h"

bool ApplySerialPortChoice(int selected, LinkState& link) {
    const int port = selected >= 0 && selected < 8 ? selected : link.PortIndex.load();
    const bool changed = port != link.PortIndex.load() || link.BaudIndex.load() != 0;
    link.PortIndex.store(port);
    link.BaudIndex.store(0);
    // Why the port could not be opened last time belongs to the port as it was.
    link.LastOpenErrno.store(0);
    return changed;
}

bool CancelNeedsConfirmation(int selected, const LinkState& link) {
    return selected >= 0 && selected < 8 && selected != link.PortIndex.load();
}

bool PortButtonsEnabled(uint32_t threadCmd) {
    return threadCmd == 0;
}

UserIds CurrentUser() {
    UserIds user;
    user.uid = ::geteuid();
    user.groups.push_back(::getegid());
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> more(static_cast<size_t>(count));
        const int got = ::getgroups(count, more.data());
        if (got > 0) user.groups.insert(user.groups.end(), more.begin(), more.begin() + got);
    }
    return user;
}

int DeviceOpenProblem(const std::string& device, const UserIds& user) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return errno;
    if (user.uid == 0) return 0;
    // The class that applies is the first that matches, as the kernel decides it.
    mode_t wanted = S_IROTH | S_IWOTH;
    if (st.st_uid == user.uid)
        wanted = S_IRUSR | S_IWUSR;
    else if (std::find(user.groups.begin(), user.groups.end(), st.st_gid) != user.groups.end())
        wanted = S_IRGRP | S_IWGRP;
    return (st.st_mode & wanted) == wanted ? 0 : EACCES;
}

std::string PortWarning(const TextSource& texts, int port, const std::string& device, const UserIds& user) {
    const int problem = DeviceOpenProblem(device, user);
    if (problem == 0) return "";
    return FillPlaceholders(texts.GetSilently(IDS_PORT_STORED_UNUSABLE), {"COM" + std::to_string(port + 1)}) +
           "\n\n" + PortOpenAdvice(problem, device);
}
