// The printed pages without a painter: which pages, which texts, where. The numbers are worked out
// by hand from the page geometry for a printable area of 7016 x 4961 pixels (A4 landscape at
// 600 dpi): line height 124, first line 641, columns at 70, 2104 and 4209, head at (103, 20).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "engine/QlnState.h"
#include "print/PrintLayout.h"
#include "project/ProjectFile.h"
#include "scope/ScopeSignalNames.h"
#include "system/Clock.h"
#include "text/Texts.h"

namespace {
constexpr PageGeometry A4{7016, 4961};
constexpr PrintTime NOW{7, 3, 2026, 9, 5};
constexpr int LABEL_X = 70, WRITE_X = 2104, READ_X = 4209, FIRST = 641, E = 124;

struct Fixture {
    Fixture() {
        ResetProject(*file);
        SetFieldText(file->info.ProjectName, "Plant 7");
    }
    std::unique_ptr<PrintProject> Project() const { return PrintProjectFromFile(*file, "/srv/Plant 7.QPJ"); }
    std::unique_ptr<ProjectFile> file = std::make_unique<ProjectFile>();
};

std::vector<PrintedPage> Layout(const PrintProject& p, int selection = PRINT_ALL) {
    return LayoutPrint(p, selection, A4, NOW, TextSource());
}

// The text at a place, or "<none>".
std::string At(const PrintedPage& page, int x, int y) {
    for (const PrintedText& t : page.texts)
        if (t.x == x && t.y == y) return t.text;
    return "<none>";
}

// The texts of a column below the column heads.
std::vector<std::string> Column(const PrintedPage& page, int x) {
    std::vector<std::string> out;
    for (const PrintedText& t : page.texts)
        if (t.x == x && t.y > FIRST) out.push_back(t.text);
    return out;
}

// The value columns of the row whose label is `label`: {write, read}.
std::pair<std::string, std::string> Row(const PrintedPage& page, const std::string& label) {
    for (const PrintedText& t : page.texts)
        if (t.x == LABEL_X && t.text == label) return {At(page, WRITE_X, t.y), At(page, READ_X, t.y)};
    return {"<no row>", "<no row>"};
}
} // namespace

TEST(PrintLayout, SelectionsPrintTheirPartsWithTheirOwnPageNumbers) {
    Fixture f;
    const auto p = f.Project();
    const int headY = 20 + E;
    auto pageTexts = [&](int selection) {
        std::vector<std::string> out;
        for (const PrintedPage& page : Layout(*p, selection))
            out.push_back(At(page, 5262, headY));
        return out;
    };
    EXPECT_EQ(pageTexts(PRINT_PARAMETERS),
              (std::vector<std::string>{"Page 1 / 1 ", "Page 1 / 3 ", "Page 2 / 3 ", "Page 3 / 3 "}));
    EXPECT_EQ(pageTexts(PRINT_SCOPE),
              (std::vector<std::string>{"Page 1 / 1 ", "Page 1 / 2 ", "Page 2 / 2 "}));
    EXPECT_EQ(pageTexts(PRINT_ALL).size(), 6u);
    EXPECT_EQ(Layout(*p, PRINT_ALL).back().kind, PageKind::Curves);
    EXPECT_TRUE(Layout(*p, PRINT_NONE).empty());
    EXPECT_TRUE(Layout(*p, 7).empty());

    const auto pages = Layout(*p);
    EXPECT_EQ(At(pages[0], 103, headY), "Print-Date: 7.3.2026 Time: 09:05 ");
    // A project never saved has no file-format version yet; the other parts always say 1.01.
    EXPECT_EQ(At(pages[0], 103, 20), "QLN Edit Version 0.00 Project Info [Plant 7, /srv/Plant 7.QPJ]");
    EXPECT_EQ(At(pages[1], 103, 20), "Quillon Software 1.01 Parameters [Plant 7, /srv/Plant 7.QPJ]");
    EXPECT_EQ(At(pages[4], 103, 20), "Quillon Software 1.01 [Plant 7, /srv/Plant 7.QPJ]");
    const uint32_t saved = FORMAT_VERSION_BITS;
    std::memcpy(&f.file->calibration.FormatVersion, &saved, 4);
    EXPECT_EQ(At(Layout(*f.Project())[0], 103, 20).substr(0, 21), "QLN Edit Version 1.01");
}

