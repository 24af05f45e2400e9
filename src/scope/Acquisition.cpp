#include "scope/Acquisition.h"

#include "scope/ScopeSignalNames.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr float PERIODS[SAMPLE_RATE_COUNT] = {0.004f, 0.01f, 0.02f, 0.04f, 0.1f, 0.2f};
constexpr uint8_t PERIOD_MS[SAMPLE_RATE_COUNT] = {4, 10, 20, 40, 100, 200};
constexpr uint8_t STX_BYTE = 0x02;

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) {
    return std::min(std::max(v, lo), hi);
}

AcquisitionPlan Plan(float period, int window, int32_t seconds) {
    AcquisitionPlan p{};
    p.period = period;
    const double t = period;
    p.blockSize = std::max(1, static_cast<int>(0.2 / t));
    const int threshold = static_cast<int>(0.5 / t);
    p.displayThreshold = threshold > 2 ? threshold - 2 : threshold;
    p.windowLength = std::min(window, MAX_WINDOW);
    p.postTrigger = static_cast<int>(seconds * 0.9 / t) - 1;
    return p;
}

// Analog channels 1 and 2 are 0..100 %; channels 3 and 4 are -100..100 % around 128.
constexpr float UNSIGNED_SCALE = 0.3921568627450981f;
constexpr float SIGNED_SCALE = 0.7843137254901962f;
} // namespace

float SamplePeriod(int32_t rateIndex) {
    return PERIODS[Clamp(rateIndex, 0, SAMPLE_RATE_COUNT - 1)];
}

uint8_t PeriodMilliseconds(int32_t rateIndex) {
    return PERIOD_MS[Clamp(rateIndex, 0, SAMPLE_RATE_COUNT - 1)];
}

ScopeSetup CheckedForRecording(const ScopeSetup& in) {
    ScopeSetup s = in;
    s.AcquisitionTime = Clamp(s.AcquisitionTime, 4, 20);
    s.SampleRateIndex = Clamp(s.SampleRateIndex, 0, SAMPLE_RATE_COUNT - 1);
    s.TriggerChannel = Clamp(s.TriggerChannel, 0, 8);
    s.TriggerSlope = Clamp(s.TriggerSlope, 0, 1);
    s.TriggerValue = Clamp(s.TriggerValue, -100, 100);
    s.MasterSlave = Clamp(s.MasterSlave, 0, 1);
    auto percent = [](float v, float hi) { return std::isfinite(v) ? std::clamp(v, 0.0f, hi) : 0.0f; };
    s.SetpointBegin = percent(s.SetpointBegin, 100.0f);
    s.SetpointEnd = percent(s.SetpointEnd, 100.0f);
    s.RampTime = percent(s.RampTime, 20.0f);
    for (int c = 0; c < 4; ++c) {
        s.Analog[c].Signal = Clamp(s.Analog[c].Signal, 0, AnalogSignalCount(c) - 1);
        s.Binary[c] = Clamp(s.Binary[c], 0, BINARY_SIGNAL_COUNT - 1);
    }
    ForceFixedBinaryChannels(s);
    return s;
}

AcquisitionPlan PlanRoll(const ScopeSetup& s) {
    const float period = SamplePeriod(s.SampleRateIndex);
    return Plan(period, static_cast<int>(s.AcquisitionTime / static_cast<double>(period) + 0.5),
                s.AcquisitionTime);
}

AcquisitionPlan PlanRecording(const ScopeSetup& s) {
    return Plan(PERIODS[0], static_cast<int>(s.AcquisitionTime * 249.99998 + 0.5), s.AcquisitionTime);
}

int StoredSampleCount(const ScopeSetup& setup, bool empty) {
    if (empty) return 0;
    const ScopeSetup s = CheckedForRecording(setup);
    return s.Mode == 2 ? PlanRoll(s).windowLength : PlanRecording(s).windowLength;
}

uint8_t AnalogSelectByte(const ScopeSetup& s) {
    const int32_t a1 = s.Analog[0].Signal, a2 = s.Analog[1].Signal, a3 = s.Analog[2].Signal,
                  a4 = s.Analog[3].Signal;
    int b = 0;
    if (a1 == 1) b |= 0x40;
    if (a2 >= 1 && a2 <= 3) b |= a2 << 4;
    if (a3 == 1 || a3 == 2) b |= a3 << 2;
    if (a4 >= 1 && a4 <= 3) b |= a4;
    return static_cast<uint8_t>(b);
}

void DecodeAnalogReport(uint8_t b, ScopeSetup& s) {
    s.Analog[0].Reported = b >= 64 && b <= 127 ? 1 : 0;
    s.Analog[1].Reported = (b >> 4) & 3;
    const int32_t c3 = (b >> 2) & 3;
    s.Analog[2].Reported = c3 == 3 ? 0 : c3;
    s.Analog[3].Reported = b & 3;
    s.AnalogReportedValid = 1;
}

bool DecodeSampleRecord(const uint8_t* r, const ScopeSetup& s, SampleBuffer& buffer, int i) {
    if (r[0] != STX_BYTE) return false;
    buffer.SetAnalog(0, i, r[1] * UNSIGNED_SCALE);
    buffer.SetAnalog(1, i, r[2] * UNSIGNED_SCALE);
    buffer.SetAnalog(2, i, (r[3] - 128) * SIGNED_SCALE);
    buffer.SetAnalog(3, i, (r[4] - 128) * SIGNED_SCALE);
    for (int k = 0; k < 4; ++k)
        buffer.SetBinary(k, i, (r[5] >> (s.Binary[k] & 7)) & 1);
    return true;
}

std::string TriggerTest::Test(const ScopeSetup& s, const SampleBuffer& b, int i, uint32_t records) {
    const int32_t c = s.TriggerChannel;
    if (c == 0 || records < 2 || i < 1) {
        fired_ = false;
        return "";
    }
    if (fired_) return "";
    const bool rising = s.TriggerSlope == 0;
    char text[96];
    if (c <= 4) {
        const double x = b.Analog(c - 1, i), prev = b.Analog(c - 1, i - 1), v = s.TriggerValue;
        fired_ = rising ? (prev < v && v <= x) : (x <= v && v < prev);
        std::snprintf(text, sizeof text, "%s Trigger, Ana-Ch:%d, Value:%d, %1.1f, %1.1f",
                      rising ? "Rising" : "Falling", c, s.TriggerValue, x, prev);
    } else {
        const int32_t x = b.Binary(c - 5, i), prev = b.Binary(c - 5, i - 1);
        fired_ = rising ? x > prev : x < prev;
        std::snprintf(text, sizeof text, "%s Trigger, Bin-Ch:%d, %d, %d", rising ? "Rising" : "Falling",
                      c - 4, x, prev);
    }
    return fired_ ? text : "";
}
