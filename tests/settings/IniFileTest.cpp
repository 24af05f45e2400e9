#include "settings/IniFile.h"

#include <gtest/gtest.h>

#include "support/EngineHarness.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using qln_test::ReadWholeFile;
using qln_test::WriteWholeFile;

std::vector<std::string> Names(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Root ignores file permissions, so permission failures are provoked in a child process that has
// given up root. Returns 1 when `body` returned true, 0 when false, -1 when the child could not
// drop its rights (the caller then skips).
int RunUnprivileged(const std::function<bool()>& body) {
    if (::geteuid() != 0) return body() ? 1 : 0;
    pid_t pid = ::fork();
    if (pid == 0) {
        (void)::setgroups(0, nullptr);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(body() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 2 ? -1 : WEXITSTATUS(status);
}

class IniFileFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qln-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        // Lets an unprivileged child reach the folders a test prepares for it.
        ::chmod(dir_.c_str(), 0755);
    }
    void TearDown() override {
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(dir_, ec))
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

IniFile Parsed(std::string_view text) {
    IniFile ini;
    ini.Parse(text);
    return ini;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Reading

TEST(IniFileRead, SectionsAndKeysAreFoundWhateverTheirCase) {
    IniFile ini = Parsed("[Serial-Port]\nPort=COM2\n");
    EXPECT_EQ(ini.Get("SERIAL-PORT", "PORT"), "COM2");
    EXPECT_EQ(ini.Get("serial-port", "port"), "COM2");
    EXPECT_EQ(ini.Get("Serial-Port", "Port"), "COM2");
    // Values are data, not names: their case is kept.
    EXPECT_EQ(Parsed("[a]\nk=MiXeD\n").Get("A", "K"), "MiXeD");
}

TEST(IniFileRead, NonAsciiBytesDoNotFoldAsLetters) {
    // Folding with a locale would equate these; the file format knows only ASCII case.
    IniFile ini = Parsed("[A]\n\xC3\x84=1\n");
    EXPECT_EQ(ini.Get("A", "\xC3\x84"), "1");
    EXPECT_EQ(ini.Get("A", "\xC3\xA4"), std::nullopt);
}

TEST(IniFileRead, WhiteSpaceAroundNamesAndValuesIsIgnored) {
    IniFile ini = Parsed("  [ A ]  \n \t key  =  some value \t \n");
    EXPECT_EQ(ini.Get("A", "key"), "some value");
    EXPECT_EQ(ini.Get(" A ", " key "), "some value");
}

TEST(IniFileRead, ValueKeepsEverythingAfterTheFirstEqualsSign) {
    IniFile ini = Parsed("[A]\nk=a=b ; not a comment\n");
    EXPECT_EQ(ini.Get("A", "k"), "a=b ; not a comment");
}

TEST(IniFileRead, EmptyValueIsPresentAndMissingKeyIsNot) {
    IniFile ini = Parsed("[A]\nempty=\n");
    EXPECT_EQ(ini.Get("A", "empty"), "");
    EXPECT_EQ(ini.GetString("A", "empty", "def"), "");
    EXPECT_EQ(ini.Get("A", "missing"), std::nullopt);
    EXPECT_EQ(ini.GetString("A", "missing", "def"), "def");
    EXPECT_EQ(ini.GetString("B", "empty", "def"), "def");
}

TEST(IniFileRead, CommentsAndOtherLinesAreNotKeys) {
    IniFile ini = Parsed("[A]\n; c=1\n# d=2\nno equals sign\n=no key\n[broken=3\nk=v\n");
    EXPECT_EQ(ini.Get("A", "; c"), std::nullopt);
    EXPECT_EQ(ini.Get("A", "c"), std::nullopt);
    EXPECT_EQ(ini.Get("A", "d"), std::nullopt);
    EXPECT_EQ(ini.Get("A", "[broken"), std::nullopt);
    EXPECT_EQ(ini.Keys("A"), std::vector<std::string>{"k"});
}

TEST(IniFileRead, KeysBeforeAnySectionBelongToNoSection) {
    IniFile ini = Parsed("k=stray\n[A]\nk=v\n");
    EXPECT_EQ(ini.Get("", "k"), std::nullopt);
    EXPECT_EQ(ini.Get("A", "k"), "v");
}

TEST(IniFileRead, HeaderMayCarryTextAfterTheBracket) {
    IniFile ini = Parsed("[A] ; the port\nk=v\n");
    EXPECT_EQ(ini.Get("A", "k"), "v");
}

TEST(IniFileRead, FirstOfDuplicateKeysWins) {
    IniFile ini = Parsed("[A]\nk=first\nK=second\n[a]\nk=third\nonly=later\n");
    EXPECT_EQ(ini.Get("A", "k"), "first");
    // A repeated section still offers the keys the first one lacks.
    EXPECT_EQ(ini.Get("A", "only"), "later");
    EXPECT_EQ(ini.Keys("a"), (std::vector<std::string>{"k", "only"}));
}

TEST(IniFileRead, KeysAreListedInFileOrder) {
    IniFile ini = Parsed("[A]\nzeta=1\nalpha=2\n; x=3\nMid=4\n[B]\nb=5\n");
    EXPECT_EQ(ini.Keys("a"), (std::vector<std::string>{"zeta", "alpha", "Mid"}));
    EXPECT_TRUE(ini.Keys("C").empty());
}

TEST(IniFileRead, LineEndsAndAMissingFinalNewlineDoNotMatter) {
    for (std::string_view text : {"[A]\nk=v\nlast=x", "[A]\r\nk=v\r\nlast=x\r\n", "[A]\r\nk=v\nlast=x\r\n"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        IniFile ini = Parsed(text);
        EXPECT_EQ(ini.Get("A", "k"), "v");
        EXPECT_EQ(ini.Get("A", "last"), "x");
        EXPECT_EQ(ini.Serialize(), "[A]\r\nk=v\r\nlast=x\r\n");
    }
}

TEST(IniFileRead, ByteOrderMarkIsSkippedAndKept) {
    IniFile ini = Parsed("\xEF\xBB\xBF[A]\nk=v\n");
    EXPECT_EQ(ini.Get("A", "k"), "v");
    EXPECT_EQ(ini.Serialize(), "\xEF\xBB\xBF[A]\r\nk=v\r\n");
}

TEST(IniFileRead, GetStringCutsLongTextsWithoutSplittingCharacters) {
    std::string value(98, 'a');
    value += "\xC3\xA9"; // two-byte character across the 99-byte limit
    IniFile ini = Parsed("[A]\nk=" + value + "\n");
    EXPECT_EQ(ini.GetString("A", "k", ""), std::string(98, 'a'));
    EXPECT_EQ(ini.GetString("A", "k", "", 100), value);
    EXPECT_EQ(ini.GetString("A", "k", "", 3), "aaa");
    EXPECT_EQ(ini.GetString("A", "k", "", 0), "");
    // The default is cut the same way.
    EXPECT_EQ(ini.GetString("A", "missing", std::string(200, 'd')), std::string(99, 'd'));
    // Bytes that are no UTF-8 at all are cut where asked.
    IniFile garbage = Parsed("[A]\nk=" + std::string(120, '\x80') + "\n");
    EXPECT_EQ(garbage.GetString("A", "k", "").size(), 99u);
}

TEST(IniFileRead, HugeLinesAreReadWhole) {
    std::string big(2'000'000, 'x');
    IniFile ini = Parsed("[A]\nbig=" + big + "\nafter=1");
    EXPECT_EQ(ini.Get("A", "big"), big);
    EXPECT_EQ(ini.Get("A", "after"), "1");
    EXPECT_EQ(ini.GetString("A", "big", "").size(), 99u);
}

TEST(IniFileRead, BinaryGarbageIsKeptAndDoesNotHideRealEntries) {
    std::string garbage;
    for (int i = 0; i < 256; ++i)
        garbage += static_cast<char>(i);
    uint32_t x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245u + 12345u;
        garbage += static_cast<char>(x >> 24);
    }
    // Garbage may end inside an unfinished header or key; a fresh line starts the real entries.
    std::string text = garbage + "\n[A]\nk=v\n" + garbage;
    IniFile ini = Parsed(text);
    EXPECT_EQ(ini.Get("A", "k"), "v");

    // Writing and reading again changes nothing but the line ends.
    std::string once = ini.Serialize();
    EXPECT_EQ(Parsed(once).Serialize(), once);

    ASSERT_TRUE(ini.Set("A", "k", "w"));
    std::string edited = ini.Serialize();
    EXPECT_EQ(Parsed(edited).Get("A", "k"), "w");
    // Every garbage byte other than the line breaks survives the edit.
    auto strip = [](std::string s) {
        std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
        return s;
    };
    EXPECT_EQ(strip(edited), strip(text).replace(strip(text).find("k=v"), 3, "k=w"));
}

// ---------------------------------------------------------------------------------------------
// Editing

TEST(IniFileEdit, SetReplacesOnlyTheValueInPlace) {
    IniFile ini = Parsed("[a]\r\nfirst=1\r\n  Port = COM2 \r\nlast=3\r\n");
    ASSERT_TRUE(ini.Set("A", "PORT", "COM3"));
    EXPECT_EQ(ini.Serialize(), "[a]\r\nfirst=1\r\n  Port = COM3 \r\nlast=3\r\n");
    ASSERT_TRUE(ini.Set("A", "port", ""));
    EXPECT_EQ(ini.Get("A", "Port"), "");
    ASSERT_TRUE(ini.Set("A", "port", "again"));
    EXPECT_EQ(ini.Serialize(), "[a]\r\nfirst=1\r\n  Port = again \r\nlast=3\r\n");
}

TEST(IniFileEdit, SetOnAnEmptyValueKeepsTheKeyLine) {
    IniFile ini = Parsed("[A]\nk=\nj =   \n");
    ASSERT_TRUE(ini.Set("A", "k", "1"));
    ASSERT_TRUE(ini.Set("A", "j", "2"));
    EXPECT_EQ(ini.Get("A", "k"), "1");
    EXPECT_EQ(ini.Get("A", "j"), "2");
    EXPECT_EQ(ini.Keys("A"), (std::vector<std::string>{"k", "j"}));
}

TEST(IniFileEdit, SetReplacesTheFirstOfDuplicateKeys) {
    IniFile ini = Parsed("[A]\nk=1\nk=2\n");
    ASSERT_TRUE(ini.Set("A", "K", "3"));
    EXPECT_EQ(ini.Serialize(), "[A]\r\nk=3\r\nk=2\r\n");
}

TEST(IniFileEdit, NewKeyGoesToTheEndOfItsSectionBeforeTheSeparatingBlankLines) {
    IniFile ini = Parsed("; head\n[A]\nx=1\n; about x\n\n\n[B]\ny=2\n");
    ASSERT_TRUE(ini.Set("a", "z", "3"));
    EXPECT_EQ(ini.Serialize(), "; head\r\n[A]\r\nx=1\r\n; about x\r\nz=3\r\n\r\n\r\n[B]\r\ny=2\r\n");
    EXPECT_EQ(ini.Keys("A"), (std::vector<std::string>{"x", "z"}));
}

TEST(IniFileEdit, NewKeyGoesToTheFirstOfRepeatedSections) {
    IniFile ini = Parsed("[A]\nx=1\n[B]\n[A]\ny=2\n");
    ASSERT_TRUE(ini.Set("A", "z", "3"));
    EXPECT_EQ(ini.Serialize(), "[A]\r\nx=1\r\nz=3\r\n[B]\r\n[A]\r\ny=2\r\n");
}

TEST(IniFileEdit, NewSectionGoesToTheEndOfTheFile) {
    IniFile empty;
    ASSERT_TRUE(empty.Set("SERIAL-PORT", "PORT", "COM1"));
    EXPECT_EQ(empty.Serialize(), "[SERIAL-PORT]\r\nPORT=COM1\r\n");

    IniFile ini = Parsed("[A]\nx=1");
    ASSERT_TRUE(ini.Set("B", "k", "v"));
    ASSERT_TRUE(ini.Set("B", "k2", "v2"));
    EXPECT_EQ(ini.Serialize(), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\nk2=v2\r\n");

    // A file that already ends in a blank line gets no second one; nor does a file of only comments.
    EXPECT_EQ(Parsed("[A]\nx=1\n\n").Serialize(), "[A]\r\nx=1\r\n\r\n");
    IniFile blank = Parsed("[A]\nx=1\n\n");
    ASSERT_TRUE(blank.Set("B", "k", "v"));
    EXPECT_EQ(blank.Serialize(), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n");
    IniFile comment = Parsed("; only a comment");
    ASSERT_TRUE(comment.Set("B", "k", "v"));
    EXPECT_EQ(comment.Serialize(), "; only a comment\r\n\r\n[B]\r\nk=v\r\n");
}

TEST(IniFileEdit, SetDropsSurroundingWhiteSpaceAsReadingWould) {
    IniFile ini;
    ASSERT_TRUE(ini.Set(" A ", " k ", "  v w  "));
    EXPECT_EQ(ini.Serialize(), "[A]\r\nk=v w\r\n");
    EXPECT_EQ(ini.Get("A", "k"), "v w");
}

TEST(IniFileEdit, SetRefusesWhatWouldNotReadBackAsTheSameEntry) {
    const std::string before = "[A]\r\nk=v\r\n";
    IniFile ini = Parsed(before);
    EXPECT_FALSE(ini.Set("A", "k", "two\nlines"));
    EXPECT_FALSE(ini.Set("A", "k", "cr\rinside"));
    EXPECT_FALSE(ini.Set("A", "k", std::string_view("nul\0x", 5)));
    EXPECT_FALSE(ini.Set("A", "new\nkey", "v"));
    EXPECT_FALSE(ini.Set("A", "a=b", "v"));
    EXPECT_FALSE(ini.Set("A", ";k", "v"));
    EXPECT_FALSE(ini.Set("A", "#k", "v"));
    EXPECT_FALSE(ini.Set("A", "[k", "v"));
    EXPECT_FALSE(ini.Set("A", "  ", "v"));
    EXPECT_FALSE(ini.Set("", "k", "v"));
    EXPECT_FALSE(ini.Set("A]B", "k", "v"));
    EXPECT_FALSE(ini.Set("A\nB", "k", "v"));
    EXPECT_EQ(ini.Serialize(), before);
    // Characters that are harmless inside a value are taken as they are.
    EXPECT_TRUE(ini.Set("A", "k", "[x] ; # = y"));
    EXPECT_EQ(Parsed(ini.Serialize()).Get("A", "k"), "[x] ; # = y");
}

// ---------------------------------------------------------------------------------------------
// Files

TEST_F(IniFileFiles, MissingFileLoadsEmpty) {
    IniFile ini = Parsed("[A]\nk=v\n");
    std::string error = "untouched";
    EXPECT_TRUE(ini.Load(Path("none.ini"), &error));
    EXPECT_EQ(ini.Serialize(), "");
    EXPECT_EQ(ini.Get("A", "k"), std::nullopt);
    EXPECT_EQ(error, "untouched");
}

TEST_F(IniFileFiles, LoadSetSaveKeepsEverythingElse) {
    const std::string text = "; settings\n"
                             "[FOREIGN]\n"
                             "z=26\n"
                             "a=1\n"
                             "\n"
                             "[serial-port]\n"
                             "Other = kept\n"
                             "PORT=COM5\n"
                             "Tail=t";
    const std::string path = Path("s.ini");
    WriteWholeFile(path, text);

    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    ASSERT_TRUE(ini.Set("SERIAL-PORT", "PORT", "COM2"));
    ASSERT_TRUE(ini.Set("SERIAL-PORT", "NEW", "n"));
    std::string error;
    ASSERT_TRUE(ini.Save(path, &error)) << error;

    EXPECT_EQ(ReadWholeFile(path), "; settings\r\n"
                                   "[FOREIGN]\r\n"
                                   "z=26\r\n"
                                   "a=1\r\n"
                                   "\r\n"
                                   "[serial-port]\r\n"
                                   "Other = kept\r\n"
                                   "PORT=COM2\r\n"
                                   "Tail=t\r\n"
                                   "NEW=n\r\n");
    IniFile again;
    ASSERT_TRUE(again.Load(path));
    EXPECT_EQ(again.Keys("FOREIGN"), (std::vector<std::string>{"z", "a"}));
    EXPECT_EQ(again.Get("Serial-Port", "port"), "COM2");
    // No temporary file is left beside the target.
    EXPECT_EQ(Names(dir_), std::vector<std::string>{"s.ini"});
}

TEST_F(IniFileFiles, SaveCreatesAMissingFile) {
    IniFile ini;
    ASSERT_TRUE(ini.Set("A", "k", "v"));
    ASSERT_TRUE(ini.Save(Path("new.ini")));
    EXPECT_EQ(ReadWholeFile(Path("new.ini")), "[A]\r\nk=v\r\n");
    EXPECT_EQ(Names(dir_), std::vector<std::string>{"new.ini"});
}

TEST_F(IniFileFiles, SaveKeepsThePermissionsOfTheReplacedFile) {
    const std::string path = Path("s.ini");
    WriteWholeFile(path, "[A]\nk=v\n");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    IniFile ini;
    ASSERT_TRUE(ini.Load(path));
    ASSERT_TRUE(ini.Set("A", "k", "w"));
    ASSERT_TRUE(ini.Save(path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileFiles, SaveThroughASymbolicLinkUpdatesTheFileItPointsTo) {
    const std::string real = Path("real.ini");
    const std::string link = Path("link.ini");
    WriteWholeFile(real, "[A]\nk=v\n");
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);
    IniFile ini;
    ASSERT_TRUE(ini.Load(link));
    ASSERT_TRUE(ini.Set("A", "k", "w"));
    ASSERT_TRUE(ini.Save(link));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(real), "[A]\r\nk=w\r\n");
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"link.ini", "real.ini"}));
}

TEST_F(IniFileFiles, LoadRefusesWhatIsNoSettingsFile) {
    std::string error;
    IniFile ini = Parsed("[A]\nk=v\n");
    EXPECT_FALSE(ini.Load(dir_, &error));
    EXPECT_NE(error.find(dir_), std::string::npos) << error;
    EXPECT_EQ(ini.Serialize(), "");

    // Far too large to be settings; made sparse, so it costs no disk space.
    const std::string big = Path("big.ini");
    WriteWholeFile(big, "[A]\nk=v\n");
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(IniFile::kMaxFileSize) + 1), 0);
    error.clear();
    EXPECT_FALSE(ini.Load(big, &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;

    // A FIFO in the file's place must not block the program.
    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    error.clear();
    EXPECT_FALSE(ini.Load(fifo, &error));
    EXPECT_FALSE(error.empty());
}

TEST_F(IniFileFiles, LoadOfAnUnreadableFileFailsWithTheReason) {
    const std::string path = Path("secret.ini");
    WriteWholeFile(path, "[A]\nk=v\n");
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    int result = RunUnprivileged([&] {
        IniFile ini;
        std::string error;
        return !ini.Load(path, &error) && error.find(std::strerror(EACCES)) != std::string::npos &&
               error.find(path) != std::string::npos;
    });
    if (result < 0) GTEST_SKIP() << "cannot drop root rights";
    EXPECT_EQ(result, 1);
}

TEST_F(IniFileFiles, FailedSaveIntoAReadOnlyFolderKeepsTheOldFile) {
    const std::string folder = Path("ro");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string path = folder + "/s.ini";
    const std::string old = "[A]\r\nk=old\r\n";
    WriteWholeFile(path, old);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);

    IniFile ini = Parsed(old);
    ASSERT_TRUE(ini.Set("A", "k", "new"));
    int result = RunUnprivileged([&] {
        std::string error;
        return !ini.Save(path, &error) && error.find(std::strerror(EACCES)) != std::string::npos;
    });
    if (result < 0) GTEST_SKIP() << "cannot drop root rights";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(path), old);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"s.ini"});
}