TEST(PrintLayout, ProjectPageLinesAndParameterRowsSitWhereTheGeometrySays) {
    Fixture f;
    SetFieldText(f.file->info.FileName, "Plant 7.QPJ");
    SetFieldText(f.file->info.City, "M\xfcnster"); // Windows-1252 in the file
    f.file->info.Version = 42;
    const auto pages = Layout(*f.Project());
    EXPECT_EQ(At(pages[0], LABEL_X, FIRST), "Project");
    EXPECT_EQ(At(pages[0], LABEL_X, FIRST + 2 * E), "File Name:");
    EXPECT_EQ(At(pages[0], WRITE_X, FIRST + 2 * E), "Plant 7.QPJ");
    EXPECT_EQ(At(pages[0], WRITE_X, FIRST + 4 * E), "42");
    EXPECT_EQ(At(pages[0], LABEL_X, FIRST + 7 * E), "Company:");
    EXPECT_EQ(At(pages[0], LABEL_X, FIRST + 11 * E), "City:");
    EXPECT_EQ(At(pages[0], WRITE_X, FIRST + 11 * E), "M\u00fcnster");
    EXPECT_EQ(At(pages[0], LABEL_X, FIRST + 13 * E), "Email:");

    const PrintedPage& p1 = pages[1];
    EXPECT_EQ(At(p1, WRITE_X, FIRST), "Write");
    EXPECT_EQ(At(p1, READ_X, FIRST), "Read");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + E), "Parameter Setting");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + 3 * E), "Control - Parameters");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + 4 * E), "Forward Offset / %");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + 17 * E), "Feedb. Threshold / %");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + 19 * E), "Setpoint - Parameters");
    EXPECT_EQ(At(p1, LABEL_X, FIRST + 30 * E), "Ramp Fall Time / sec");
    EXPECT_EQ(At(pages[2], LABEL_X, FIRST + 2 * E), "Analog IN/OUT - Parameters");
    EXPECT_EQ(At(pages[2], LABEL_X, FIRST + 4 * E), "Analog IN 2");
    EXPECT_EQ(At(pages[3], LABEL_X, FIRST + 25 * E), "Setpoint Range Detection");
}

TEST(PrintLayout, BeforeAnyReadEveryReadValueIsDashes) {
    Fixture f;
    const auto pages = Layout(*f.Project(), PRINT_PARAMETERS);
    int rows = 0;
    for (int i = 1; i <= 3; ++i)
        for (const std::string& read : Column(pages[i], READ_X)) {
            EXPECT_EQ(read, " -- ");
            ++rows;
        }
    // Every parameter of the three pages but SLAVE_GAIN, plus the set choice.
    EXPECT_EQ(rows, 1 + 14 + 11 + 8 + 10 + 2 + 6 + 6 + 2);
}

TEST(PrintLayout, ValuesUseTheirFormatsAndChoiceTextsAndNumbersOutsideTheLists) {
    Fixture f;
    auto p = f.Project();
    p->edit.FORWARD_GAIN = 1.5f;
    p->edit.DEAD_BAND = 2.5f;
    p->edit.CONTROLLER_STRUCTURE = 7;
    p->edit.SETPOINT_SIGNAL = 64; // a raw byte from a valve
    p->edit.I_VALUE = -1;
    p->edit.AUTOSAFE_SOURCE = 1;
    p->edit.DELAY_TIME = 2;
    p->valveValid = true;
    p->valve.CONTROLLER_STRUCTURE = 9;
    p->valve.AUTOSAFE_SOURCE = 1;
    p->valve.AUTO_ZERO_VALUE = -5;
    p->valve.SETPOINT_RANGE_DETECTION = 0;
    const auto pages = Layout(*p, PRINT_PARAMETERS);
    EXPECT_EQ(Row(pages[1], "Parameter Setting"),
              std::make_pair(std::string("Custom"), std::string("Custom")));
    EXPECT_EQ(Row(pages[1], "Forward Gain").first, "1.50");
    EXPECT_EQ(Row(pages[1], "Dead Band / %").first, "2.5");
    EXPECT_EQ(Row(pages[1], "Controller Structure"),
              std::make_pair(std::string("Flow control"), std::string("9")));
    EXPECT_EQ(Row(pages[1], "Setpoint Signal").first, "64");
    EXPECT_EQ(Row(pages[1], "I-Value").first, "-1");
    // Under flow control the first feedback source is the flow sensor.
    EXPECT_EQ(Row(pages[2], "Feedback Select").first, "Flow");
    // The valve names its overcurrent source and its unused range detection in its own words.
    EXPECT_EQ(Row(pages[2], "Autosafe Source"),
              std::make_pair(std::string("Overcurrent"), std::string(">I")));
    EXPECT_EQ(Row(pages[3], "Setpoint Range Detection"),
              std::make_pair(std::string("Off"), std::string("Disabled")));
    // Only the valve reports its auto-zero value.
    EXPECT_EQ(Row(pages[2], "Auto Zero Value"), std::make_pair(std::string("<none>"), std::string("-5")));
    EXPECT_EQ(Row(pages[2], "Delay Time / sec").first, "15");

    p->edit.CONTROLLER_STRUCTURE = 0;
    EXPECT_EQ(Row(Layout(*p, PRINT_PARAMETERS)[2], "Feedback Select").first, "internal Sensor");
}

