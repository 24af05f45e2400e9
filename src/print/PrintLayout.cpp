#include "print/PrintLayout.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <span>

#include "engine/QlnState.h"
#include "params/ParameterTable.h"
#include "params/ParameterText.h"
#include "print/StepRows.h"
#include "scope/Acquisition.h"
#include "scope/ScopeSignalNames.h"
#include "text/Encoding.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_NOT_READ = 134; // " -- "
constexpr unsigned TEXT_PARAMETERS = 55;
constexpr const char* PRINTED_VERSION = "1.01"; // the parameter and scope heads always say so

// A number with `decimals` places and a '.' whatever the user's locale.
std::string Fixed(int decimals, double v) {
    if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v < 0 ? "-inf" : "inf");
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buf, r.ptr) : std::string("?");
}

std::string Int(long long v) {
    return std::to_string(v);
}

std::string Name(const PrintProject& p) {
    return Cp1252ToUtf8(FieldText(p.info.ProjectName));
}

// ---- page heads ----------------------------------------------------------------------------------
void AddHead(PrintedPage& page, PageGeometry g, const std::string& header, int n, int m, const PrintTime& now,
             const TextSource& t) {
    const int x = g.width * 10 / 677;
    const int y = g.height / 238;
    page.texts.push_back({x, y, header});
    char date[64];
    std::snprintf(date, sizeof date, " %d.%d.%d ", now.day, now.month, now.year);
    char time[16];
    std::snprintf(time, sizeof time, " %02d:%02d ", now.hour, now.minute);
    page.texts.push_back(
        {g.width * 3 / 4, y + g.LineHeight(), t.Get(57) + " " + Int(n) + " / " + Int(m) + " "});
    page.texts.push_back({x, y + g.LineHeight(), t.Get(58) + date + t.Get(59) + time});
}

std::string Bracket(const PrintProject& p) {
    return "[" + Name(p) + ", " + p.fullPath + "]";
}

// ---- the project page ----------------------------------------------------------------------------
using ProjectValue = std::string (*)(const PrintProject&);

struct ProjectLine {
    int advance; // line heights below the line before
    unsigned label;
    ProjectValue value; // nullptr: a heading
};

// clang-format off
constexpr ProjectLine PROJECT_LINES[] = {
    {0, 40, nullptr},
    {2, 41, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.FileName)); }},
    {1, 42, [](const PrintProject& p) { return Name(p); }},
    {1, 43, [](const PrintProject& p) { return Int(p.info.Version); }},
    {3, 44, nullptr},
    {2, 45, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.Company)); }},
    {1, 46, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.Address)); }},
    {1, 47, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.City)); }},
    {1, 48, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.Phone)); }},
    {1, 49, [](const PrintProject& p) { return Cp1252ToUtf8(FieldText(p.info.Email)); }},
};
// clang-format on

PrintedPage ProjectPage(const PrintProject& p, PageGeometry g, const PrintTime& now, const TextSource& t) {
    PrintedPage page;
    AddHead(page, g, "QLN Edit Version " + Fixed(2, p.formatVersion) + " " + t.Get(30) + " " + Bracket(p), 1,
            1, now, t);
    int y = g.FirstLine();
    for (const ProjectLine& line : PROJECT_LINES) {
        y += line.advance * g.LineHeight();
        page.texts.push_back({g.LabelX(), y, t.Get(line.label)});
        if (line.value) page.texts.push_back({g.WriteX(), y, line.value(p)});
    }
    return page;
}

// ---- the parameter pages -------------------------------------------------------------------------
enum class RowKind : uint8_t {
    SetChoice, // the parameter set of both instances; its Write value always printed
    Group,     // "<text> - Parameters", two line heights below the line before
    Heading,   // a sub-heading in the label column
    Value,     // label, written value, read value
    ReadOnly,  // label and read value; nobody writes it
};

struct PrintRow {
    RowKind kind;
    const char* field = nullptr;
    unsigned text = 0;                     // Group, Heading: the text; rows take the field's label
    std::span<const Choice> readChoices{}; // where the Read column names the values otherwise
};

// The valve reports its overcurrent source and its unused range detection in its own words.
constexpr Choice SOURCE_READ[] = {{255, nullptr}, {0, ">I"}};
constexpr Choice RANGE_READ[] = {{181, nullptr}, {0, "> 20 mA"}, {0, "< 4 mA"}, {0, "> 20 mA + < 4 mA"}};

