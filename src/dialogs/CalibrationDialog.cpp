#include "dialogs/CalibrationDialog.h"

#include <QEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/CalibrationMatrixPanel.h"
#include "engine/QlnState.h"

namespace {
constexpr unsigned TEXT_COPY = 355;

// Text 180 reads "Span P2 DAC" and text 179 "Span dP DAC": each group shows the words of its data.
constexpr CalibrationField FIELDS[] = {
    OUTSIDE_TEMPERATURE_FIELD,
    {"1715", 180, "1139", "1140", &CalibrationData::SpanP2Set, &CalibrationData::SpanP2Read,
     &CalibrationData::SpanP2Valid, false, 4095},
    {"1716", 179, "1141", "1143", &CalibrationData::SpanDpSet, &CalibrationData::SpanDpRead,
     &CalibrationData::SpanDpValid, false, 4095},
    {"1789", 372, "1791", "1790", &CalibrationData::OffsetP2Set, &CalibrationData::OffsetP2Read,
     &CalibrationData::OffsetP2Valid, false, 255},
    {"1792", 373, "1794", "1793", &CalibrationData::OffsetDpSet, &CalibrationData::OffsetDpRead,
     &CalibrationData::OffsetDpValid, false, 255},
};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

CCalibrationDialog::CCalibrationDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                       bool& matrixCopied)
    : CNotifiedDialog(parent), work_(state, matrixCopied), texts_(texts) {
    setWindowTitle(Q(texts_.Get(calibration_text::TITLE)));
    auto* fields = new QVBoxLayout;
    for (size_t i = 0; i < edits_.size(); ++i) {
        edits_[i] = MakeCalibrationField(this, FIELDS[i], texts_);
        edits_[i].set->installEventFilter(this);
        fields->addWidget(edits_[i].set->parentWidget());
    }
    NameOutsideTemperature(edits_[TEMPERATURE], texts_);
    fields->addStretch(1);

    panel_ = new CCalibrationMatrixPanel(this, work_, texts_, true);
    connect(panel_, &CCalibrationMatrixPanel::SelectionChanged, this, &CCalibrationDialog::ApplyEnabling);

    write_ = MakeCalibrationButton(this, "1256", Q(texts_.Get(calibration_text::WRITE)));
    copy_ = MakeCalibrationButton(this, "1753", Q(texts_.Get(TEXT_COPY)));
    read_ = MakeCalibrationButton(this, "1255", Q(texts_.Get(calibration_text::READ)));
    close_ = MakeCalibrationClose(this, texts_);
    connect(write_, &QPushButton::clicked, this, &CCalibrationDialog::OnWrite);
    connect(copy_, &QPushButton::clicked, this, &CCalibrationDialog::OnCopy);
    connect(read_, &QPushButton::clicked, this, &CCalibrationDialog::OnRead);
    connect(close_, &QPushButton::clicked, this, &CCalibrationDialog::reject);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {write_, copy_, read_})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(close_);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(panel_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(CALIBRATION_ENABLING_MS);
    connect(timer_, &QTimer::timeout, this, &CCalibrationDialog::ApplyEnabling);
    timer_->start();
    ApplyEnabling();
    Refresh();
}

// The matrix edits, the selection and the outside temperature; the DAC and PWM edits are stored
// only when they lose the focus.
void CCalibrationDialog::TakeOver() {
    panel_->StoreRow();
    panel_->TakeSelection();
    if (edits_[TEMPERATURE].set->isEnabled())
        ReadCalibrationField(edits_[TEMPERATURE].set, FIELDS[0], work_.Data());
}

void CCalibrationDialog::Refresh() {
    panel_->Show();
    for (size_t i = 0; i < edits_.size(); ++i)
        ShowCalibrationField(edits_[i], FIELDS[i], work_.Data(), texts_);
}

void CCalibrationDialog::OnRead() {
    if (work_.ThreadCmd() != 0) return;
    TakeOver();
    work_.Request(CMD_READ_MATRIX);
    changed_ = work_.Changed();
    ApplyEnabling();
}

void CCalibrationDialog::OnWrite() {
    if (work_.ThreadCmd() != 0) return;
    TakeOver();
    panel_->StoreRow();
    work_.Request(CMD_WRITE_MATRIX);
    changed_ = work_.Changed();
    ApplyEnabling();
}

void CCalibrationDialog::OnCopy() {
    if (work_.ThreadCmd() != 0) return;
    TakeOver();
    work_.Copy();
    panel_->TakeSelection();
    Refresh();
    changed_ = work_.Changed();
}

void CCalibrationDialog::reject() {
    if (!close_->isEnabled()) return;
    TakeOver();
    work_.Commit();
    changed_ = work_.Changed();
    CNotifiedDialog::reject();
}

void CCalibrationDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (code >= NOTIFY_CALIBRATION_STARTED && code <= NOTIFY_CALIBRATION_CHECKED) {
        work_.Reload();
        Refresh();
        if (code == NOTIFY_MATRIX_WRITTEN && work_.ThreadCmd() == 0) {
            // What the valve now holds, without the user asking.
            TakeOver();
            work_.Request(CMD_READ_MATRIX);
            changed_ = work_.Changed();
        }
    }
    ApplyEnabling();
}

bool CCalibrationDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut)
        for (size_t i = 0; i < edits_.size(); ++i)
            if (watched == edits_[i].set && edits_[i].set->isEnabled())
                ReadCalibrationField(edits_[i].set, FIELDS[i], work_.Data());
    return CNotifiedDialog::eventFilter(watched, event);
}

void CCalibrationDialog::ApplyEnabling() {
    const CalibrationEnabling e = CalibrationEnable(work_.ThreadCmd(), work_.MatrixCopied(),
                                                    MatrixWriteEnable(work_.Data()), work_.Array());
    panel_->ApplyEnabling(e);
    write_->setEnabled(e.write);
    read_->setEnabled(e.read);
    copy_->setEnabled(e.copy);
    edits_[TEMPERATURE].set->setEnabled(e.temperatureSet);
    if (e.close) close_->setEnabled(*e.close);
    if (e.dacEdits)
        for (size_t i = SPAN_P2; i < edits_.size(); ++i)
            edits_[i].set->setEnabled(*e.dacEdits);
}
