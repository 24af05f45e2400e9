#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineThreads.h"
#include "engine/Notifier.h"
#include "engine/QlnState.h"
#include "support/LockstepClock.h"

namespace qln_test {

// Generous real-time limit for anything a test waits for; a healthy run needs a fraction of it.
constexpr std::chrono::milliseconds REAL_DEADLINE{20000};

// Polls `done` every millisecond until it holds or `timeout` (real time) has passed.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = REAL_DEADLINE);

// Stands in for the window: records every notification (with a copy of the error text an error
// notification points to) and every message box, and returns at once.
class RecordingNotifier : public INotifier {
public:
    struct Event {
        uint32_t code;
        bool sent; // Send (true) or Post (false)
        std::string text;
        intptr_t value;
    };
    struct Message {
        std::string text;
        std::string caption;
    };

    void Post(uint32_t code, intptr_t value) override { Record(code, false, value); }
    // The engine waits in Send until the window has handled the notification: `onSend` plays that
    // part (a recording's progress is shown, and its flag cleared, before the engine goes on).
    void Send(uint32_t code, intptr_t value) override {
        if (onSend) onSend(code);
        Record(code, true, value);
    }
    std::function<void(uint32_t code)> onSend;
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // Waits until a notification with this code has arrived (counting those already there).
    bool WaitFor(uint32_t code, std::chrono::milliseconds timeout = REAL_DEADLINE);
    // Waits until `n` notifications have arrived.
    bool WaitForCount(size_t n, std::chrono::milliseconds timeout = REAL_DEADLINE);
    std::vector<Event> Events() const;
    std::vector<uint32_t> Codes() const;
    std::vector<Message> Messages() const;

private:
    void Record(uint32_t code, bool sent, intptr_t value);
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::vector<Event> events_;
    std::vector<Message> messages_;
};

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A fresh temporary folder that is the current folder while the object lives (qln-cli reads
// QLN_com.ini and writes debug.txt in the current folder); the previous folder is restored after.
class InTempFolder : public TempDir {
public:
    InTempFolder();
    ~InTempFolder();

private:
    std::string saved_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, std::string_view text);
size_t CountOf(const std::string& haystack, const std::string& needle);

// One program's worth of engine: its own state on a lockstep clock, the four threads and a
// recording notifier, with the trace log in a temporary folder. A scripted valve is made after
// the rig, with the rig's clock, so that it joins the clock and is gone before the rig stops.
class EngineRig {
public:
    EngineRig();
    ~EngineRig();

    // Serve the built-in simulated valve instead of a device.
    void UseTestMode();
    // Serve the device at `path` (as COM1).
    void UseDevice(const std::string& path);
    void Start();
    void Stop();
    // The wait of the window's Exit for a requested stop (EngineThreads::FinishStop).
    bool FinishStop(uint32_t limitMs);

    // Sets request bits the way the window does and waits for the notification `code`.
    bool Request(uint32_t bits, uint32_t code, std::chrono::milliseconds timeout = REAL_DEADLINE);
    // Waits until the engine is idle (THREAD_CMD 0).
    bool WaitIdle(std::chrono::milliseconds timeout = REAL_DEADLINE);

    std::string TraceText() const { return ReadWholeFile(tracePath_); }
    uint32_t NowMs() { return clock.NowMs(); }

    LockstepClock clock;
    std::unique_ptr<QlnState> state;
    QlnState& s;
    LinkState& link;
    RecordingNotifier notifier;

private:
    TempDir dir_;
    std::string tracePath_;
    std::unique_ptr<EngineThreads> threads_;
};

} // namespace qln_test
