#include "print/StepRows.h"

#include <algorithm>

#include "scope/StepTable.h"
#include "text/Texts.h"

namespace {
// The columns' shares of the printable width in percent: the step's number, the twelve figures
// and the note.
constexpr int COLUMN_SHARES[] = {5, 6, 9, 9, 8, 6, 6, 6, 7, 8, 9, 8, 8, 5};
constexpr int COLUMNS = static_cast<int>(std::size(COLUMN_SHARES));
// The rows may take this share of the plot's frame.
constexpr int ROOM_PERCENT = 30;
constexpr int HEAD_LINES = 2;

std::vector<int> ColumnX(PageGeometry g) {
    std::vector<int> x;
    const int width = g.width - 2 * g.LabelX();
    int share = 0;
    for (int s : COLUMN_SHARES) {
        x.push_back(g.LabelX() + width * share / 100);
        share += s;
    }
    return x;
}

// "Dead time / s" as "Dead time" over "/ s", so that a name takes no more than its column.
void AddHeadCell(PrintedPage& page, int x, int y, int e, const std::string& label) {
    const size_t unit = label.find(" / ");
    page.texts.push_back({x, y, label.substr(0, unit)});
    if (unit != std::string::npos) page.texts.push_back({x, y + e, label.substr(unit + 1)});
}

void AddRow(PrintedPage& page, const std::vector<int>& x, int y, size_t number, const StepFigures& f,
            const TextSource& t) {
    page.texts.push_back({x[0], y, std::to_string(number)});
    const std::vector<StepCell> cells = StepCells(f);
    for (size_t c = 0; c < cells.size(); ++c)
        page.texts.push_back(
            {x[c + 1], y,
             cells[c].valueId ? t.Get(static_cast<unsigned>(cells[c].valueId)) : cells[c].value});
    if (const int note = StepNoteId(f.note))
        page.texts.push_back({x.back(), y, t.Get(static_cast<unsigned>(note))});
}
} // namespace

void AddStepRows(PrintedPage& page, const PrintProject& p, PageGeometry g, const TextSource& t) {
    const RecordingSteps r = StepsOfRecording(*p.samples, p.scope, p.recorded);
    if (r.steps.empty()) return;
    const int e = std::max(1, g.LineHeight());
    const int frame = g.height - CURVES_TOP - CURVES_BOTTOM_MARGIN;
    const int room = std::max(HEAD_LINES + 2, frame * ROOM_PERCENT / 100 / e);
    size_t rows = r.steps.size();
    const bool more = HEAD_LINES + static_cast<int>(rows) > room;
    if (more) rows = static_cast<size_t>(room - HEAD_LINES - 1);
    const int lines = HEAD_LINES + static_cast<int>(rows) + (more ? 1 : 0);
    page.curves.stepsHeight = (lines + 1) * e;
    page.curves.stepMarks = StepMarks(r, p.recorded.first);

    const std::vector<int> x = ColumnX(g);
    int y = CURVES_TOP + frame - page.curves.stepsHeight + e / 2;
    AddHeadCell(page, x[0], y, e, t.Get(IDS_STEP));
    const std::vector<StepCell> head = StepCells(r.steps.front());
    for (size_t c = 0; c < head.size(); ++c)
        AddHeadCell(page, x[c + 1], y, e, t.Get(static_cast<unsigned>(head[c].labelId)));
    y += HEAD_LINES * e;
    for (size_t s = 0; s < rows; ++s, y += e)
        AddRow(page, x, y, s + 1, r.steps[s], t);
    if (more)
        page.texts.push_back(
            {x[0], y, FillPlaceholders(t.Get(IDS_STEP_MORE), {std::to_string(r.steps.size() - rows)})});
}
