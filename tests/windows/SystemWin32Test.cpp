// The Win32 floor against the real system (under wine here): files with non-ASCII names, the
// atomic writer, the system's errors as errno values, the waker in a serial wait, Ctrl+C.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "settings/ComSettings.h"
#include "system/AtomicFile.h"
#include "system/Files.h"
#include "system/SerialDevice.h"
#include "system/StopSignals.h"
#include "system/Win32.h"

namespace fs = std::filesystem;

namespace {
struct Folder {
    fs::path path = fs::temp_directory_path() / ("qln-win32-" + std::to_string(::GetCurrentProcessId()));
    Folder() { fs::create_directories(path); }
    ~Folder() {
        std::error_code ignored;
        fs::permissions(path / u8"Ventilgr\u00f6\u00dfe.txt", fs::perms::owner_all, ignored);
        fs::remove_all(path, ignored);
    }
    std::string Utf8(const char8_t* name) const {
        const std::u8string p = (path / name).u8string();
        return {p.begin(), p.end()};
    }
};

std::string Read(const std::string& path) {
    return ReadRegularFile(path, 1 << 20, 1 << 20).data;
}
} // namespace

TEST(Win32Text, Utf8AndUtf16RoundTrip) {
    EXPECT_EQ(WideFromUtf8("Gr\xc3\xb6\xc3\x9f"
                           "e \xe2\x82\xac"),
              L"Gr\u00f6\u00dfe \u20ac");
    EXPECT_EQ(Utf8FromWide(L"Gr\u00f6\u00dfe \u20ac"), "Gr\xc3\xb6\xc3\x9f"
                                                       "e \xe2\x82\xac");
}

TEST(Win32Files, TheAtomicWriterReplacesAFileWithANonAsciiNameAndLeavesNothingBehind) {
    Folder dir;
    const std::string file = dir.Utf8(u8"Ventilgr\u00f6\u00dfe.txt");
    ASSERT_TRUE(WriteFileAtomic(file, "old", 3).ok);
    ASSERT_TRUE(WriteFileAtomic(file, "new text", 8).ok);
    EXPECT_EQ(Read(file), "new text");
    EXPECT_EQ(StatPath(file).size, 8u);
    EXPECT_TRUE(IsRegularFile(file));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path))
        ++files;
    EXPECT_EQ(files, 1u) << "no temporary file stays";

    // A file the user made read-only is refused and kept.
    fs::permissions(dir.path / u8"Ventilgr\u00f6\u00dfe.txt",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const AtomicWrite refused = WriteFileAtomic(file, "lost", 4);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, EACCES);
    EXPECT_EQ(Read(file), "new text");
}

TEST(Win32Files, TheSystemsRefusalsComeBackAsErrnoValues) {
    Folder dir;
    const FileRead missing = ReadRegularFile(dir.Utf8(u8"none.txt"), 100, 100);
    EXPECT_EQ(missing.status, FileRead::OpenFailed);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(ReadRegularFile(dir.Utf8(u8""), 100, 100).status, FileRead::Folder);
    int err = 0;
    EXPECT_EQ(OpenSerialDevice("\\\\.\\COM77", &err), NO_SERIAL_DEVICE);
    EXPECT_EQ(err, ENOENT);
}

TEST(Win32Ports, ComNamesStandForTheSystemsComPortsByDefault) {
    EXPECT_EQ(DefaultDevicePath(0), "\\\\.\\COM1");
    EXPECT_EQ(DefaultDevicePath(4), "\\\\.\\COM5");
    EXPECT_EQ(DefaultDevicePath(7), "\\\\.\\COM8");
    EXPECT_EQ(ComSettings{}.DevicePath[4], "\\\\.\\COM5");
}

TEST(Win32Waits, TheWakerEndsAWaitFromAnotherThreadAndTheTimeOutEndsOneWithout) {
    RealClock clock;
    Waker waker;
    ASSERT_TRUE(waker.Valid());
    const SerialWait idle = WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, 0);
    EXPECT_FALSE(idle.ended);
    std::thread raiser([&] { waker.Raise(); });
    const SerialWait woken = WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, IClock::FOREVER);
    raiser.join();
    EXPECT_TRUE(woken.ended);
    EXPECT_TRUE(woken.woken);
    EXPECT_FALSE(WaitForSerial(clock, waker, NO_SERIAL_DEVICE, false, 0).ended) << "the raise was taken";
}

TEST(Win32Stop, CtrlCAndCtrlBreakReachTheStopPathAsSigint) {
    std::mutex m;
    std::condition_variable cv;
    std::vector<int> got;
    ConsoleStopSignals stop([&](int signo) {
        std::lock_guard<std::mutex> lock(m);
        got.push_back(signo);
        cv.notify_all();
    });
    // Through the console where the process has one (the system calls the handler on a thread of
    // its own); run with its output in a pipe it has none, and the handler is called as the system
    // would. (qln-cli.exe takes Ctrl+C through a console in cli-under-wine.sh.)
    if (::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return !got.empty(); }));
    } else {
        EXPECT_TRUE(ConsoleStopHandler(CTRL_C_EVENT));
    }
    EXPECT_TRUE(ConsoleStopHandler(CTRL_BREAK_EVENT));
    EXPECT_FALSE(ConsoleStopHandler(0x1234)) << "an unknown event is left to the next handler";
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], SIGINT);
    EXPECT_EQ(got[1], SIGINT);
    EXPECT_STREQ(StopSignalName(got[0]), "Ctrl+C");
}

// The system ends the process when the handler returns from these events: it returns only once
// the program has stopped, that is when its ConsoleStopSignals has gone.
TEST(Win32Stop, CloseLogOffAndShutDownHoldTheProcessUntilTheProgramHasStopped) {
    struct Case {
        DWORD event;
        const char* name;
    };
    const Case cases[] = {{CTRL_CLOSE_EVENT, "the closing console"},
                          {CTRL_LOGOFF_EVENT, "the end of the session"},
                          {CTRL_SHUTDOWN_EVENT, "the end of the session"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex m;
        std::condition_variable cv;
        int got = 0;
        std::atomic<bool> stopped{false};
        auto stop = std::make_unique<ConsoleStopSignals>([&](int signo) {
            std::lock_guard<std::mutex> lock(m);
            got = signo;
            cv.notify_all();
        });
        bool returned = false;
        bool stoppedWhenReturned = false;
        BOOL took = FALSE;
        std::thread system([&] {
            const BOOL t = ConsoleStopHandler(c.event);
            std::lock_guard<std::mutex> lock(m);
            took = t;
            returned = true;
            stoppedWhenReturned = stopped.load();
            cv.notify_all();
        });
        bool called = false;
        bool returnedEarly = false;
        {
            std::unique_lock<std::mutex> lock(m);
            called = cv.wait_for(lock, std::chrono::seconds(20), [&] { return got != 0; });
            // A handler that does not hold the process returns right away: give it the chance to.
            returnedEarly = cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return returned; });
        }
        // The program finishes its job, then lets its stop signals go.
        stopped.store(true);
        stop.reset();
        system.join();
        ASSERT_TRUE(called) << "the stop path was not called";
        EXPECT_FALSE(returnedEarly) << "the handler returned while the program was still stopping";
        EXPECT_TRUE(took);
        EXPECT_TRUE(stoppedWhenReturned) << "the handler returned before the program had stopped";
        EXPECT_STREQ(StopSignalName(got), c.name);
    }
}
