#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "link/LinkTestSupport.h"

using namespace linktest;

namespace {
// A trace line with its time stamp ("%X", here HH:MM:SS) replaced by "T".
std::string Untimed(const std::string& line) {
    static const std::regex time(R"(^(.{5})\d\d:\d\d:\d\d: ')");
    return std::regex_replace(line, time, "$1T: '");
}
} // namespace

class LinkTrace : public ::testing::Test {
protected:
    void Open(uint32_t testMode = 0) {
        trace.TraceEnabled.store(1);
        trace.OpenTrace(path, "QLN Title", testMode);
        ASSERT_TRUE(trace.Active());
    }
    // The lines after the header, without their time stamps.
    std::vector<std::string> Body(size_t headerLines = 1) {
        auto lines = TraceLines(path);
        std::vector<std::string> out;
        for (size_t i = headerLines; i < lines.size(); ++i)
            out.push_back(Untimed(lines[i]));
        return out;
    }
    TempDir dir;
    std::string path = dir.File("debug.txt");
    Trace trace;
};

TEST_F(LinkTrace, HeaderNamesTitleReleaseAndTestMode) {
    Open(1);
    const std::string text = ReadFile(path);
    EXPECT_TRUE(std::regex_match(text, std::regex("QLN Title  'Release 1\\.01' DEBUG-File [^\r\n]+ \r\n"
                                                  " uTestMode Flag: 1 \r\n")))
        << text;
    Open(0);
    EXPECT_EQ(TraceLines(path).size(), 1u) << "no test-mode line without test mode";
}

TEST_F(LinkTrace, EveryKindHasItsHeadAndTheSourceTail) {
    Open();
    const uint8_t telegram[] = {0x02, 0x02, 0x00, 0x02};
    const uint8_t reply[] = {0xAB, 0x0F};
    trace.WriteBytes(telegram, sizeof telegram, TRACE_SND_BYTES, "/home/dev/qln/src/link/ComThread.cpp", 42);
    trace.WriteText("Send Timeout ", TRACE_SND_TEXT, "C:\\work\\Action.cpp", 7);
    trace.WriteBytes(reply, sizeof reply, TRACE_RCV_BYTES, "ComThread.cpp", 1);
    trace.WriteText("Receive Timeout max retry", TRACE_RCV_TEXT, "a/b.cpp", 2);
    trace.Printf(TRACE_INFO, "x.cpp", 3, " RxQueue: %d bytes", 65536);
    trace.WriteText("Action 'x'", TRACE_RCV_ERROR, "x.cpp", 4);
    trace.WriteText("other", 6, "x.cpp", 5);
    trace.WriteText("none", 0, "x.cpp", 6);
    const std::vector<std::string> expected{
        "Snd  T: '02020002' \t[File: ComThread.cpp, Line: 42] \r\n",
        "Snd  T: 'Send Timeout ' \t[File: Action.cpp, Line: 7] \r\n",
        "Rcv  T: 'AB0F' \t[File: ComThread.cpp, Line: 1] \r\n",
        "Rcv  T: 'Receive Timeout max retry' \t[File: b.cpp, Line: 2] \r\n",
        "Info T: ' RxQueue: 65536 bytes' \t[File: x.cpp, Line: 3] \r\n",
        "Rcv  T: 'Action 'x' STX/BCC Error' \t[File: x.cpp, Line: 4] \r\n",
        "xxx  T: 'other' \t[File: x.cpp, Line: 5] \r\n",
        "xxx  T: 'none' \t[File: x.cpp, Line: 6] \r\n",
    };
    EXPECT_EQ(Body(), expected);
}

TEST_F(LinkTrace, ReplacesTheTraceOfAnEarlierRun) {
    {
        std::ofstream old(path, std::ios::binary);
        old << "old run line that is longer than the new header and entry together, so a missing "
               "truncation would leave its tail behind ........................................\r\n";
    }
    Open();
    trace.WriteText("new", TRACE_INFO, "x.cpp", 1);
    const std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("QLN Title  'Release 1.01'", 0), 0u);
    EXPECT_EQ(text.find("old run"), std::string::npos);
    EXPECT_EQ(text.find("...."), std::string::npos);
    EXPECT_EQ(Body(), std::vector<std::string>{"Info T: 'new' \t[File: x.cpp, Line: 1] \r\n"});
}