using enum RowKind;
// clang-format off
constexpr PrintRow PAGE_1[] = {
    {SetChoice, "PARAMETER_SET"},
    {Group, nullptr, 195},
    {Value, "FORWARD_OFFSET"}, {Value, "FORWARD_GAIN"}, {Value, "PROPORTIONAL_GAIN"}, {Value, "DERIVATION_TIME"},
    {Value, "INTEGRATION_TIME"}, {Value, "INTEGRATION_LIMIT"}, {Value, "DEAD_BAND"}, {Value, "PWM_FREQUENCY"},
    {Value, "CONTROL_CYCLE_TIME"}, {Value, "CONTROLLER_STRUCTURE"}, {Value, "I_VALUE"}, {Value, "I_SEARCH"},
    {Value, "I_SEARCH_RAMPTIME"}, {Value, "I_SEARCH_FEEDBACK_THRESHOLD"},
    {Group, nullptr, 214},
    {Value, "SETPOINT_SIGNAL"}, {Value, "SETPOINT_DIRECTION"}, {Value, "SHUT_OFF"}, {Value, "SHUT_OFF_LEVEL"},
    {Value, "SETPOINT_ADJUSTMENT"}, {Value, "SETPOINT_OFFSET"}, {Value, "SETPOINT_SPAN"},
    {Value, "SETPOINT_SELECTION"}, {Value, "RAMP_FUNCTION"}, {Value, "RAMP_RISE_TIME"}, {Value, "RAMP_FALL_TIME"},
};
constexpr PrintRow PAGE_2[] = {
    {Group, nullptr, 242},
    {Value, "ANALOG_OUT_SELECT"}, {Heading, nullptr, 243}, {Value, "FEEDBACK_SELECT"},
    {Value, "AUTO_ZERO_FEEDBACK"}, {ReadOnly, "AUTO_ZERO_VALUE"}, {Value, "AUTO_ZERO_DP_FEEDBACK"},
    {ReadOnly, "AUTO_ZERO_DP_VALUE"}, {Value, "ANALOG_IN_2_SIGNAL"}, {Value, "ANALOG_IN_2_DIRECTION"},
    {Group, nullptr, 252},
    {Value, "AUTOSAFE"}, {Value, "OVERTEMPERATURE"}, {Value, "OVERTEMPERATURE_LIMIT"},
    {Value, "AUTOSAFE_SOURCE", 0, SOURCE_READ}, {Value, "CURRENT_LIMIT_LEVEL"}, {Heading, nullptr, 261},
    {Value, "DELAY_TIME"}, {Value, "COIL_ON_TIME"}, {Value, "COIL_OFF_TIME"},
    {Value, "OPTION_INPUT_PRESSURE_SENSOR"}, {Value, "INPUT_PRESSURE_LIMIT"},
};
constexpr PrintRow PAGE_3[] = {
    {Group, nullptr, 265},
    {Value, "SELECT_FUNCTION"}, {Value, "SELECT_POLARITY"},
    {Group, nullptr, 279},
    {Value, "DISPLAY_SELECT"}, {Value, "KEY_LOCK"}, {Value, "KEY_FUNCTION"}, {Heading, nullptr, 294},
    {Value, "LED_GREEN"}, {Value, "LED_YELLOW"}, {Value, "LED_RED"},
    {Group, nullptr, 336},
    {Value, "PRESSURE_SWITCH_OUTPUT_SOURCE"}, {Value, "OUTPUT_DELAY"}, {Value, "OUTPUT_MODE"},
    {Value, "WINDOW_SIZE"}, {Value, "LIMIT_SIZE"}, {Value, "LIMIT_HYSTERESIS"},
    {Group, nullptr, 6},
    {Value, "ERROR_SELECT"}, {Value, "SETPOINT_RANGE_DETECTION", 0, RANGE_READ},
};
// clang-format on
const std::span<const PrintRow> PARAMETER_PAGES[] = {PAGE_1, PAGE_2, PAGE_3};
constexpr int PARAMETER_PAGE_COUNT = 3;

