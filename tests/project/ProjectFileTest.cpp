#include "project/ProjectFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/EngineHarness.h"

using qln_test::TempDir;

namespace {
std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::unique_ptr<ProjectFile> Fresh() {
    auto p = std::make_unique<ProjectFile>();
    ResetProject(*p);
    return p;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Every byte of the image set from a pattern, the texts made valid.
std::unique_ptr<ProjectFile> Patterned() {
    auto p = Fresh();
    auto* b = reinterpret_cast<uint8_t*>(p.get());
    for (size_t i = 0; i < sizeof *p; ++i)
        b[i] = static_cast<uint8_t>(i * 7 + 3);
    SetFieldText(p->info.ProjectName, "Plant \xC4 line 3"); // Windows-1252 A umlaut
    SetFieldText(p->info.FileName, "plant.QPJ");
    SetFieldText(p->info.Company, "Acme");
    SetFieldText(p->info.Address, "Street 1");
    SetFieldText(p->info.City, "Town");
    SetFieldText(p->info.Phone, "+00 1");
    SetFieldText(p->info.Email, "a@b.c");
    p->scopeSetup.Binary[0] = 0;
    p->scopeSetup.Binary[3] = 4;
    return p;
}
} // namespace

TEST(ProjectFileNames, ExtensionAdjustmentAndFileNames) {
    EXPECT_EQ(AdjustExtension("plant.txt"), "plant.QPJ");
    EXPECT_EQ(AdjustExtension("plant"), "plant.QPJ");
    EXPECT_EQ(AdjustExtension("a.b.c"), "a.QPJ");
    EXPECT_EQ(AdjustExtension("abcdefghijklmnopqrstuvwxyz12"), "abcdefghijklmnopqrstuvwxy.QPJ")
        << "28 characters";
    EXPECT_EQ(AdjustExtension("abcdefghijklmnopqrstuvwxyz.QPJ"), "abcdefghijklmnopqrstuvwxy.QPJ")
        << "the dot leaves 26 characters, so the name is cut after 25";
    EXPECT_EQ(AdjustExtension("abcdefghijklmnopqrstuvwx\u00fc12"), "abcdefghijklmnopqrstuvwx\u00fc.QPJ")
        << "25 characters, the last of two bytes: never cut inside a character";
    EXPECT_EQ(FileNameOfPath("/home/u/p/plant.QPJ"), "plant.QPJ");
    EXPECT_EQ(FileNameOfPath("C:\\Projekte\\anlage.QPJ"), "anlage.QPJ")
        << "a path from a Windows installation";
    EXPECT_EQ(FileNameOfPath("plant.QPJ"), "plant.QPJ");
}

TEST(ProjectFileNames, ResetIsTheUnknownProjectWithTheScopeDefaults) {
    const auto p = Fresh();
    EXPECT_EQ(FieldText(p->info.ProjectName), "UNKNOWN");
    EXPECT_EQ(FieldText(p->info.FileName), "UNKNOWN.QPJ");
    EXPECT_EQ(FieldText(p->info.Path), "UNKNOWN.QPJ");
    EXPECT_EQ(p->scopeSetup.Mode, 2);
    EXPECT_EQ(p->scopeSetup.AcquisitionTime, 8);
    EXPECT_EQ(p->scopeSetup.Analog[2].Signal, 3);
    EXPECT_EQ(p->scopeSetup.Binary[3], 4);
    EXPECT_EQ(p->editBlock.PROPORTIONAL_GAIN, 0.0f);
}

class ProjectFiles : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("plant.QPJ");
};

TEST_F(ProjectFiles, EveryRecordSurvivesSaveAndOpenByteForByte) {
    auto saved = Patterned();
    std::string error;
    ASSERT_TRUE(WriteProjectFile(path, *saved, &error)) << error;
    const std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), 173624u);
    uint32_t version;
    std::memcpy(&version, bytes.data() + 9544, 4);
    EXPECT_EQ(version, 0x3F8147AEu) << "format version 1.01 at file offset 9544";
    EXPECT_EQ(bytes.substr(1280, 4), std::string(reinterpret_cast<const char*>(&saved->editBlock), 4));

    auto opened = Fresh();
    ASSERT_TRUE(ReadProjectFile(path, *opened, &error)) << error;
    EXPECT_EQ(std::memcmp(opened.get(), saved.get(), sizeof *saved), 0);
    EXPECT_EQ(FieldText(opened->info.Path), path);
    EXPECT_NEAR(FormatVersion(*opened), 1.01, 1e-6);
}

TEST_F(ProjectFiles, OpeningForcesTheFixedBinaryChannelsAndTheActualPath) {
    auto saved = Patterned();
    std::string error;
    ASSERT_TRUE(WriteProjectFile(path, *saved, &error)) << error;
    std::string bytes = Read(path);
    const int32_t seven = 7;
    std::memcpy(bytes.data() + 1900 + 96, &seven, 4);  // binary channel 1
    std::memcpy(bytes.data() + 1900 + 108, &seven, 4); // binary channel 4
    const std::string renamed = dir.File("renamed.QPJ");
    Write(renamed, bytes);
    auto opened = Fresh();
    ASSERT_TRUE(ReadProjectFile(renamed, *opened, &error)) << error;
    EXPECT_EQ(opened->scopeSetup.Binary[0], 0);
    EXPECT_EQ(opened->scopeSetup.Binary[3], 4);
    EXPECT_EQ(FieldText(opened->info.Path), renamed);
    EXPECT_EQ(FieldText(opened->info.FileName), "plant.QPJ") << "the stored file name is kept";
}