TEST(PrintLayout, AValveOnItsFactorySetLeavesTheWriteColumnEmpty) {
    Fixture f;
    auto p = f.Project();
    p->valveValid = true;
    p->valve.PARAMETER_SET = 1;
    const auto pages = Layout(*p, PRINT_PARAMETERS);
    EXPECT_EQ(Row(pages[1], "Parameter Setting"),
              std::make_pair(std::string("Custom"), std::string("Factory")));
    EXPECT_EQ(Column(pages[1], WRITE_X), std::vector<std::string>{"Custom"});
    EXPECT_TRUE(Column(pages[2], WRITE_X).empty());
    EXPECT_TRUE(Column(pages[3], WRITE_X).empty());
}

TEST(PrintLayout, ScopeSetupPageNamesEverySettingAndNeverIndexesPastAList) {
    Fixture f;
    auto p = f.Project();
    const auto defaults = Layout(*p, PRINT_SCOPE);
    EXPECT_EQ(At(defaults[1], LABEL_X, FIRST + E), "Scope Setup");
    EXPECT_EQ(At(defaults[1], LABEL_X, FIRST + 2 * E), "Mode");
    EXPECT_EQ(Row(defaults[1], "Mode"), std::make_pair(std::string("Trigger Mode"), std::string("<none>")));
    EXPECT_EQ(Row(defaults[1], "Acquisition Time / sec"),
              std::make_pair(std::string("8"), std::string(" -- ")));
    EXPECT_EQ(Row(defaults[1], "Setpoint End / %").first, "90.0");
    EXPECT_EQ(Row(defaults[1], "Channel").first, "None (Roll Mode)");
    EXPECT_EQ(Row(defaults[1], "Analog Channel 2"), std::make_pair(std::string("Flow"), std::string(" -- ")));
    EXPECT_EQ(Row(defaults[1], "Binary Channel 4").first, "Digital Input");
    EXPECT_EQ(Row(defaults[1], "Master/Slave").first, "Master");

    p->scope.SampleRateIndex = 5;
    p->scope.TriggerChannel = 5;
    p->scope.TriggerSlope = 1;
    p->scope.MasterSlave = 1;
    p->scope.Analog[1].Signal = 2;
    p->scope.Analog[2].Signal = 9;
    p->scope.Binary[1] = 3;
    p->scope.AnalogReportedValid = 1;
    p->scope.Analog[0].Reported = 0;
    p->scope.AcquisitionTimeValid = 1;
    p->scope.AcquisitionTimeReported = 12;
    p->edit.CONTROLLER_STRUCTURE = 7;
    auto page = Layout(*p, PRINT_SCOPE)[1];
    EXPECT_EQ(Row(page, "Sample Rate / msec").first, "200");
    EXPECT_EQ(Row(page, "Channel").first, "Binary Channel 1");
    EXPECT_EQ(Row(page, "Slope").first, "Falling");
    EXPECT_EQ(Row(page, "Analog Channel 1"),
              std::make_pair(std::string("Setpoint(S)"), std::string("Setpoint(S)")));
    EXPECT_EQ(Row(page, "Analog Channel 2").first, "Diff. Pressure(dP)");
    EXPECT_EQ(Row(page, "Analog Channel 3").first, "9");
    EXPECT_EQ(Row(page, "Binary Channel 2").first, "Limit Switch");
    EXPECT_EQ(Row(page, "Acquisition Time / sec").second, "12");
    EXPECT_EQ(Row(page, "Master/Slave").first, "Slave");

    p->scope.SampleRateIndex = 6;
    p->scope.Mode = -3;
    p->scope.Binary[2] = 100;
    page = Layout(*p, PRINT_SCOPE)[1];
    EXPECT_EQ(Row(page, "Sample Rate / msec").first, "6");
    EXPECT_EQ(Row(page, "Mode").first, "-3");
    EXPECT_EQ(Row(page, "Binary Channel 3").first, "100");
}

