#include "support/EngineHarness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "text/Texts.h"

namespace qln_test {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void RecordingNotifier::ShowMessage(const std::string& text, const std::string& caption) {
    std::lock_guard<std::mutex> lock(m_);
    messages_.push_back({text, caption});
}

void RecordingNotifier::Record(uint32_t code, bool sent, intptr_t value) {
    std::lock_guard<std::mutex> lock(m_);
    // Error notifications point to the engine's text buffer; it is only valid during the call.
    std::string text = (code >= 1 && code <= 8 && value != 0) ? reinterpret_cast<const char*>(value) : "";
    events_.push_back({code, sent, std::move(text), value});
    cv_.notify_all();
}

bool RecordingNotifier::WaitFor(uint32_t code, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, timeout, [&] {
        for (const Event& e : events_)
            if (e.code == code) return true;
        return false;
    });
}

bool RecordingNotifier::WaitForCount(size_t n, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_);
    return cv_.wait_for(lock, timeout, [&] { return events_.size() >= n; });
}

std::vector<RecordingNotifier::Event> RecordingNotifier::Events() const {
    std::lock_guard<std::mutex> lock(m_);
    return events_;
}

std::vector<uint32_t> RecordingNotifier::Codes() const {
    std::lock_guard<std::mutex> lock(m_);
    std::vector<uint32_t> out;
    for (const Event& e : events_)
        out.push_back(e.code);
    return out;
}

std::vector<RecordingNotifier::Message> RecordingNotifier::Messages() const {
    std::lock_guard<std::mutex> lock(m_);
    return messages_;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qln-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

InTempFolder::InTempFolder() {
    saved_ = std::filesystem::current_path().string();
    std::filesystem::current_path(Path());
}

InTempFolder::~InTempFolder() {
    std::error_code ec;
    std::filesystem::current_path(saved_, ec);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteWholeFile(const std::string& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

size_t CountOf(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = haystack.find(needle); pos != std::string::npos; pos = haystack.find(needle, pos + 1))
        ++n;
    return n;
}

EngineRig::EngineRig()
    : state(std::make_unique<QlnState>(clock)), s(*state), link(s.link), tracePath_(dir_.File("debug.txt")) {
    threads_ = std::make_unique<EngineThreads>(s, notifier);
}

EngineRig::~EngineRig() {
    Stop();
    link.trace.CloseTrace();
}

void EngineRig::UseTestMode() {
    link.uTestMode.store(1);
}

void EngineRig::UseDevice(const std::string& path) {
    link.PortIndex.store(0);
    link.DevicePath[0] = path;
}

void EngineRig::Start() {
    link.trace.TraceEnabled.store(1);
    link.trace.OpenTrace(tracePath_, LoadText(IDS_APP_TITLE), link.uTestMode.load());
    threads_->Start();
}

void EngineRig::Stop() {
    threads_->Stop();
}

bool EngineRig::FinishStop(uint32_t limitMs) {
    return threads_->FinishStop(limitMs);
}

bool EngineRig::Request(uint32_t bits, uint32_t code, std::chrono::milliseconds timeout) {
    RequestAction(s, bits);
    return notifier.WaitFor(code, timeout);
}

bool EngineRig::WaitIdle(std::chrono::milliseconds timeout) {
    return WaitUntil([this] { return s.THREAD_CMD.load() == 0; }, timeout);
}

} // namespace qln_test