// The records keep names in Windows-1252; the file system and the program use UTF-8.
TEST_F(ProjectFiles, NamesAreWindows1252InTheRecordAndTheRealNameOnDisk) {
    struct Case {
        const char* name;
        std::string recorded; // the file name field's bytes
    } cases[] = {
        {"Pr\u00fcfstand.QPJ", "\x50\x72\xFC\x66\x73\x74\x61\x6E\x64.QPJ"},
        {"Ventil\u2192A.QPJ", "Ventil?A.QPJ"}, // no arrow in Windows-1252
    };
    for (const Case& c : cases) {
        const std::string file = dir.File(c.name);
        auto saved = Fresh();
        std::string error;
        ASSERT_TRUE(WriteProjectFile(file, *saved, &error)) << error;
        EXPECT_TRUE(std::filesystem::exists(file)) << "written under its real name";
        EXPECT_EQ(Read(file).substr(25, c.recorded.size() + 1), c.recorded + '\0');
        EXPECT_EQ(FieldText(saved->info.Path), dir.Path() + "/" + c.recorded);

        auto opened = Fresh();
        ASSERT_TRUE(ReadProjectFile(file, *opened, &error)) << error;
        EXPECT_EQ(FieldText(opened->info.FileName), c.recorded);
    }
    auto p = Fresh();
    SetFieldName(p->info.ProjectName, "Pr\u00fcfstand");
    EXPECT_EQ(FieldText(p->info.ProjectName), "\x50\x72\xFC\x66\x73\x74\x61\x6E\x64");
    EXPECT_EQ(FieldName(p->info.ProjectName), "Pr\u00fcfstand");
}

TEST_F(ProjectFiles, AnyRegularFileOfAnyLengthOpensAndTextsEndWithinTheirFields) {
    Write(path, std::string(1000, '\xEE')); // ends inside record 2; its texts have no terminator
    auto opened = Fresh();
    std::string error;
    ASSERT_TRUE(ReadProjectFile(path, *opened, &error)) << error;
    EXPECT_EQ(FieldText(opened->info.ProjectName), std::string(24, '\xEE'));
    EXPECT_EQ(opened->info.ProjectName[24], '\0');
    EXPECT_EQ(opened->scopeSetup.Mode, 2) << "records the file does not reach keep the reset contents";
    EXPECT_EQ(opened->editBlock.PROPORTIONAL_GAIN, 0.0f);

    Write(path, std::string(200000, '\x01'));
    ASSERT_TRUE(ReadProjectFile(path, *opened, &error)) << error;
    EXPECT_EQ(opened->samples[163199], 1);
    Write(path, "");
    EXPECT_TRUE(ReadProjectFile(path, *opened, &error)) << error;
}

TEST_F(ProjectFiles, FoldersPipesAndDevicesAreRefusedAtOnceAndChangeNothing) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    auto p = Patterned();
    const auto before = std::make_unique<ProjectFile>(*p);
    for (const std::string& bad : {path, dir.Path(), std::string("/dev/zero"), dir.File("missing.QPJ")}) {
        std::string error;
        EXPECT_FALSE(ReadProjectFile(bad, *p, &error)) << bad;
        EXPECT_NE(error.find(bad), std::string::npos) << error;
        EXPECT_EQ(std::memcmp(p.get(), before.get(), sizeof *p), 0) << bad;
    }
}

TEST_F(ProjectFiles, APathTooLongForTheRecordIsStoredCutAndTerminated) {
    const std::string deep = dir.Path() + "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    const std::string longPath = deep + "/" + std::string(100, 'n') + ".QPJ";
    auto p = Fresh();
    std::string error;
    ASSERT_TRUE(WriteProjectFile(longPath, *p, &error)) << error;
    EXPECT_EQ(FieldText(p->info.Path), longPath.substr(0, 259));
    EXPECT_EQ(p->info.Path[259], '\0');
    EXPECT_EQ(FieldText(p->info.FileName), (std::string(100, 'n') + ".QPJ").substr(0, 29));
    EXPECT_EQ(Read(longPath).size(), 173624u) << "the file itself goes where the whole path says";
}

// ---- a save never destroys the last good project --------------------------------------------------

TEST_F(ProjectFiles, AFailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    auto good = Patterned();
    std::string error;
    ASSERT_TRUE(WriteProjectFile(path, *good, &error)) << error;
    const std::string before = Read(path);

    // A child whose files may not grow beyond 100 kB: the write fails as on a full disk.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        auto other = Fresh();
        std::string e;
        const bool ok = WriteProjectFile(path, *other, &e);
        ::_exit(!ok && e.find(path) != std::string::npos && e.find("File too large") != std::string::npos
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save failed and said why";
    EXPECT_EQ(Read(path), before);
    EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"plant.QPJ"}) << "no temporary file left behind";

    EXPECT_FALSE(WriteProjectFile(dir.File("no-folder/p.QPJ"), *good, &error));
    EXPECT_NE(error.find("no-folder/p.QPJ"), std::string::npos) << error;
}

TEST_F(ProjectFiles, ASaveKilledHalfwayNeverLeavesATruncatedProject) {
    auto first = Patterned();
    std::string error;
    ASSERT_TRUE(WriteProjectFile(path, *first, &error)) << error;
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            auto p = Fresh();
            for (;;) {
                std::string e;
                WriteProjectFile(path, *p, &e);
            }
        }
        ::usleep(static_cast<useconds_t>(1000 + 700 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_EQ(Read(path).size(), 173624u) << "round " << round;
    }
}
