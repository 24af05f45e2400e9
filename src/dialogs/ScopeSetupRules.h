#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "scope/ScopeSetup.h"
#include "scope/ScopeSignalNames.h"

// The rules of the Scope Setup dialog that need no widget: what the record holds once the dialog
// has opened, which input is enabled, how its fields are read and its spins step, and how the
// dialog's values become the record.

constexpr int32_t CONTROLLER_CASCADED = 6; // master/slave has a meaning only here
constexpr int32_t CONTROLLER_FLOW_CONTROL = FLOW_CONTROL_STRUCTURE;

// Opening fixes the record itself (kept even when the dialog is cancelled): the acquisition time
// within 4..20 and the fixed binary channels 1 and 4.
void PrepareScopeSetup(ScopeSetup& record);

struct ScopeSetupEnabling {
    bool analog;          // the four analog lists
    bool binary;          // binary lists 2 and 3 (1 and 4 never)
    bool acquisitionTime; // edit and spin
    bool modes;           // the three mode buttons
    bool setpoints;       // setpoint begin and end
    bool rampTime;
    bool triggerChannel; // and the sample rate
    bool triggerValue;
    bool slope;
    bool masterSlave;
};
// Nothing but OK and Cancel while an action is requested or running; otherwise by mode and
// trigger channel. Master/slave only with the cascaded structure.
ScopeSetupEnabling ScopeSetupEnable(const ScopeSetup& copy, uint32_t threadCmd, int32_t controllerStructure);

// A field as read when it loses the focus: the value, its text as written back, the spin position.
struct ScopeField {
    double value;
    std::string text;
    int position;
};
enum class ScopeFieldKind { AcquisitionTime, TriggerValue, SetpointBegin, SetpointEnd, RampTime };
ScopeField ReadScopeField(ScopeFieldKind kind, const std::string& text);
// The field of a value (as the dialog opens).
ScopeField ScopeFieldOf(ScopeFieldKind kind, double value);
// One spin click: the position moves and stays in its range; the field follows.
ScopeField StepScopeField(ScopeFieldKind kind, int position, int delta);

// What the dialog's controls hold when its values are taken over (OK and Cancel).
struct ScopeSetupInputs {
    std::array<int, 4> analog{}; // list selections, -1 for none
    std::array<int, 4> binary{};
    int triggerChannel = 0;
    bool falling = false;
    bool slave = false;
    int rateIndex = 0;
    int mode = 2;
    std::string acquisitionTime, triggerValue, begin, end, rampTime;
};
// The record the inputs make of `copy`: a list without a selection gives 0, a selection beyond its
// list the last entry; the fixed binary channels; master unless the structure is cascaded.
ScopeSetup TakeOverScopeSetup(const ScopeSetup& copy, const ScopeSetupInputs& in,
                              int32_t controllerStructure);
