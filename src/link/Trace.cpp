#include "link/Trace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "system/Host.h"

namespace {
std::string FormatNow(const char* fmt) {
    char buf[128];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    LocalTime(t, &tm);
    size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
    return std::string(buf, n);
}
} // namespace

std::string TraceHead(int kind, const std::string& time) {
    switch (kind) {
    case TRACE_SND_BYTES:
    case TRACE_SND_TEXT:
        return "Snd  " + time + ": '";
    case TRACE_RCV_BYTES:
    case TRACE_RCV_TEXT:
    case TRACE_RCV_ERROR:
        return "Rcv  " + time + ": '";
    case TRACE_INFO:
        return "Info " + time + ": '";
    default:
        return "xxx  " + time + ": '";
    }
}

const char* TraceFileName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    return name;
}

Trace::~Trace() {
    CloseTrace();
}

std::string Trace::OpenTrace(const std::string& path, const std::string& title, uint32_t testMode) {
    CloseTrace();
    path_ = path;
    writeErrno_.store(0);
    writeReported_.store(false);
    int err = 0;
    const LogHandle fd = OpenLogFile(path, &err);
    if (fd < 0)
        return "The trace log " + path + " cannot be written (" + std::strerror(err) + "); tracing is off.";
    std::string header = title + "  'Release 1.01' DEBUG-File " + FormatNow("%x %X") + " \r\n";
    if (testMode != 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, " uTestMode Flag: %x \r\n", testMode);
        header += buf;
    }
    if (const int e = AppendLogFile(fd, header)) NoteWriteError(e);
    fd_.store(fd);
    enabled_.store(true);
    return "";
}

void Trace::NoteWriteError(int error) {
    int none = 0;
    writeErrno_.compare_exchange_strong(none, error);
}

std::string Trace::TakeWriteError() {
    const int e = writeErrno_.load();
    if (e == 0 || writeReported_.exchange(true)) return "";
    return "The trace log " + path_ + " could not be written (" + std::strerror(e) +
           "); lines are missing from it.";
}

void Trace::CloseTrace() {
    enabled_.store(false);
    CloseLogFile(fd_.exchange(-1));
}

void Trace::WriteLine(const std::string& body, const char* file, unsigned line) {
    const LogHandle fd = fd_.load();
    if (fd < 0) return;
    char tail[300];
    std::snprintf(tail, sizeof tail, "' \t[File: %s, Line: %u] \r\n", TraceFileName(file), line);
    if (const int e = AppendLogFile(fd, body + tail)) NoteWriteError(e);
}

void Trace::WriteBytes(const uint8_t* bytes, size_t len, int kind, const char* file, unsigned line) {
    if (!TraceEnabled.load(std::memory_order_relaxed) || !Active()) return;
    static const char hex[] = "0123456789ABCDEF";
    std::string s = TraceHead(kind, FormatNow("%X"));
    s.reserve(s.size() + 2 * len + 64);
    for (size_t i = 0; i < len; ++i) {
        s += hex[bytes[i] >> 4];
        s += hex[bytes[i] & 15];
    }
    WriteLine(s, file, line);
}

void Trace::WriteText(const char* text, int kind, const char* file, unsigned line) {
    if (!TraceEnabled.load(std::memory_order_relaxed) || !Active()) return;
    std::string s = TraceHead(kind, FormatNow("%X")) + text;
    if (kind == TRACE_RCV_ERROR) s += " STX/BCC Error";
    WriteLine(s, file, line);
}

void Trace::Printf(int kind, const char* file, unsigned line, const char* fmt, ...) {
    if (!TraceEnabled.load(std::memory_order_relaxed) || !Active()) return;
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    WriteText(buf, kind, file, line);
}