TEST(PrintLayout, SignalNamesFollowFlowControlAndSlave) {
    EXPECT_EQ(AnalogSignalTextId(1, 2, false, false), 158);
    EXPECT_EQ(AnalogSignalTextId(1, 2, true, false), 370);
    EXPECT_EQ(AnalogSignalTextId(3, 1, false, true), 162); // the slave's I-Value keeps its name
    EXPECT_EQ(AnalogSignalTextId(3, 2, false, true), 344);
    EXPECT_EQ(AnalogSignalTextId(2, 3, false, true), 337);
    EXPECT_EQ(AnalogSignalTextId(0, 2, false, false), 0);
    EXPECT_EQ(AnalogSignalTextId(4, 0, false, false), 0);
    EXPECT_EQ(BinarySignalTextId(7), 153);
    EXPECT_EQ(BinarySignalTextId(8), 0);
    EXPECT_EQ(BinarySignalTextId(-1), 0);
}

// The curves page shows the view as it stands, or, printed from a file alone, the whole stored
// window with the readout at its start; its signal names are the set-up page's.
TEST(PrintLayout, TheCurvesPageIsTheViewAndNamesItsSignalsAsTheSetUpPage) {
    Fixture f;
    f.file->scopeSetup.Mode = 0;
    f.file->scopeSetup.AcquisitionTime = 12;
    f.file->scopeSetup.Analog[1].Signal = 2;
    f.file->editBlock.CONTROLLER_STRUCTURE = 7; // flow control: channel 2 shows the pressures
    auto p = f.Project();
    const PrintedCurves stored = Layout(*p, PRINT_SCOPE).back().curves;
    EXPECT_EQ(stored.window.end, 12.0);
    EXPECT_EQ(stored.window.lower, -11);
    EXPECT_EQ(stored.readoutLabel + " " + stored.readoutValue, "Readout Time 0.000");
    EXPECT_EQ(stored.analogNames[1], "Diff. Pressure(dP)");
    EXPECT_EQ(Row(Layout(*p, PRINT_SCOPE)[1], "Analog Channel 2").first, "Diff. Pressure(dP)");

    ScopeWindow zoomed = stored.window;
    zoomed.start = 2.0;
    zoomed.end = 4.5;
    zoomed.lower = 20;
    zoomed.readoutTime = 9.0; // outside: shown in the window's middle, as the view does
    p->view = PrintedView{zoomed, true};
    const PrintedCurves shown = Layout(*p, PRINT_SCOPE).back().curves;
    EXPECT_EQ(shown.window.start, 2.0);
    EXPECT_EQ(shown.window.lower, 20);
    EXPECT_TRUE(shown.grid);
    EXPECT_EQ(shown.readoutValue, "3.252");
}

TEST(PrintSelection, DialogButtonsAndSelectionsMatch) {
    EXPECT_EQ(InitialButton(0), PrintButton::All);
    EXPECT_EQ(InitialButton(1), PrintButton::All);
    EXPECT_EQ(InitialButton(2), PrintButton::Parameters);
    EXPECT_EQ(InitialButton(3), PrintButton::Scope);
    EXPECT_EQ(SelectionFromButtons(true, false, false), 1);
    EXPECT_EQ(SelectionFromButtons(false, true, false), 2);
    EXPECT_EQ(SelectionFromButtons(false, false, true), 3);
    EXPECT_EQ(SelectionFromButtons(false, false, false), 0);
}

// Printing during a recording: the snapshot is taken while the engine writes the buffer, and later
// samples do not reach the printed copy. A parameter read running leaves the valve's values out.
TEST(PrintSnapshot, TakesItsOwnCopyWhileTheEngineRecordsAndSkipsAValveBeingRead) {
    ManualClock clock;
    QlnState s(clock);
    auto file = std::make_unique<ProjectFile>();
    ResetProject(*file);
    s.params.ValveBlock.PROPORTIONAL_GAIN = 0.5f;
    s.params.ValveBlock.BLOCK_VALID = 1;
    s.samples.SetAnalog(0, 10, 42.0f);
    s.THREAD_CMD.store(CMD_ROLL_TRIGGER);

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread engine([&] {
        for (int i = 0; !stop.load(); i = (i + 1) % SampleBuffer::LENGTH) {
            if (i != 10) s.samples.SetAnalog(1, i, static_cast<float>(i));
            if (i == 0) rounds.fetch_add(1);
        }
    });
    while (rounds.load() < 1)
        std::this_thread::yield();
    const auto snap = TakePrintSnapshot(s, *file, "/p.QPJ");
    stop.store(true);
    engine.join();

    s.samples.SetAnalog(0, 10, -1.0f);
    EXPECT_FLOAT_EQ(snap->samples->Analog(0, 10), 42.0f);
    EXPECT_TRUE(snap->valveValid);
    EXPECT_FLOAT_EQ(snap->valve.PROPORTIONAL_GAIN, 0.5f);

    s.THREAD_CMD.store(CMD_READ_PARAMETER);
    EXPECT_FALSE(TakePrintSnapshot(s, *file, "/p.QPJ")->valveValid);
}
