#include "dialogs/ParameterPageRules.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr size_t EDIT_TEXT_LIMIT = 13;
constexpr unsigned TEXT_NO_VALUE = 134;
constexpr unsigned TEXT_PARAMETER_SETTING = 192;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A quotient as a spin position: NaN and far-off values must not turn into undefined casts.
int Position(double q) {
    if (!std::isfinite(q)) return 0;
    return static_cast<int>(std::trunc(std::fmax(-1e9, std::fmin(1e9, q))));
}
} // namespace

// ---- requests ------------------------------------------------------------------------------------

bool RequestParameterAction(std::atomic<uint32_t>& threadCmd, uint32_t bits, RequestMode mode) {
    if (mode == RequestMode::AsItStands) {
        threadCmd.fetch_or(bits);
        return true;
    }
    uint32_t idle = 0;
    return threadCmd.compare_exchange_strong(idle, bits);
}

// ---- edit boxes ----------------------------------------------------------------------------------

void ValidateIntEdit(std::string& text, int32_t& field, int32_t min, int32_t max) {
    const std::string typed = text.substr(0, EDIT_TEXT_LIMIT);
    size_t kept = 0;
    while (kept < typed.size() && (IsDigit(typed[kept]) || typed[kept] == '-'))
        ++kept;
    // The decimal conversion takes one leading sign and the digits after it; a sign after digits
    // ends the number.
    size_t i = 0;
    const bool negative = kept > 0 && typed[0] == '-';
    if (negative) i = 1;
    int64_t value = 0;
    for (; i < kept && IsDigit(typed[i]); ++i)
        value = value * 10 + (typed[i] - '0');
    if (negative) value = -value;
    if (value < min) value = min;
    if (value > max) value = max;
    field = static_cast<int32_t>(value);
    text = std::to_string(field);
}

void ValidateFloatEdit(std::string& text, float& field, float min, float max) {
    const std::string typed = text.substr(0, EDIT_TEXT_LIMIT);
    std::string kept;
    for (size_t i = 0; i < typed.size(); ++i) {
        const char c = typed[i];
        if (IsDigit(c) || c == '.' || (c == '-' && i == 0 && min < 0))
            kept += c;
        else
            break;
    }
    double parsed = 0;
    // The longest number at the start counts ("1.2.3" is 1.2); none at all is 0.
    if (std::from_chars(kept.data(), kept.data() + kept.size(), parsed).ec != std::errc()) parsed = 0;
    float value = static_cast<float>(parsed);
    if (value < min) value = min;
    if (value > max) value = max;
    field = value;
    text = FixedText(value, 1);
}

// ---- spin ----------------------------------------------------------------------------------------

SpinRange SpinRangeOf(const ParameterDescription& p) {
    return {static_cast<int>(std::lround(p.min / p.step)), static_cast<int>(std::lround(p.max / p.step))};
}

int SpinPosition(const ParameterDescription& p, double value) {
    if (p.type == FieldType::Int) {
        if (!std::isfinite(value)) return 0;
        return static_cast<int>(static_cast<int64_t>(value) / static_cast<int64_t>(std::lround(p.step)));
    }
    // A float a hair below a multiple of its step (0.35f is 0.34999...) is on that step.
    const double q = value / p.step;
    return Position(q + (q >= 0 ? 1e-4 : -1e-4));
}

SpinStep StepSpin(const ParameterDescription& p, SpinRange range, int position, int delta) {
    int next = position + delta;
    if (next < range.low) next = range.low;
    if (next > range.high) next = range.high;
    return {next, next * p.step};
}

// ---- enabling and marking ------------------------------------------------------------------------

bool PagesLocked(uint32_t threadCmd, const ParameterBlock& local) {
    return threadCmd != 0 || local.PARAMETER_SET == 1;
}

bool DependencyAllows(const Dependency& d, const ParameterBlock& local) {
    if (!d.on) return true;
    const ParameterDescription* other = FindParameter(d.on);
    if (!other) return false;
    const int32_t v = GetInt(local, other->offset);
    const bool listed = v >= 0 && v < 8 && ((d.values >> v) & 1u) != 0;
    return d.only ? listed : !listed;
}

