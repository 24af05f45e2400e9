// The engine on the receiving end of a valve that answers with arbitrary bytes: every reply check
// and decoder of every telegram sees garbage, short replies, time-outs and restarts. Single
// threaded: the transmitter and receiver are played here, the supervisor and engine run for real.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/Action.h"
#include "link/ComThread.h"

namespace {
class QuietNotifier : public INotifier {
public:
    void Post(uint32_t, intptr_t) override {}
    void Send(uint32_t, intptr_t) override {}
    void ShowMessage(const std::string&, const std::string&) override {}
};

constexpr uint32_t REQUESTS[] = {
    CMD_READ_PARAMETER, CMD_WRITE_PARAMETER, CMD_READ_DEVICE_INFO,        CMD_READ_STATUS,
    CMD_FACTORY_SET,    CMD_CUSTOM_SET,      CMD_RESET_OPERATION_COUNTER, CMD_RESET_CALIBRATION_COUNTER};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static ManualClock clock;
    static QuietNotifier notifier;
    auto s = std::make_unique<QlnState>(clock);
    s->link.BaudIndex.store(data[0] & 0x80 ? 0 : 2);
    s->link.PortOpen.store(1);
    uint32_t cmd = 0;
    for (size_t b = 0; b < 8; ++b)
        if (data[1] & (1u << b)) cmd |= REQUESTS[b];
    s->THREAD_CMD.store(cmd ? cmd : CMD_READ_PARAMETER);
    ActionEngine engine(*s, notifier);
    size_t i = 2;
    for (int pass = 0; pass < 20000 && s->THREAD_CMD.load() != 0; ++pass) {
        engine.Pass();
        SupervisorStep(s->link);
        if (s->link.TransmitPending.load()) s->link.TransmitPending.store(0); // the transmitter wrote it
        if (s->link.RECEIVE_STATE.load() == RECEIVE_AWAITED && i < size) {
            const size_t n = 1 + data[i] % 16;
            ++i;
            const size_t take = n < size - i ? n : size - i;
            s->link.Ring.Append(data + i, static_cast<uint32_t>(take));
            i += take;
        }
        // Out of bytes: the valve is silent and every wait runs into its time-out.
        clock.Advance(i >= size ? 1000 : 1);
        LinkTick(s->link);
    }
    return 0;
}
