#include "view/StepFiguresTable.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "scope/StepTable.h"
#include "text/Texts.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
// Label and value pairs side by side.
constexpr int PAIRS_PER_ROW = 2;

template <class W> void SetText(W* w, const QString& text) {
    if (w->text() != text) w->setText(text);
}
} // namespace

StepFiguresTable::StepFiguresTable(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("stepFigures"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral("QFrame, QLabel, QLineEdit { background: white; color: black; }"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(0);
    title_ = new QLabel(this);
    note_ = new QLabel(this);
    note_->setWordWrap(true);
    grid->addWidget(title_, 0, 0, 1, 2 * PAIRS_PER_ROW);
    for (size_t i = 0; i < CELLS; ++i) {
        labels_[i] = new QLabel(this);
        values_[i] = new QLineEdit(this);
        values_[i]->setReadOnly(true);
        values_[i]->setFrame(false);
        values_[i]->setFocusPolicy(Qt::NoFocus);
        values_[i]->setAlignment(Qt::AlignRight);
        const int row = 1 + static_cast<int>(i) / PAIRS_PER_ROW,
                  column = 2 * (static_cast<int>(i) % PAIRS_PER_ROW);
        grid->addWidget(labels_[i], row, column);
        grid->addWidget(values_[i], row, column + 1);
    }
    grid->addWidget(note_, 1 + static_cast<int>(CELLS) / PAIRS_PER_ROW, 0, 1, 2 * PAIRS_PER_ROW);
    hide();
}

void StepFiguresTable::Show(const RecordingSteps& r, std::optional<size_t> index, const TextSource& texts) {
    const bool sentence = !r.channelsApply;
    if (!sentence && !index) {
        hide();
        return;
    }
    title_->setVisible(!sentence);
    for (size_t i = 0; i < CELLS; ++i) {
        labels_[i]->setVisible(!sentence);
        values_[i]->setVisible(!sentence);
    }
    if (sentence) {
        SetText(note_, Q(texts.Get(IDS_STEP_CHANNELS)));
    } else {
        const StepFigures& f = r.steps[*index];
        SetText(title_, Q(FillPlaceholders(texts.Get(IDS_STEP_OF),
                                           {std::to_string(*index + 1), std::to_string(r.steps.size())})));
        const std::vector<StepCell> cells = StepCells(f);
        for (size_t i = 0; i < CELLS && i < cells.size(); ++i) {
            const QString label = Q(texts.Get(static_cast<unsigned>(cells[i].labelId)));
            SetText(labels_[i], label);
            SetText(values_[i], Q(cells[i].valueId ? texts.Get(static_cast<unsigned>(cells[i].valueId))
                                                   : cells[i].value));
            if (values_[i]->accessibleName() != label) values_[i]->setAccessibleName(label);
        }
        const int note = StepNoteId(f.note);
        SetText(note_, note ? Q(texts.Get(static_cast<unsigned>(note))) : QString());
    }
    note_->setVisible(!note_->text().isEmpty());
    note_->setAccessibleName(note_->text());
    title_->setAccessibleName(title_->text());
    show();
    Fit();
}

// As high as its rows need at the width the view gives it; no more of the curves is covered.
void StepFiguresTable::Fit() {
    QLayout* grid = layout();
    const int h =
        grid->hasHeightForWidth() ? grid->totalHeightForWidth(width()) : grid->totalSizeHint().height();
    if (h > 0 && h != height()) resize(width(), h);
}
