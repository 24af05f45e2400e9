#pragma once
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "params/ParameterBlock.h"
#include "project/ProjectFile.h"
#include "scope/SampleBuffer.h"
#include "scope/ScopeMath.h"
#include "scope/ScopeSetup.h"
#include "scope/StepTable.h"

class TextSource;
struct QlnState;

// The printed pages without a painter: which pages a selection prints and every text on them with
// its place in device pixels. The renderer (PageRenderer.h) paints them on a printer, into a PDF
// or onto an image; the curves page's plot is drawn there.

// ---- the selection -------------------------------------------------------------------------------
enum PrintSelection : int { PRINT_NONE = 0, PRINT_ALL = 1, PRINT_PARAMETERS = 2, PRINT_SCOPE = 3 };

// The Select Print dialog's radio buttons.
enum class PrintButton { All, Parameters, Scope };
// The button checked when the dialog opens (All for 0 and for anything unknown).
PrintButton InitialButton(int selection);
// The selection the buttons give on OK; 0 when none is checked.
int SelectionFromButtons(bool all, bool parameters, bool scope);

// ---- what is printed -----------------------------------------------------------------------------
// The scope view as the user sees it when printing: its time window, value limits and readout
// time, and whether it shows the grid.
struct PrintedView {
    ScopeWindow window;
    bool grid = false;
};

// Everything the pages show, copied once before the first page, so that every page shows the same
// moment even while a recording or a parameter read goes on.
struct PrintProject {
    ProjectInfo info{};
    float formatVersion = 0;
    std::string fullPath; // UTF-8
    ParameterBlock edit{};
    ParameterBlock valve{};
    bool valveValid = false;
    ScopeSetup scope{};
    std::unique_ptr<SampleBuffer> samples = std::make_unique<SampleBuffer>();
    // The samples that hold the recording (its step figures are printed under the curves).
    RecordedRange recorded{0, 0};
    // The curves page prints this view; without one (a file printed without a window) it prints
    // the stored set-up's whole acquisition time at the default limits, the readout at its start.
    std::optional<PrintedView> view;
};

// A project file alone: no valve has been read, so every Read value prints as " -- ".
std::unique_ptr<PrintProject> PrintProjectFromFile(const ProjectFile& file, const std::string& fullPath);
// The running program: the description and file-format version from `file`, the parameters, the
// scope set-up and the recording from the shared state. The recording is copied element by element
// (each read whole), and the valve's block only while no parameter read is filling it.
std::unique_ptr<PrintProject> TakePrintSnapshot(const QlnState& s, const ProjectFile& file,
                                                const std::string& fullPath);

// ---- the pages -----------------------------------------------------------------------------------
struct PrintTime {
    int day, month, year, hour, minute;
};

// A text whose top-left corner lies at (x, y), in device pixels.
struct PrintedText {
    int x, y;
    std::string text;
};

// The plot of the curves page: the view's window, limits, grid and readout time, and the signal
// names the set-up page gives them.
struct PrintedCurves {
    ScopeWindow window;
    bool grid = false;
    std::array<std::string, 4> analogNames;
    std::array<std::string, 4> binaryNames;
    std::array<bool, 4> analogShown{};
    std::string readoutLabel; // "Readout Time"
    std::string readoutValue; // "%3.3f"
    // The step figures' rows under the plot: the height they take from its frame, and the marks
    // on the flow curve.
    int stepsHeight = 0;
    std::vector<StepMark> stepMarks;
};
// The curves page's frame: 20 pixels in from the sides, 100 from the top, 20 from the bottom
// (less the step figures' rows).
constexpr int CURVES_TOP = 100, CURVES_SIDE_MARGIN = 20, CURVES_BOTTOM_MARGIN = 20;

enum class PageKind { Text, Curves };
struct PrintedPage {
    PageKind kind = PageKind::Text;
    std::vector<PrintedText> texts;
    PrintedCurves curves; // for PageKind::Curves
};

// The page geometry of a printable area of width x height device pixels.
struct PageGeometry {
    int width, height;
    int LineHeight() const { return height * 10 / 397; }
    int FirstLine() const { return height / 34 + 4 * LineHeight(); }
    int LabelX() const { return width / 100; }
    int WriteX() const { return width * 3 / 10; }
    int ReadX() const { return width * 6 / 10; }
};

// The pages of a selection, in print order; none for an unknown selection.
std::vector<PrintedPage> LayoutPrint(const PrintProject& project, int selection, PageGeometry page,
                                     const PrintTime& now, const TextSource& texts);
