#include "dialogs/CalibrationMatrixDialog.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/CalibrationFields.h"
#include "dialogs/CalibrationMatrixPanel.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 326;
} // namespace

CCalibrationMatrixDialog::CCalibrationMatrixDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                                   bool& matrixCopied)
    : CNotifiedDialog(parent), work_(state, matrixCopied), texts_(texts) {
    setWindowTitle(QString::fromStdString(texts_.Get(TEXT_TITLE)));
    panel_ = new CCalibrationMatrixPanel(this, work_, texts_, false);
    connect(panel_, &CCalibrationMatrixPanel::SelectionChanged, this,
            &CCalibrationMatrixDialog::ApplyEnabling);
    write_ = MakeCalibrationButton(this, "1256", QString::fromStdString(texts_.Get(calibration_text::WRITE)));
    read_ = MakeCalibrationButton(this, "1255", QString::fromStdString(texts_.Get(calibration_text::READ)));
    close_ = MakeCalibrationClose(this, texts_);
    connect(write_, &QPushButton::clicked, this, &CCalibrationMatrixDialog::OnWrite);
    connect(read_, &QPushButton::clicked, this, &CCalibrationMatrixDialog::OnRead);
    connect(close_, &QPushButton::clicked, this, &CCalibrationMatrixDialog::reject);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(write_);
    buttons->addWidget(read_);
    buttons->addStretch(1);
    buttons->addWidget(close_);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(panel_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(CALIBRATION_ENABLING_MS);
    connect(timer_, &QTimer::timeout, this, &CCalibrationMatrixDialog::ApplyEnabling);
    timer_->start();
    ApplyEnabling();
    panel_->Show();
}

void CCalibrationMatrixDialog::Request(uint32_t bit) {
    if (work_.ThreadCmd() != 0) return;
    panel_->StoreRow();
    panel_->TakeSelection();
    work_.Request(bit);
    changed_ = work_.Changed();
    ApplyEnabling();
}

void CCalibrationMatrixDialog::OnWrite() {
    Request(CMD_WRITE_MATRIX);
}

void CCalibrationMatrixDialog::OnRead() {
    Request(CMD_READ_MATRIX);
}

void CCalibrationMatrixDialog::reject() {
    if (!close_->isEnabled()) return;
    panel_->StoreRow();
    panel_->TakeSelection();
    work_.Commit();
    changed_ = work_.Changed();
    CNotifiedDialog::reject();
}

void CCalibrationMatrixDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (code >= NOTIFY_CALIBRATION_STARTED && code <= NOTIFY_CALIBRATION_CHECKED) {
        work_.Reload();
        panel_->Show();
    }
    ApplyEnabling();
}

void CCalibrationMatrixDialog::ApplyEnabling() {
    const CalibrationEnabling e =
        MatrixEnable(work_.ThreadCmd(), work_.MatrixCopied(), MatrixWriteEnable(work_.Data()), work_.Array());
    panel_->ApplyEnabling(e);
    write_->setEnabled(e.write);
    read_->setEnabled(e.read);
    if (e.close) close_->setEnabled(*e.close);
}
