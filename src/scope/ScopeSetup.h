#pragma once
#include <cstddef>
#include <cstdint>

// How the valve is driven and what is recorded during an acquisition: a 512-byte record of 32-bit
// little-endian fields, stored as it is in project files (so its layout is a file format). The
// "reported" fields hold what the valve answered, with their valid flags.
struct ScopeSetup {
    int32_t Mode;            // 0 step, 1 ramp, 2 trigger (roll or triggered recording)
    int32_t AcquisitionTime; // seconds, 4..20
    int32_t AcquisitionTimeReported;
    int32_t AcquisitionTimeValid;
    float SetpointBegin; // percent, 0..100 in steps of 0.5
    float SetpointBeginReported;
    int32_t SetpointBeginValid;
    float SetpointEnd;
    float SetpointEndReported;
    int32_t SetpointEndValid;
    float RampTime;          // seconds, 0..20 in steps of 0.1
    int32_t TriggerChannel;  // 0 none (roll), 1..4 analog, 5..8 binary channel 1..4
    int32_t TriggerSlope;    // 0 rising, 1 falling
    int32_t TriggerValue;    // percent, -100..100
    int32_t SampleRateIndex; // 0..5 for 4, 10, 20, 40, 100, 200 ms
    struct {
        int32_t Signal;
        int32_t Reported;
    } Analog[4];
    int32_t AnalogReportedValid;
    int32_t Binary[4];   // channel 1 is always 0, channel 4 always 4
    int32_t MasterSlave; // 0 master, 1 slave
    uint8_t Unused[396];
};

static_assert(sizeof(ScopeSetup) == 512, "the record is 512 bytes");
static_assert(offsetof(ScopeSetup, AcquisitionTime) == 4);
static_assert(offsetof(ScopeSetup, SetpointBegin) == 16);
static_assert(offsetof(ScopeSetup, SetpointEnd) == 28);
static_assert(offsetof(ScopeSetup, RampTime) == 40);
static_assert(offsetof(ScopeSetup, TriggerChannel) == 44);
static_assert(offsetof(ScopeSetup, TriggerValue) == 52);
static_assert(offsetof(ScopeSetup, SampleRateIndex) == 56);
static_assert(offsetof(ScopeSetup, Analog) == 60);
static_assert(offsetof(ScopeSetup, AnalogReportedValid) == 92);
static_assert(offsetof(ScopeSetup, Binary) == 96);
static_assert(offsetof(ScopeSetup, MasterSlave) == 112);
static_assert(offsetof(ScopeSetup, Unused) == 116);

// The set-up of a new project: roll mode, 8 s at 4 ms, setpoint 10 % to 90 %, ramp 5 s, trigger
// value 10 %, analog signals Setpoint, Flow, none, none, binary Digital Output, Shut Off, Autosafe,
// Digital Input, master.
ScopeSetup DefaultScopeSetup();

// Binary channel 1 always shows signal 0 and channel 4 signal 4, whatever a file says.
void ForceFixedBinaryChannels(ScopeSetup& s);
