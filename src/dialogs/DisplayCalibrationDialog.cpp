#include "dialogs/DisplayCalibrationDialog.h"

#include <QButtonGroup>
#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/ColorButton.h"
#include "dialogs/UserInput.h"
#include "engine/QlnState.h"

namespace {
constexpr unsigned TEXT_DECIMAL_POINT = 328;

// In the order the dialog takes them over. The DAC values are those the calibration dialog shows
// as the spans (text 180 "Span P2 DAC", 179 "Span dP DAC"); here they take 0 to 255.
constexpr CalibrationField FIELDS[] = {
    OUTSIDE_TEMPERATURE_FIELD,
    {"1743", 327, "1751", "1750", &CalibrationData::DisplayFactor, &CalibrationData::DisplayFactor,
     &CalibrationData::DisplayFactorValid, true, 4095},
    {"1716", 179, "1141", "1143", &CalibrationData::SpanDpSet, &CalibrationData::SpanDpRead,
     &CalibrationData::SpanDpValid, false, 255},
    {"1715", 180, "1139", "1140", &CalibrationData::SpanP2Set, &CalibrationData::SpanP2Read,
     &CalibrationData::SpanP2Valid, false, 255},
};
// Decimal point 0..3: no, right, middle, left.
constexpr struct {
    const char* id;
    unsigned text;
} POINTS[] = {{"1746", 329}, {"1747", 330}, {"1748", 331}, {"1749", 332}};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

CDisplayCalibrationDialog::CDisplayCalibrationDialog(QWidget* parent, QlnState& state,
                                                     const TextSource& texts, bool& matrixCopied)
    : CNotifiedDialog(parent), work_(state, matrixCopied), texts_(texts) {
    setWindowTitle(Q(texts_.Get(calibration_text::TITLE)));
    auto* column = new QVBoxLayout;
    result_ = new QLineEdit(this);
    result_->setObjectName(QStringLiteral("1625"));
    result_->setReadOnly(true);
    result_->setAccessibleName(Q(texts_.Get(calibration_text::TITLE)));
    column->addWidget(result_);
    for (size_t i = 0; i < edits_.size(); ++i) {
        edits_[i] = MakeCalibrationField(this, FIELDS[i], texts_);
        edits_[i].set->installEventFilter(this);
        column->addWidget(edits_[i].set->parentWidget());
    }
    NameOutsideTemperature(edits_[TEMPERATURE], texts_);

    const QString pointCaption = Q(texts_.Get(TEXT_DECIMAL_POINT));
    auto* pointGroup = new QGroupBox(pointCaption, this);
    pointGroup->setObjectName(QStringLiteral("1744"));
    auto* pointColumn = new QVBoxLayout(pointGroup);
    pointRead_ = new QLineEdit(pointGroup);
    pointRead_->setObjectName(QStringLiteral("1745"));
    pointRead_->setReadOnly(true);
    pointRead_->setAlignment(Qt::AlignCenter);
    pointRead_->setAccessibleName(pointCaption + " (" + Q(texts_.Get(calibration_text::READ)) + ")");
    pointColumn->addWidget(pointRead_);
    auto* group = new QButtonGroup(this);
    for (size_t i = 0; i < points_.size(); ++i) {
        points_[i] = new CColorButton(Q(texts_.Get(POINTS[i].text)), pointGroup);
        points_[i]->setObjectName(QString::fromLatin1(POINTS[i].id));
        group->addButton(points_[i], static_cast<int>(i));
        pointColumn->addWidget(points_[i]);
    }
    // The display is not refreshed: the read-back colours stay as they are.
    OnUserChecked(group, showing_, [this](int id) { work_.Data().DecimalPoint = id; });
    column->addWidget(pointGroup);

    close_ = MakeCalibrationClose(this, texts_);
    connect(close_, &QPushButton::clicked, this, &CDisplayCalibrationDialog::reject);
    column->addWidget(close_);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(column);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(CALIBRATION_ENABLING_MS);
    connect(timer_, &QTimer::timeout, this, &CDisplayCalibrationDialog::ApplyEnabling);
    timer_->start();
    ApplyEnabling();
    Refresh();
}

void CDisplayCalibrationDialog::Refresh() {
    const CalibrationData& c = work_.Data();
    result_->setText(Q(ReadValueText(c.Result, c.ResultValid.value != 0, texts_)));
    for (size_t i = 0; i < edits_.size(); ++i)
        ShowCalibrationField(edits_[i], FIELDS[i], c, texts_);
    const ProgramChange shown(showing_);
    for (size_t i = 0; i < points_.size(); ++i) {
        points_[i]->setAutoExclusive(false);
        points_[i]->setChecked(static_cast<int32_t>(i) == c.DecimalPoint);
        points_[i]->setAutoExclusive(true);
    }
    const bool valid = c.DecimalPointReadValid.value != 0;
    const int32_t read = c.DecimalPointRead;
    if (valid && (read < 0 || read > 3)) return; // an unknown coding changes nothing
    pointRead_->setText(Q(texts_.Get(valid ? POINTS[read].text : calibration_text::NO_VALUE)));
    for (size_t i = 0; i < points_.size(); ++i)
        points_[i]->SetColour(valid && static_cast<int32_t>(i) == read ? CColorButton::RED
                                                                       : CColorButton::GREY);
}

// Only the edits the user changed (typed, or set by an assistive tool) are stored: the DAC values here take
// at most 255, and an untouched span of up to 4095 set in the calibration dialog must not be cut.
void CDisplayCalibrationDialog::reject() {
    if (!close_->isEnabled()) return;
    for (size_t i = 0; i < edits_.size(); ++i)
        if (ChangedByUser(edits_[i].set) && edits_[i].set->isEnabled())
            ReadCalibrationField(edits_[i].set, FIELDS[i], work_.Data());
    work_.Commit();
    changed_ = work_.Changed();
    CNotifiedDialog::reject();
}

void CDisplayCalibrationDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (code >= NOTIFY_CALIBRATION_STARTED && code <= NOTIFY_CALIBRATION_CHECKED) {
        work_.Reload();
        Refresh();
    }
    ApplyEnabling();
}

bool CDisplayCalibrationDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut)
        for (size_t i = 0; i < edits_.size(); ++i)
            if (watched == edits_[i].set && ChangedByUser(edits_[i].set))
                ReadCalibrationField(edits_[i].set, FIELDS[i], work_.Data());
    return CNotifiedDialog::eventFilter(watched, event);
}

void CDisplayCalibrationDialog::ApplyEnabling() {
    const CalibrationEnabling e = DisplayCalibrationEnable(work_.ThreadCmd());
    edits_[TEMPERATURE].set->setEnabled(e.temperatureSet);
    if (e.close) close_->setEnabled(*e.close);
}