bool ControlEnabled(const PageItem& item, const ParameterDescription& p, const ParameterBlock& local,
                    const uint8_t* visibilityFlags, uint32_t threadCmd) {
    if (PagesLocked(threadCmd, local)) return false;
    const int flag = IniIndex(p);
    if (flag < 0 || visibilityFlags[flag] != 1) return false;
    return DependencyAllows(item.dependency, local);
}

bool ButtonMarkedRed(int32_t buttonValue, int32_t local, int32_t valve, bool valveValid) {
    return valveValid && buttonValue == valve && local != valve;
}

bool NumberDiffers(const ParameterDescription& p, const ParameterBlock& local, const ParameterBlock& valve,
                   bool valveValid) {
    if (!valveValid) return false;
    // The edited value as its box shows it and a write sends it.
    const double a = ValveValue(p, GetValue(local, p));
    const double b = GetValue(valve, p);
    if (p.type == FieldType::Int) return a != b;
    if (std::isnan(a) || std::isnan(b)) return !(std::isnan(a) && std::isnan(b));
    return std::fabs(a - b) > p.step / 1000;
}

// ---- texts ---------------------------------------------------------------------------------------

std::string ValveText(const ParameterDescription& p, const ParameterBlock& valve, bool valveValid,
                      const TextSource& texts) {
    if (!valveValid) return texts.Get(TEXT_NO_VALUE);
    if (HasChoices(p)) return ChoiceStatusText(p, GetInt(valve, p.offset), texts);
    return FormatNumber(p, GetValue(valve, p));
}

std::string Caption(unsigned textId, const char* ownCaption, const TextSource& texts) {
    if (texts.HasLibrary() && textId != 0) return texts.Get(textId);
    if (ownCaption) return ownCaption;
    return textId != 0 ? TextSource::Builtin(textId) : std::string();
}

std::string ButtonCaption(const ButtonPlace& b, const ParameterDescription& p, const TextSource& texts) {
    if (b.value == HEADING) return Caption(b.text, b.caption, texts);
    const bool listed = b.value >= 0 && static_cast<size_t>(b.value) < p.choices.size();
    const Choice* c = listed ? &p.choices[static_cast<size_t>(b.value)] : nullptr;
    const unsigned id = b.text != 0 ? b.text : (c ? c->textId : 0);
    if (id == 0) return c && c->literal ? std::string(c->literal) : std::string();
    return Caption(id, b.caption, texts);
}

std::string ItemCaption(const PageItem& item, const ParameterDescription* p, const TextSource& texts) {
    const unsigned id = item.text != 0 ? item.text : (p ? p->labelText : 0);
    return Caption(id, item.caption, texts);
}

// ---- the editor ----------------------------------------------------------------------------------

ParameterEditor::ParameterEditor(QlnState& state) : s_(state), local_(state.params.EditBlock) {
    TakeValveSnapshot();
}

bool ParameterEditor::Busy() const {
    return s_.THREAD_CMD.load() != 0;
}

uint32_t ParameterEditor::ThreadCmd() const {
    return s_.THREAD_CMD.load();
}

const uint8_t* ParameterEditor::VisibilityFlags() const {
    return s_.params.VisibilityFlags;
}

void ParameterEditor::TakeValveSnapshot() {
    // The engine writes the valve's block only while a parameter read is requested; the bit is
    // cleared after the last field is written, so outside of it the block is settled.
    if (s_.THREAD_CMD.load() & CMD_READ_PARAMETER) return;
    ParameterBlock& shared = s_.params.ValveBlock;
    valveValid_ = LoadValid(shared.BLOCK_VALID) != 0;
    valve_ = shared;
}

EditorButtons ParameterEditor::Buttons() const {
    if (Busy()) return {false, false, false, false, false};
    return {true, local_.PARAMETER_SET != 1 && s_.params.WriteEnabled == 1, valveValid_, true, true};
}

void ParameterEditor::StoreToProject() {
    if (std::memcmp(&local_, &s_.params.EditBlock, sizeof local_) != 0) changed_ = true;
    s_.params.EditBlock = local_;
}

