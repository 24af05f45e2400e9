#include "system/DeviceAccess.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<DeviceOwner> DeviceOwnerOf(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return std::nullopt;
    const struct group* g = ::getgrgid(st.st_gid);
    return DeviceOwner{st.st_mode, g ? g->gr_name : std::to_string(st.st_gid), st.st_gid == 0};
}

std::string SerialAdapterGroup() {
    for (const char* name : {"dialout", "uucp", "tty"})
        if (::getgrnam(name)) return name;
    return "";
}
