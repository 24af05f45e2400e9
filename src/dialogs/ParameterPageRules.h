#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/ParameterPageLayout.h"
#include "params/ParameterCheck.h"
#include "params/ParameterTable.h"
#include "params/ParameterText.h"

class TextSource;
struct QlnState;

// The parameter editor's rules that need no widget: the edit-box validators, the spin arithmetic,
// which control is enabled, which one is marked, the texts the boxes show, and the editor's
// buttons with what they do to the shared parameter blocks and the request word.

// ---- requests ------------------------------------------------------------------------------------
enum class RequestMode {
    WhenIdle,   // only into an idle request word, atomically (a request is never overwritten)
    AsItStands, // added to whatever is requested (the read-back after a write)
};
// The editor's one way into THREAD_CMD. Returns true when the bits were requested.
bool RequestParameterAction(std::atomic<uint32_t>& threadCmd, uint32_t bits,
                            RequestMode mode = RequestMode::WhenIdle);

// ---- edit boxes ----------------------------------------------------------------------------------
// What the user typed becomes a value the field may hold: at most 13 characters are read, the text
// is cut at the first character that is not a digit or '-' ("12a5" gives 12, "3-4" gives 3), an
// empty or number-less text gives 0, and the value is limited to min..max. The field takes the
// value and `text` becomes the value written back.
void ValidateIntEdit(std::string& text, int32_t& field, int32_t min, int32_t max);
// The same for a fraction: digits and '.' are kept, a '-' only as the first character and only when
// min is below 0. The text written back has one decimal ("%1.1f"). The pages then round the value
// to what the valve can hold (ValveValue of the parameter table).
void ValidateFloatEdit(std::string& text, float& field, float min, float max);

// ---- spin ----------------------------------------------------------------------------------------
struct SpinRange {
    int low, high;
};
// Positions from limit / step: 0..250 for Forward Gain, 2..200 for the PWM frequency.
SpinRange SpinRangeOf(const ParameterDescription& p);
// value / step, fractions cut (a float a hair below its step counts as on it): 1.27 in a one-decimal
// field gives 12, 25 Hz gives 2.
int SpinPosition(const ParameterDescription& p, double value);
struct SpinStep {
    int position;
    double value; // position x step
};
// One click or arrow key: the position moves by `delta` and stays inside the range.
SpinStep StepSpin(const ParameterDescription& p, SpinRange range, int position, int delta);

// ---- enabling and marking ------------------------------------------------------------------------
// Busy engine or the factory set shown: nothing on the pages can be changed.
bool PagesLocked(uint32_t threadCmd, const ParameterBlock& local);
bool DependencyAllows(const Dependency& d, const ParameterBlock& local);
// A page control may be used: pages not locked, the settings file shows the parameter, and the
// field it depends on allows it.
bool ControlEnabled(const PageItem& item, const ParameterDescription& p, const ParameterBlock& local,
                    const uint8_t* visibilityFlags, uint32_t threadCmd);

// Red marks the button of the valve's value when the edited value is another one.
bool ButtonMarkedRed(int32_t buttonValue, int32_t local, int32_t valve, bool valveValid);
// The edited number, as the valve would get it, is not what the valve holds (floats within a
// thousandth of a step are equal).
bool NumberDiffers(const ParameterDescription& p, const ParameterBlock& local, const ParameterBlock& valve,
                   bool valveValid);

// ---- texts ---------------------------------------------------------------------------------------
// What a box for the valve's value shows: " -- " until a complete read, else the number in the
// field's format or the choice's text.
std::string ValveText(const ParameterDescription& p, const ParameterBlock& valve, bool valveValid,
                      const TextSource& texts);
// With a language library its text for the id; without one the page's own caption, which is the
// program's text unless the page shows something else.
std::string Caption(unsigned textId, const char* ownCaption, const TextSource& texts);
std::string ButtonCaption(const ButtonPlace& b, const ParameterDescription& p, const TextSource& texts);
std::string ItemCaption(const PageItem& item, const ParameterDescription* p, const TextSource& texts);

// ---- the editor ----------------------------------------------------------------------------------
struct EditorButtons {
    bool read, write, copy, factory, custom;
};

// The Parameters dialog without its widgets: the private copy the pages edit, the copy of the
// valve's block they show, the changed flag the main window reads, and what each button does to
// the shared blocks and the request word. The window thread owns it; the engine thread is reached
// only through THREAD_CMD, and shared blocks are read or written only while the engine leaves them
// alone.
class ParameterEditor {
public:
    explicit ParameterEditor(QlnState& state);

    ParameterBlock& Local() { return local_; }
    const ParameterBlock& Local() const { return local_; }
    const ParameterBlock& Valve() const { return valve_; }
    bool ValveValid() const { return valveValid_; }
    bool Changed() const { return changed_; }
    bool Busy() const;
    uint32_t ThreadCmd() const;
    const uint8_t* VisibilityFlags() const;

    // Takes a fresh copy of the valve's block unless a read is running.
    void TakeValveSnapshot();
    EditorButtons Buttons() const;

    // Each returns true when it requested an action. Refused sets come back in `problems`. Write
    // and ChooseSet first round every number of the edited set to what the valve can hold, so that
    // the valve gets what the pages show once they are refreshed.
    bool Read();
    bool Write(std::vector<RangeProblem>& problems);
    // Factory (1) or Custom (0); false also when that set is already chosen.
    bool ChooseSet(int32_t set, std::vector<RangeProblem>& problems);
    // The valve's values become the edited ones; false (nothing copied) unless a complete read is there.
    bool Copy();
    // The edits go to the project's set, unless an action runs: then the engine may be sending
    // that set, and the edits were stored when the action was requested. Returns true when stored.
    bool Close();

    // 64: the set choice follows the valve.
    void OnParametersRead();
    // 65: what was written is read back at once.
    void OnParametersWritten();

private:
    void StoreToProject();
    // Into THREAD_CMD, and the engine woken so it starts at once.
    bool Request(uint32_t bits, RequestMode mode);

    QlnState& s_;
    ParameterBlock local_;
    ParameterBlock valve_{};
    bool valveValid_ = false;
    bool changed_ = false;
};

// The message of a refused write: what is wrong, field by field, and what to do.
std::string RefusalText(const std::vector<RangeProblem>& problems, const TextSource& texts);
