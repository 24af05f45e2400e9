// Windows keeps no owner, group and mode on a serial port: whoever is logged on may open it, and
// a port in use is refused at the open itself (EBUSY), which the link reports.
#include "system/DeviceAccess.h"
#include "system/Win32.h"

UserIds CurrentUser() {
    return {};
}

int DeviceOpenProblem(const std::string&, const UserIds&) {
    return 0;
}

std::optional<DeviceOwner> DeviceOwnerOf(const std::string&) {
    return std::nullopt;
}

std::string SerialAdapterGroup() {
    return "";
}
