#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/Files.h"

// The trace log debug.txt: one line per telegram or event, each written with a single write()
// so that lines from several threads never interleave and a crash loses no finished line.
enum TraceKind : int {
    TRACE_SND_BYTES = 1,
    TRACE_SND_TEXT = 2,
    TRACE_RCV_BYTES = 3,
    TRACE_RCV_TEXT = 4,
    TRACE_INFO = 5,
    TRACE_RCV_ERROR = 7,
};

class Trace {
public:
    Trace() = default;
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Creates (replacing) `path`, mode 0644, and writes the header. A symbolic link at `path` is
    // never followed (in a shared folder it could point at anybody's file): it is replaced by a new
    // file. Returns "" or, when tracing stays off, the reason with the path.
    std::string OpenTrace(const std::string& path, const std::string& title, uint32_t testMode);
    void CloseTrace();

    bool Active() const { return enabled_.load(std::memory_order_relaxed) && fd_.load() >= 0; }

    // Kinds 1 and 3 take bytes, the others text.
    void WriteBytes(const uint8_t* bytes, size_t len, int kind, const char* file, unsigned line);
    void WriteText(const char* text, int kind, const char* file, unsigned line);
    // printf-style information or other text entry.
    void Printf(int kind, const char* file, unsigned line, const char* fmt, ...)
        __attribute__((format(printf, 5, 6)));

    // The first failed write since the trace was opened (full disk, vanished medium), once: the
    // reason with the path, then "" until the next failure after a new OpenTrace. The trace goes on
    // trying, so lines written after the disk has room again are kept.
    std::string TakeWriteError();

    std::atomic<uint32_t> TraceEnabled{0};

private:
    void NoteWriteError(int error);
    std::string path_;
    std::atomic<int> writeErrno_{0}; // the first failure's errno, 0 while none
    std::atomic<bool> writeReported_{false};
    void WriteLine(const std::string& head, const char* file, unsigned line);
    std::atomic<bool> enabled_{false};
    std::atomic<LogHandle> fd_{-1};
};

// Builds the fixed head of a line ("Info 12:00:00: '") for tests and for the writer.
std::string TraceHead(int kind, const std::string& time);
// Reduces a source path to its file name (either separator).
const char* TraceFileName(const char* path);

#define QLN_TRACE(trace, kind, ...) (trace).Printf((kind), __FILE__, __LINE__, __VA_ARGS__)
#define QLN_TRACE_INFO(trace, ...) (trace).Printf(TRACE_INFO, __FILE__, __LINE__, __VA_ARGS__)