// A value as the editor's pages name it; a choice outside its list (from a file or a valve) prints
// as its number, never as a text from past the list's end.
std::string ParameterText(const ParameterDescription& desc, const ParameterBlock& b, const PrintRow& row,
                          int32_t structure, const TextSource& t, bool readColumn) {
    if (!HasChoices(desc)) return FormatNumber(desc, GetValue(b, desc));
    const int32_t v = GetInt(b, desc.offset);
    if (std::string(desc.name) == "FEEDBACK_SELECT" && v == 0) return t.Get(FeedbackSourceText(structure));
    ParameterDescription named = desc;
    if (readColumn && !row.readChoices.empty()) named.choices = row.readChoices;
    if (v < 0 || v >= ChoiceCount(named)) return Int(v);
    return ChoiceStatusText(named, v, t);
}

PrintedPage ParameterPage(const PrintProject& p, int n, PageGeometry g, const PrintTime& now,
                          const TextSource& t) {
    PrintedPage page;
    AddHead(page, g,
            t.Get(IDS_APP_TITLE) + " " + PRINTED_VERSION + " " + t.Get(TEXT_PARAMETERS) + " " + Bracket(p), n,
            PARAMETER_PAGE_COUNT, now, t);
    int y = g.FirstLine();
    page.texts.push_back({g.WriteX(), y, t.Get(143)});
    page.texts.push_back({g.ReadX(), y, t.Get(144)});
    // A valve on its factory set does not use the working set: nothing of it is printed.
    const bool custom = p.valve.PARAMETER_SET == 0;
    const int32_t structure = p.edit.CONTROLLER_STRUCTURE;
    for (const PrintRow& row : PARAMETER_PAGES[n - 1]) {
        y += (row.kind == Group ? 2 : 1) * g.LineHeight();
        if (row.kind == Group) {
            page.texts.push_back({g.LabelX(), y, t.Get(row.text) + " - " + t.Get(TEXT_PARAMETERS)});
            continue;
        }
        if (row.kind == Heading) {
            page.texts.push_back({g.LabelX(), y, t.Get(row.text)});
            continue;
        }
        const ParameterDescription* desc = FindParameter(row.field);
        if (!desc) continue;
        page.texts.push_back({g.LabelX(), y, t.Get(row.kind == SetChoice ? 192 : desc->labelText)});
        if (row.kind == SetChoice || (row.kind == Value && custom))
            page.texts.push_back({g.WriteX(), y, ParameterText(*desc, p.edit, row, structure, t, false)});
        page.texts.push_back(
            {g.ReadX(), y,
             p.valveValid ? ParameterText(*desc, p.valve, row, structure, t, true) : t.Get(TEXT_NOT_READ)});
    }
    return page;
}

// ---- the scope pages -----------------------------------------------------------------------------
constexpr const char* SAMPLE_RATES[] = {"4", "10", "20", "40", "100", "200"};

// A text id of a list, or the number when the stored index lies outside it.
std::string Named(int textId, int32_t index, const TextSource& t) {
    return textId != 0 ? t.Get(static_cast<unsigned>(textId)) : Int(index);
}

template <size_t N> std::string FromList(const unsigned (&ids)[N], int32_t index, const TextSource& t) {
    return Named(index >= 0 && static_cast<size_t>(index) < N ? static_cast<int>(ids[index]) : 0, index, t);
}

bool FlowControl(const PrintProject& p) {
    return p.edit.CONTROLLER_STRUCTURE == STRUCTURE_FLOW;
}

std::string AnalogName(const PrintProject& p, int channel, int32_t index, const TextSource& t) {
    return Named(AnalogSignalTextId(channel, index, FlowControl(p), p.scope.MasterSlave == 1), index, t);
}

std::string NotRead(const TextSource& t) {
    return t.Get(TEXT_NOT_READ);
}

// A column of a set-up row: (project, texts, the row's argument) -> text.
using ScopeValue = std::string (*)(const PrintProject&, const TextSource&, int);

struct ScopeLine {
    unsigned label;
    ScopeValue write; // nullptr: a heading
    ScopeValue read;  // nullptr: the row has no Read column
    int arg = 0;
};

constexpr unsigned MODES[] = {78, 79, 80};
constexpr unsigned TRIGGER_CHANNELS[] = {69, 61, 62, 63, 64, 65, 66, 67, 68};
constexpr unsigned SLOPES[] = {74, 73};
constexpr unsigned MASTER_SLAVE[] = {353, 354};

std::string AnalogWrite(const PrintProject& p, const TextSource& t, int c) {
    return AnalogName(p, c, p.scope.Analog[c].Signal, t);
}
std::string AnalogRead(const PrintProject& p, const TextSource& t, int c) {
    return p.scope.AnalogReportedValid ? AnalogName(p, c, p.scope.Analog[c].Reported, t) : NotRead(t);
}
std::string BinaryWrite(const PrintProject& p, const TextSource& t, int c) {
    return Named(BinarySignalTextId(p.scope.Binary[c]), p.scope.Binary[c], t);
}