TEST_F(IniFileFiles, ReadOnlySettingsFileIsNotReplaced) {
    // The folder is writable, so only the file's own protection stops the rename.
    const std::string folder = Path("rw");
    ASSERT_EQ(::mkdir(folder.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    const std::string path = folder + "/s.ini";
    const std::string old = "[A]\r\nk=old\r\n";
    WriteWholeFile(path, old);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);

    IniFile ini = Parsed(old);
    ASSERT_TRUE(ini.Set("A", "k", "new"));
    int result = RunUnprivileged([&] {
        std::string error;
        return !ini.Save(path, &error) && !error.empty();
    });
    if (result < 0) GTEST_SKIP() << "cannot drop root rights";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(path), old);
    EXPECT_EQ(Names(folder), std::vector<std::string>{"s.ini"});
}

TEST_F(IniFileFiles, FailedReplaceRemovesTheTemporaryFile) {
    // A folder in the target's place: the temporary file is written, the rename fails.
    const std::string target = Path("taken.ini");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    WriteWholeFile(target + "/inside", "x");
    IniFile ini = Parsed("[A]\nk=v\n");
    std::string error;
    EXPECT_FALSE(ini.Save(target, &error));
    EXPECT_NE(error.find(target), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(EISDIR)), std::string::npos) << error;
    EXPECT_EQ(Names(dir_), std::vector<std::string>{"taken.ini"});
    EXPECT_EQ(Names(target), std::vector<std::string>{"inside"});
}

TEST_F(IniFileFiles, SaveIntoAMissingFolderFails) {
    IniFile ini = Parsed("[A]\nk=v\n");
    std::string error;
    EXPECT_FALSE(ini.Save(Path("no/such/s.ini"), &error));
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
    EXPECT_FALSE(ini.Save("", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(Names(dir_).empty());
}
