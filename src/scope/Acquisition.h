#pragma once
#include <cstdint>
#include <string>

#include "scope/SampleBuffer.h"
#include "scope/ScopeSetup.h"

// What the engine needs to record a scope: the timing of a recording, the bytes of its
// configuration telegrams, the decoding of the valve's 6-byte sample records and the trigger.

constexpr int SAMPLE_RATE_COUNT = 6;
constexpr int MAX_WINDOW = 5000; // 20 s at 4 ms
constexpr int RECORD_SIZE = 6;

// The sample period of a sample-rate index, as the float the counts are computed from.
float SamplePeriod(int32_t rateIndex);
// The PRS data byte: the period in milliseconds.
uint8_t PeriodMilliseconds(int32_t rateIndex);

// The set-up as a recording may use it: a project file can hold anything, so every value that
// sizes or indexes something is brought into its range (acquisition time 4..20, rate index 0..5,
// trigger channel 0..8, slope 0..1, trigger value -100..100, signals within their lists, the
// fixed binary channels 1 and 4).
ScopeSetup CheckedForRecording(const ScopeSetup& s);

struct AcquisitionPlan {
    float period;         // seconds
    int blockSize;        // records per block request
    int displayThreshold; // records between two redraws
    int windowLength;     // N
    int postTrigger;      // M, records after the trigger point
};
// Roll/trigger mode records at the set-up's rate; ramp and step mode always at 4 ms.
AcquisitionPlan PlanRoll(const ScopeSetup& checked);
AcquisitionPlan PlanRecording(const ScopeSetup& checked);

// How many samples a stored recording holds: the window of its set-up's mode, none when it is
// empty (all zero).
int StoredSampleCount(const ScopeSetup& setup, bool empty);

// The ACS byte: analog channel 1's signal in bit 6, channel 2's in bits 4..5, channel 3's in
// bits 2..3 and channel 4's in bits 0..1 ("none" and unknown signals as 0).
uint8_t AnalogSelectByte(const ScopeSetup& s);
// The ACR reply's value byte into the reported analog signals and their valid flag.
void DecodeAnalogReport(uint8_t b, ScopeSetup& s);

// One sample record (STX first) into element `i` of every channel. Returns false (and stores
// nothing) when byte 0 is not STX.
bool DecodeSampleRecord(const uint8_t* record, const ScopeSetup& checked, SampleBuffer& buffer, int i);

// The trigger of a roll/trigger recording, tested once per record after the record is stored.
class TriggerTest {
public:
    void Reset() { fired_ = false; }
    bool Fired() const { return fired_; }
    // Tests element `i` against `i - 1`; `records` counts the records since the start. Returns
    // the trace entry of the first firing, else "".
    std::string Test(const ScopeSetup& checked, const SampleBuffer& buffer, int i, uint32_t records);

private:
    bool fired_ = false;
};
