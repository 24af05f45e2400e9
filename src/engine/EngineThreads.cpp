#include "engine/EngineThreads.h"

#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "engine/Action.h"
#include "link/ComThread.h"
#include "link/SerialPort.h"

namespace {
// Per-thread nice values stand for the priorities: receiver highest, supervisor and engine above
// normal, transmitter below. Raising needs privileges; where the system refuses, the thread keeps
// the normal priority.
void RequestPriority(int niceDelta) {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) (void)::setpriority(PRIO_PROCESS, tid, current - niceDelta);
}
} // namespace

EngineThreads::EngineThreads(QlnState& s, INotifier& notifier) : s_(s), notifier_(notifier) {}

EngineThreads::~EngineThreads() {
    Stop();
}

void EngineThreads::Start() {
    if (running_) return;
    LinkState& l = s_.link;
    for (auto& rs : l.RunStates)
        rs.store(RUN_RUNNING);
    mainCtrl_ = std::thread([&l] {
        RequestPriority(1);
        MainCtrlThread(l);
    });
    action_ = std::thread([this] {
        RequestPriority(1);
        ActionThread(s_, notifier_);
    });
    writeCom_ = std::thread([&l] {
        RequestPriority(-1);
        WriteComThread(l);
    });
    readCom_ = std::thread([&l] {
        RequestPriority(2);
        ReadComThread(l);
    });
    running_ = true;
}

void EngineThreads::Stop() {
    if (!running_) return;
    LinkState& l = s_.link;
    l.RunStates[THREAD_MAINCTRL].store(RUN_STOP_REQUESTED);
    WakeSupervisor(l);
    for (std::thread* t : {&mainCtrl_, &action_, &writeCom_, &readCom_})
        if (t->joinable()) t->join();
    CloseComPort(l);
    running_ = false;
}
