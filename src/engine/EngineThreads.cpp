#include "engine/EngineThreads.h"

#include "engine/Action.h"
#include "link/ComThread.h"
#include "link/SerialPort.h"
#include "system/ThreadPriority.h"

EngineThreads::EngineThreads(QlnState& s, INotifier& notifier) : s_(s), notifier_(notifier) {}

EngineThreads::~EngineThreads() {
    Stop();
}

void EngineThreads::Start() {
    if (running_) return;
    LinkState& l = s_.link;
    for (auto& rs : l.RunStates)
        rs.store(RUN_RUNNING);
    // The receiver runs highest, supervisor and engine above normal, the transmitter below.
    mainCtrl_ = std::thread([&l] {
        RequestThreadPriority(1);
        MainCtrlThread(l);
    });
    action_ = std::thread([this] {
        RequestThreadPriority(1);
        ActionThread(s_, notifier_);
    });
    writeCom_ = std::thread([&l] {
        RequestThreadPriority(-1);
        WriteComThread(l);
    });
    readCom_ = std::thread([&l] {
        RequestThreadPriority(2);
        ReadComThread(l);
    });
    running_ = true;
}

bool EngineThreads::FinishStop(uint32_t limitMs) {
    LinkState& l = s_.link;
    const uint32_t start = l.clock->NowMs();
    for (;;) {
        // Taken before the state is looked at: a change from here on ends the wait below.
        const uint32_t seen = s_.CommandsChanged.count.load();
        if (!running_ || l.RunStates[THREAD_ACTION].load() != RUN_RUNNING ||
            !StopRequested(s_.THREAD_CMD.load()))
            return true;
        const uint32_t waited = l.clock->NowMs() - start;
        if (waited >= limitMs) return false;
        l.clock->Wait(s_.CommandsChanged, seen, limitMs - waited);
    }
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
