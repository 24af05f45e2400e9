#include "scope/ScopeSetup.h"

ScopeSetup DefaultScopeSetup() {
    ScopeSetup s{};
    s.Mode = 2;
    s.AcquisitionTime = 8;
    s.SetpointBegin = 10.0f;
    s.SetpointEnd = 90.0f;
    s.RampTime = 5.0f;
    s.TriggerValue = 10;
    const int32_t analog[4] = {0, 0, 3, 4};
    for (int i = 0; i < 4; ++i)
        s.Analog[i].Signal = analog[i];
    const int32_t binary[4] = {0, 1, 2, 4};
    for (int i = 0; i < 4; ++i)
        s.Binary[i] = binary[i];
    return s;
}

void ForceFixedBinaryChannels(ScopeSetup& s) {
    s.Binary[0] = 0;
    s.Binary[3] = 4;
}
