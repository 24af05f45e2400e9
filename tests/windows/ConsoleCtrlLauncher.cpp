// Starts a console program in a process group of its own on a console of its own, sends that group
// the console's stop event when told to, and reports how the program ended: Ctrl+C end to end,
// through the system's console, not by calling the program's handler.
//   qln_console_ctrl_launcher COMMAND-LINE
// The program's output and errors go where the launcher's go. A line on the launcher's input
// (whoever runs it knows when the program is busy) sends the event. The launcher prints which event
// went out ("sent Ctrl+Break" or "sent Ctrl+C"), then "exit N" with the program's exit status, or
// "failed: ..." and exits with 1.
//
// What wine 8 does (tried here, and why the launcher is built as it is):
// - Run from a pipe, a wine program has no real console (AllocConsole fails with error 5, as one is
//   "attached"), and GenerateConsoleCtrlEvent fails with error 12 for Ctrl+C and Ctrl+Break alike.
//   So the launcher frees that console and allocates a real one, which its program shares.
// - On that console Ctrl+Break fails with error 6: wine does not send it. Ctrl+C aimed at the
//   program's process group arrives (Windows itself ignores Ctrl+C aimed at a group, but sends
//   Ctrl+Break). So Ctrl+Break is tried first and Ctrl+C second; qln-cli takes both as Ctrl+C.
// - A process group started with CREATE_NEW_PROCESS_GROUP begins with Ctrl+C ignored; qln-cli takes
//   it again when it installs its handler, which this therefore tests too.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
// Far more than a stopped write needs to end (the telegram on the line and its reply).
constexpr DWORD kExitWaitMs = 30000;

int Fail(const char* what) {
    std::printf("failed: %s (error %lu)\n", what, ::GetLastError());
    std::fflush(stdout);
    return 1;
}

// Blocks until a line comes on `in`; false at its end. Whoever runs the launcher bounds this wait.
bool WaitForLine(HANDLE in) {
    char c = 0;
    DWORD got = 0;
    while (::ReadFile(in, &c, 1, &got, nullptr) && got == 1)
        if (c == '\n') return true;
    return false;
}

struct Event {
    DWORD event;
    const char* name;
};
constexpr Event kEvents[] = {{CTRL_BREAK_EVENT, "Ctrl+Break"}, {CTRL_C_EVENT, "Ctrl+C"}};

const char* SendStop(DWORD group) {
    for (const Event& e : kEvents)
        if (::GenerateConsoleCtrlEvent(e.event, group)) return e.name;
    return nullptr;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::printf("usage: qln_console_ctrl_launcher COMMAND-LINE\n");
        return 2;
    }
    // The pipes it was started with, before the new console takes the standard handles.
    const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
    ::FreeConsole();
    if (!::AllocConsole()) return Fail("AllocConsole");
    for (HANDLE h : {out, err})
        ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    std::wstring line = argv[1];
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr,
                          nullptr, &si, &pi))
        return Fail("CreateProcess");
    ::CloseHandle(pi.hThread);
    if (!WaitForLine(in)) {
        ::TerminateProcess(pi.hProcess, 1);
        return Fail("the input ended before the line that sends the event");
    }
    const char* sent = SendStop(pi.dwProcessId);
    if (!sent) {
        ::TerminateProcess(pi.hProcess, 1);
        return Fail("GenerateConsoleCtrlEvent");
    }
    std::printf("sent %s\n", sent);
    std::fflush(stdout);
    if (::WaitForSingleObject(pi.hProcess, kExitWaitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 1);
        return Fail("the program did not end");
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(pi.hProcess, &code)) return Fail("GetExitCodeProcess");
    std::printf("exit %lu\n", code);
    return 0;
}
