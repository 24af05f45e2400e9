#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Who may use a device, judged from its owner, group and mode without opening it.

// Who the program runs as.
struct UserIds {
    uint32_t uid = 0;
    std::vector<uint32_t> groups; // the effective group and the supplementary groups
};
UserIds CurrentUser();
// 0 when the user may open the device for reading and writing as far as its owner, group and mode
// tell (root always may); else why not: the stat error (ENOENT for a device that is not there) or
// EACCES.
int DeviceOpenProblem(const std::string& device, const UserIds& user);

struct DeviceOwner {
    unsigned mode = 0;     // the permission bits (and the file type) as the system reports them
    std::string groupName; // the group's name, or its number when it has none
    bool rootGroup = false;
};
std::optional<DeviceOwner> DeviceOwnerOf(const std::string& device);
// The group that USB serial adapters belong to on this system ("" when none of the usual ones).
std::string SerialAdapterGroup();
