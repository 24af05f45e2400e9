// The one writer of every file, on a real file system: what the user set on a file survives a save.
#include "system/AtomicFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "support/EngineHarness.h"

using qln_test::TempDir;
namespace fs = std::filesystem;

namespace {
std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool Save(const std::string& path, const std::string& text) {
    return WriteFileAtomic(path, text.data(), text.size()).ok;
}

size_t EntryCount(const std::string& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
} // namespace

TEST(AtomicFile, ASymbolicLinkStaysALinkAndItsTargetIsReplaced) {
    TempDir dir;
    fs::create_directory(dir.File("shared"));
    const std::string target = dir.File("shared/bench.QPJ");
    ASSERT_TRUE(Save(target, "old"));
    ASSERT_EQ(::symlink("shared/bench.QPJ", dir.File("bench.QPJ").c_str()), 0);

    const AtomicWrite w = WriteFileAtomic(dir.File("bench.QPJ"), "new", 3);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_TRUE(fs::is_symlink(dir.File("bench.QPJ")));
    EXPECT_EQ(Read(target), "new");
    EXPECT_EQ(fs::canonical(w.target), fs::canonical(target));
    EXPECT_EQ(EntryCount(dir.File("shared")), 1u) << "no temporary file is left";
}

TEST(AtomicFile, AnExistingFileKeepsItsModeAndGroupANewOneFollowsTheUmask) {
    TempDir dir;
    const std::string path = dir.File("kept.ini");
    ASSERT_TRUE(Save(path, "a"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // Another group of the user's where the system lets us give one (root: any group).
    const gid_t other = ::getuid() == 0 ? 4321 : ::getegid();
    ASSERT_EQ(::chown(path.c_str(), static_cast<uid_t>(-1), other), 0);

    ASSERT_TRUE(Save(path, "b"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_gid, other);

    const mode_t mask = ::umask(027);
    ASSERT_TRUE(Save(dir.File("new.csv"), "c"));
    ::umask(mask);
    ASSERT_EQ(::stat(dir.File("new.csv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "0666 minus the umask 027";
}

TEST(AtomicFile, ANameTooLongForTheTemporarySuffixStillSaves) {
    TempDir dir;
    // 250 characters: the longest names a file system takes (255) leave no room for a suffix.
    const std::string path = dir.File(std::string(246, 'n') + ".QPJ");
    ASSERT_TRUE(Save(path, "first"));
    ASSERT_TRUE(Save(path, "second"));
    EXPECT_EQ(Read(path), "second");
    EXPECT_EQ(EntryCount(dir.Path()), 1u) << "no temporary file is left";
}
