#pragma once
// The real qln-valve program, started for a test (QLN_VALVE_PATH is the built program).
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace qln_test {

// A started qln-valve with the first line of its output (the terminal's path) read. It is ended
// with SIGTERM and reaped however the test ends.
class ValveProcess {
public:
    explicit ValveProcess(std::vector<std::string> args) {
        args.insert(args.begin(), QLN_VALVE_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, QLN_VALVE_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        stdout_ = out[0];
        path_ = ReadLine(std::chrono::seconds(5));
    }
    ValveProcess(const ValveProcess&) = delete;
    ValveProcess& operator=(const ValveProcess&) = delete;
    ~ValveProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            if (WaitExit(std::chrono::seconds(5)) < 0 && pid_ > 0) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
            }
        }
        if (stdout_ >= 0) ::close(stdout_);
    }

    const std::string& SlavePath() const { return path_; }
    pid_t Pid() const { return pid_; }

    // The exit status, or -1 if the program has not ended within `limit`.
    int WaitExit(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0 && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return -1;
    }

private:
    std::string ReadLine(std::chrono::milliseconds limit) {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{stdout_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char c;
            if (::read(stdout_, &c, 1) != 1 || c == '\n') break;
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    std::string path_;
};

} // namespace qln_test