TEST_F(LinkTrace, WritesNothingUnlessEnabledAndOpen) {
    const uint8_t bytes[] = {1, 2};
    trace.TraceEnabled.store(1);
    trace.WriteText("never opened", TRACE_INFO, "x.cpp", 1);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    trace.TraceEnabled.store(0);
    trace.OpenTrace(path, "QLN Title", 0);
    trace.WriteText("off", TRACE_INFO, "x.cpp", 1);
    trace.WriteBytes(bytes, 2, TRACE_SND_BYTES, "x.cpp", 1);
    trace.Printf(TRACE_INFO, "x.cpp", 1, "%d", 5);
    EXPECT_TRUE(Body().empty());

    trace.TraceEnabled.store(1);
    trace.CloseTrace();
    trace.WriteText("closed", TRACE_INFO, "x.cpp", 1);
    EXPECT_TRUE(Body().empty());

    // A file that cannot be created leaves tracing silently off.
    trace.OpenTrace(dir.File("missing/debug.txt"), "QLN Title", 0);
    EXPECT_FALSE(trace.Active());
}

TEST_F(LinkTrace, LinesFromSeveralThreadsNeverInterleave) {
    Open();
    constexpr int kThreads = 4, kLines = 250;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([this, t] {
            const Bytes bytes(64, static_cast<uint8_t>(0x11 * (t + 1)));
            for (int i = 0; i < kLines; ++i)
                trace.WriteBytes(bytes.data(), bytes.size(), TRACE_SND_BYTES, "w.cpp",
                                 static_cast<unsigned>(t));
        });
    for (auto& w : writers)
        w.join();
    const std::regex whole(R"(Snd  T: '(([0-9A-F])\2{127})' \t\[File: w\.cpp, Line: \d\] \r\n)");
    const auto body = Body();
    ASSERT_EQ(body.size(), static_cast<size_t>(kThreads * kLines));
    for (const std::string& line : body)
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

// ---- a trace never harms another file, and its failures are said --------------------------------

TEST_F(LinkTrace, ASymbolicLinkIsReplacedNotFollowed) {
    const std::string target = dir.File("someone-elses-file");
    {
        std::ofstream f(target);
        f << "keep me\n";
    }
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    trace.TraceEnabled.store(1);
    EXPECT_EQ(trace.OpenTrace(path, "QLN Title", 0), "");
    QLN_TRACE_INFO(trace, "after");
    EXPECT_EQ(ReadFile(target), "keep me\n");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link gave way to a file of our own";
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_NE(ReadFile(path).find("after"), std::string::npos);
}

TEST_F(LinkTrace, ATraceThatCannotBeCreatedSaysWhyAndStaysOff) {
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0); // a folder where the file should be
    trace.TraceEnabled.store(1);
    const std::string error = trace.OpenTrace(path, "QLN Title", 0);
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("tracing is off"), std::string::npos) << error;
    EXPECT_FALSE(trace.Active());
}

TEST_F(LinkTrace, AFailedWriteIsReportedOnceAndTheTraceGoesOn) {
    // /dev/full takes the open and refuses every write with ENOSPC, like a full disk.
    trace.TraceEnabled.store(1);
    EXPECT_EQ(trace.OpenTrace("/dev/full", "QLN Title", 0), "");
    QLN_TRACE_INFO(trace, "lost");
    const std::string error = trace.TakeWriteError();
    EXPECT_NE(error.find("/dev/full"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    QLN_TRACE_INFO(trace, "lost too");
    EXPECT_EQ(trace.TakeWriteError(), "") << "said once";
    EXPECT_TRUE(trace.Active());
}
