// The virtual valve's USB adapter: when the bytes of a reply reach the program.
#include <gtest/gtest.h>

#include "UsbAdapter.h"

namespace {

using valve::Micros;
using namespace std::chrono_literals;

// One step: `in` bytes come off the line at `at`; `out` bytes reach the program then.
struct Step {
    Micros at;
    size_t in;
    size_t out;
};

TEST(ValveUsbAdapter, HoldsBytesUntilTheTimerRunsOutSinceTheFirstOrAPacketIsFull) {
    struct Case {
        const char* what;
        Micros latency;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"a short reply waits for the timer", 16ms, {{0ms, 3, 0}, {15999us, 0, 0}, {16ms, 0, 3}}},
        {"later bytes keep the first's timer", 16ms, {{0ms, 2, 0}, {10ms, 2, 0}, {16ms, 0, 4}, {20ms, 0, 0}}},
        {"a full packet goes at once", 16ms, {{0ms, 63, 62}, {1ms, 0, 0}, {16ms, 0, 1}}},
        {"the timer starts again after a packet", 1ms, {{0ms, 1, 0}, {1ms, 0, 1}, {5ms, 1, 0}, {6ms, 0, 1}}},
        {"no timer passes every byte on", 0ms, {{0ms, 3, 3}, {1ms, 1, 1}}},
    };
    for (const Case& c : cases) {
        valve::UsbAdapter adapter(c.latency);
        for (const Step& s : c.steps) {
            EXPECT_EQ(adapter.Pass(valve::Bytes(s.in, 0x55), s.at).size(), s.out)
                << c.what << " at " << s.at.count();
        }
        EXPECT_FALSE(adapter.NextDue()) << c.what << ": everything has been passed on";
    }
    valve::UsbAdapter adapter(16ms);
    adapter.Pass(valve::Bytes(2, 0x55), 5ms);
    EXPECT_EQ(adapter.NextDue(), Micros{21ms}) << "the valve wakes when the held bytes are due";
}

} // namespace