// clang-format off
const ScopeLine SCOPE_LINES[] = {
    {77, [](const PrintProject& p, const TextSource& t, int) { return FromList(MODES, p.scope.Mode, t); }, nullptr},
    {145, [](const PrintProject& p, const TextSource&, int) { return Int(p.scope.AcquisitionTime); },
          [](const PrintProject& p, const TextSource& t, int) {
              return p.scope.AcquisitionTimeValid ? Int(p.scope.AcquisitionTimeReported) : NotRead(t); }},
    {81, [](const PrintProject& p, const TextSource&, int) { return Fixed(1, p.scope.SetpointBegin); },
         [](const PrintProject& p, const TextSource& t, int) {
             return p.scope.SetpointBeginValid ? Fixed(1, p.scope.SetpointBeginReported) : NotRead(t); }},
    {82, [](const PrintProject& p, const TextSource&, int) { return Fixed(1, p.scope.SetpointEnd); },
         [](const PrintProject& p, const TextSource& t, int) {
             return p.scope.SetpointEndValid ? Fixed(1, p.scope.SetpointEndReported) : NotRead(t); }},
    {83, [](const PrintProject& p, const TextSource&, int) { return Fixed(1, p.scope.RampTime); }, nullptr},
    {71, nullptr, nullptr},
    {70, [](const PrintProject& p, const TextSource& t, int) {
             return FromList(TRIGGER_CHANNELS, p.scope.TriggerChannel, t); }, nullptr},
    {72, [](const PrintProject& p, const TextSource& t, int) { return FromList(SLOPES, p.scope.TriggerSlope, t); },
         nullptr},
    {75, [](const PrintProject& p, const TextSource&, int) { return Int(p.scope.TriggerValue); }, nullptr},
    {76, [](const PrintProject& p, const TextSource&, int) {
             const int32_t i = p.scope.SampleRateIndex;
             return i >= 0 && i < static_cast<int32_t>(std::size(SAMPLE_RATES)) ? std::string(SAMPLE_RATES[i])
                                                                                   : Int(i); }, nullptr},
    {61, AnalogWrite, AnalogRead, 0}, {62, AnalogWrite, AnalogRead, 1},
    {63, AnalogWrite, AnalogRead, 2}, {64, AnalogWrite, AnalogRead, 3},
    {65, BinaryWrite, nullptr, 0}, {66, BinaryWrite, nullptr, 1},
    {67, BinaryWrite, nullptr, 2}, {68, BinaryWrite, nullptr, 3},
    {352, [](const PrintProject& p, const TextSource& t, int) { return FromList(MASTER_SLAVE, p.scope.MasterSlave, t); },
          nullptr},
};
// clang-format on

std::string ScopeHeader(const PrintProject& p, const TextSource& t) {
    return t.Get(IDS_APP_TITLE) + " " + PRINTED_VERSION + " " + Bracket(p);
}

PrintedPage ScopeSetupPage(const PrintProject& p, PageGeometry g, const PrintTime& now, const TextSource& t) {
    PrintedPage page;
    AddHead(page, g, ScopeHeader(p, t), 1, 2, now, t);
    int y = g.FirstLine();
    page.texts.push_back({g.WriteX(), y, t.Get(143)});
    page.texts.push_back({g.ReadX(), y, t.Get(144)});
    y += g.LineHeight();
    page.texts.push_back({g.LabelX(), y, t.Get(60)});
    for (const ScopeLine& line : SCOPE_LINES) {
        y += g.LineHeight();
        page.texts.push_back({g.LabelX(), y, t.Get(line.label)});
        if (line.write) page.texts.push_back({g.WriteX(), y, line.write(p, t, line.arg)});
        if (line.read) page.texts.push_back({g.ReadX(), y, line.read(p, t, line.arg)});
    }
    return page;
}

constexpr unsigned TEXT_READOUT_TIME = 101;

