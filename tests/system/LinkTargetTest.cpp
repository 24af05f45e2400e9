#include <filesystem>
#include <gtest/gtest.h>

#include "support/EngineHarness.h"
#include "system/Files.h"

TEST(LinkTarget, ReadsOneLinkToANodeThatNeedNotExistRelativeFromItsFolderOrAbsolute) {
    qln_test::TempDir dir;
    std::filesystem::create_directories(dir.File("dev/by-id"));
    const std::pair<std::string, std::string> rows[] = {{"../../ttyUSB0", dir.File("ttyUSB0")},
                                                        {"./../x/../ttyUSB1", dir.File("dev/ttyUSB1")},
                                                        {"/dev/ttyUSB2", "/dev/ttyUSB2"},
                                                        {"link0", dir.File("dev/by-id/link0")}};
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string link = dir.File("dev/by-id/link" + std::to_string(i));
        std::filesystem::create_symlink(rows[i].first, link);
        EXPECT_EQ(LinkTarget(link), rows[i].second) << rows[i].first;
    }
}