bool ParameterEditor::Request(uint32_t bits, RequestMode mode) {
    if (!RequestParameterAction(s_.THREAD_CMD, bits, mode)) return false;
    WakeEngine(s_.link);
    return true;
}

bool ParameterEditor::Read() {
    if (Busy()) return false;
    s_.params.WriteEnabled = 0;
    StoreToProject();
    s_.params.ReadPurpose = ParameterBlocks::READ_PLAIN;
    return Request(CMD_READ_PARAMETER, RequestMode::WhenIdle);
}

bool ParameterEditor::Write(std::vector<RangeProblem>& problems) {
    problems.clear();
    if (!Buttons().write) return false;
    RoundToValveSteps(local_);
    problems = CheckWrittenFields(local_);
    if (!problems.empty()) return false;
    StoreToProject();
    // With the valve history on, the valve's set is read and kept as the backup first; the window
    // starts the write once it has it, and not at all when that read fails.
    if (!(s_.HistoryJobs.load() & CMD_WRITE_PARAMETER))
        return Request(CMD_WRITE_PARAMETER, RequestMode::WhenIdle);
    // The purpose goes with this request only: whatever ends it (success, any failure, a refusal)
    // ends the purpose too, so a later read is never taken for this write's backup.
    s_.params.ReadPurpose = ParameterBlocks::READ_BACKUP;
    if (Request(CMD_READ_PARAMETER, RequestMode::WhenIdle)) return true;
    s_.params.ReadPurpose = ParameterBlocks::READ_PLAIN;
    return false;
}

bool ParameterEditor::ChooseSet(int32_t set, std::vector<RangeProblem>& problems) {
    problems.clear();
    if (Busy() || local_.PARAMETER_SET == set) return false;
    RoundToValveSteps(local_);
    // The switch telegram carries the configuration flags of the edited set along with the choice.
    ParameterBlock next = local_;
    next.PARAMETER_SET = set;
    for (const RangeProblem& p : CheckWrittenFields(next))
        if (p.field->telegram == ParamTelegram::CAR) problems.push_back(p);
    if (!problems.empty()) return false;
    s_.params.WriteEnabled = 0;
    local_.PARAMETER_SET = set;
    StoreToProject();
    const uint32_t which = set == 1 ? CMD_FACTORY_SET : CMD_CUSTOM_SET;
    s_.params.ReadPurpose = ParameterBlocks::READ_PLAIN;
    return Request(which | CMD_READ_PARAMETER, RequestMode::WhenIdle);
}

bool ParameterEditor::Copy() {
    if (Busy()) return false;
    TakeValveSnapshot();
    if (!valveValid_) return false;
    s_.params.EditBlock = valve_;
    local_ = valve_;
    changed_ = true;
    s_.params.WriteEnabled = 1;
    return true;
}

bool ParameterEditor::Close() {
    // A write asked for in this editor is not carried out once it has gone: its backup's read, if it
    // still runs, ends as a plain read.
    s_.params.ReadPurpose = ParameterBlocks::READ_PLAIN;
    if (Busy()) return false;
    StoreToProject();
    return true;
}

void ParameterEditor::OnParametersRead() {
    TakeValveSnapshot();
    if (valveValid_) local_.PARAMETER_SET = valve_.PARAMETER_SET;
}

void ParameterEditor::OnParametersWritten() {
    // Joins whatever runs (a request as it stands is always taken).
    s_.params.ReadPurpose = ParameterBlocks::READ_BACK;
    s_.ReadBackRequested.store(1);
    Request(CMD_READ_PARAMETER, RequestMode::AsItStands);
}

std::string RefusalText(const std::vector<RangeProblem>& problems, const TextSource& texts) {
    std::string text = "The parameters were not written: these values lie outside their ranges.\n\n";
    for (const RangeProblem& p : problems) {
        const unsigned where =
            p.field->page == Page::NotEdited ? TEXT_PARAMETER_SETTING : LayoutOf(p.field->page).titleText;
        text += texts.Get(where) + ": " + DescribeProblem(p) + "\n";
    }
    text += "\nCorrect the marked fields on their pages, or read the valve's parameters and copy them.";
    return text;
}