// The names are those of the set-up page, so that the two pages never disagree.
PrintedCurves Curves(const PrintProject& p, const TextSource& t) {
    PrintedCurves c;
    if (p.view) {
        c.window = p.view->window;
        c.grid = p.view->grid;
    } else {
        const ScopeSetup setup = CheckedForRecording(p.scope);
        c.window = ResetTimeAxis(setup.Mode, setup.SampleRateIndex, setup.AcquisitionTime, 0.0);
        c.window.readoutTime = c.window.start;
    }
    c.window.readoutTime = ReadoutTimeInWindow(c.window);
    for (int ch = 0; ch < 4; ++ch) {
        const auto i = static_cast<size_t>(ch);
        c.analogNames[i] = AnalogWrite(p, t, ch);
        c.binaryNames[i] = BinaryWrite(p, t, ch);
        c.analogShown[i] = AnalogChannelShown(ch, p.scope.Analog[i].Signal);
    }
    c.readoutLabel = t.Get(TEXT_READOUT_TIME);
    c.readoutValue = TimeLabel(c.window.readoutTime);
    return c;
}

PrintedPage CurvesPage(const PrintProject& p, PageGeometry g, const PrintTime& now, const TextSource& t) {
    PrintedPage page;
    page.kind = PageKind::Curves;
    AddHead(page, g, ScopeHeader(p, t), 2, 2, now, t);
    page.curves = Curves(p, t);
    AddStepRows(page, p, g, t);
    return page;
}
} // namespace

PrintButton InitialButton(int selection) {
    switch (selection) {
    case PRINT_PARAMETERS:
        return PrintButton::Parameters;
    case PRINT_SCOPE:
        return PrintButton::Scope;
    default:
        return PrintButton::All;
    }
}

int SelectionFromButtons(bool all, bool parameters, bool scope) {
    if (all) return PRINT_ALL;
    if (scope) return PRINT_SCOPE;
    if (parameters) return PRINT_PARAMETERS;
    return PRINT_NONE;
}

std::unique_ptr<PrintProject> PrintProjectFromFile(const ProjectFile& file, const std::string& fullPath) {
    auto p = std::make_unique<PrintProject>();
    p->info = file.info;
    p->formatVersion = FormatVersion(file);
    p->fullPath = fullPath;
    p->edit = file.editBlock;
    p->scope = file.scopeSetup;
    p->samples->LoadFrom(file.samples);
    p->recorded = {0, StoredSampleCount(file.scopeSetup, p->samples->Empty())};
    return p;
}

std::unique_ptr<PrintProject> TakePrintSnapshot(const QlnState& s, const ProjectFile& file,
                                                const std::string& fullPath) {
    auto p = std::make_unique<PrintProject>();
    p->info = file.info;
    p->formatVersion = FormatVersion(file);
    p->fullPath = fullPath;
    p->edit = s.params.EditBlock;
    // A parameter read (and the test function's read of the controller byte) fills the valve's
    // block field by field: while one runs its values are not printed, as before any read. A
    // recording leaves the block alone, so printing during one still shows what was read.
    if ((s.THREAD_CMD.load() & (CMD_READ_PARAMETER | CMD_READ_TEST_FUNCTION)) == 0) {
        const bool valid =
            std::atomic_ref<const int32_t>(s.params.ValveBlock.BLOCK_VALID).load(std::memory_order_acquire) !=
            0;
        p->valve = s.params.ValveBlock;
        p->valveValid = valid;
    }
    p->scope = CopyScopeSetup(s);
    auto bytes = std::make_unique<uint8_t[]>(SampleBuffer::BYTES);
    s.samples.SaveTo(bytes.get());
    p->samples->LoadFrom(bytes.get());
    p->recorded = RecordedRangeOf(p->scope.Mode == 2, s.FillIndex.load(), s.SamplesReceived.load());
    return p;
}

std::vector<PrintedPage> LayoutPrint(const PrintProject& project, int selection, PageGeometry page,
                                     const PrintTime& now, const TextSource& texts) {
    std::vector<PrintedPage> pages;
    if (selection != PRINT_ALL && selection != PRINT_PARAMETERS && selection != PRINT_SCOPE) return pages;
    pages.push_back(ProjectPage(project, page, now, texts));
    if (selection == PRINT_ALL || selection == PRINT_PARAMETERS)
        for (int n = 1; n <= PARAMETER_PAGE_COUNT; ++n)
            pages.push_back(ParameterPage(project, n, page, now, texts));
    if (selection == PRINT_ALL || selection == PRINT_SCOPE) {
        pages.push_back(ScopeSetupPage(project, page, now, texts));
        pages.push_back(CurvesPage(project, page, now, texts));
    }
    return pages;
}
