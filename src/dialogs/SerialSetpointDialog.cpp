#include "dialogs/SerialSetpointDialog.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/MessageBox.h"
#include "dialogs/ParameterPages.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 166;
constexpr unsigned TEXT_GROUP = 167;
constexpr unsigned TEXT_ON = 35;
constexpr unsigned TEXT_OFF = 36;
constexpr unsigned TEXT_TRANSMIT = 168;
constexpr unsigned TEXT_CLOSE_RULE = 170;
constexpr unsigned TEXT_CLOSE = 334;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setAutoDefault(false);
    return b;
}

QRadioButton* MakeDisplayRadio(QWidget* parent, const char* id, const QString& text) {
    auto* r = new QRadioButton(text, parent);
    r->setObjectName(QString::fromLatin1(id));
    r->setAutoExclusive(false);
    r->setEnabled(false); // shows the state, never changes it
    return r;
}
} // namespace

CSerialSetpointDialog::CSerialSetpointDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                             IMessageBox& messages)
    : CNotifiedDialog(parent), control_(state), texts_(texts), messages_(messages) {
    setWindowTitle(Q(texts.Get(TEXT_TITLE)));

    const QString caption = Q(texts.Get(TEXT_GROUP));
    auto* group = new QGroupBox(caption, this);
    group->setObjectName(QStringLiteral("1159"));
    edit_ = new QLineEdit(group);
    edit_->setObjectName(QStringLiteral("1161"));
    edit_->setAccessibleName(caption);
    edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QStringLiteral("000.0")) + 16);
    edit_->installEventFilter(this);
    spin_ = new CSpinButton(group);
    spin_->setObjectName(QStringLiteral("1163"));
    spin_->setAccessibleName(caption);
    spin_->SetRange({0, 200});
    connect(spin_, &CSpinButton::Spun, this, &CSerialSetpointDialog::OnSpun);
    auto* input = new QHBoxLayout(group);
    input->addWidget(edit_);
    input->addWidget(spin_);

    onRadio_ = MakeDisplayRadio(this, "1166", Q(texts.Get(TEXT_ON)));
    offRadio_ = MakeDisplayRadio(this, "1168", Q(texts.Get(TEXT_OFF)));
    transmit_ = MakeButton(this, "1234", Q(texts.Get(TEXT_TRANSMIT)));
    off_ = MakeButton(this, "1235", Q(texts.Get(TEXT_OFF)));
    close_ = MakeButton(this, "2", Q(texts.Get(TEXT_CLOSE)));
    connect(transmit_, &QPushButton::clicked, this, &CSerialSetpointDialog::OnTransmit);
    connect(off_, &QPushButton::clicked, this, &CSerialSetpointDialog::OnOff);
    connect(close_, &QPushButton::clicked, this, &CSerialSetpointDialog::reject);
    auto* rule = new QLabel(Q(texts.Get(TEXT_CLOSE_RULE)), this);
    rule->setObjectName(QStringLiteral("1623"));

    auto* grid = new QGridLayout;
    grid->addWidget(group, 0, 0, 2, 1);
    grid->addWidget(onRadio_, 0, 1);
    grid->addWidget(offRadio_, 1, 1);
    grid->addWidget(transmit_, 0, 2);
    grid->addWidget(off_, 1, 2);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(rule, 1);
    bottom->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    spin_->SetPosition(SetpointSpinPosition(control_.Setpoint()));
    Refresh();
}

double CSerialSetpointDialog::TakeEdit() {
    const FieldValue f = ReadSetpointField(edit_->text().toStdString());
    control_.SetSetpoint(f.value);
    edit_->setText(Q(f.text));
    spin_->SetPosition(f.position);
    return f.value;
}

void CSerialSetpointDialog::OnSpun(int delta) {
    const SpinStep s = StepSetpointSpin(spin_->Position(), delta);
    spin_->SetPosition(s.position);
    control_.SetSetpoint(s.value);
    edit_->setText(Q(FormatTenth(s.value)));
    edit_->setFocus();
    edit_->end(false);
}

void CSerialSetpointDialog::OnTransmit() {
    if (control_.Transmit(TakeEdit())) Refresh();
    ApplyEnabling();
}

void CSerialSetpointDialog::OnOff() {
    if (control_.Active() && control_.Off(TakeEdit())) Refresh();
    ApplyEnabling();
}

void CSerialSetpointDialog::OnMsgReceive(uint32_t code, intptr_t) {
    control_.OnNotification(code);
    Refresh();
}

// Close, Escape and the close box end up here. While the valve follows the serial setpoint as the
// user asked they do nothing, as the text beside Close says. While it may still follow after a
// failure, the user decides.
void CSerialSetpointDialog::reject() {
    if (!control_.Enabling().close) return;
    if (control_.MayFollow() &&
        messages_.Show(texts_.Get(IDS_SERIAL_SETPOINT_CLOSE_ANYWAY), texts_.Get(TEXT_TITLE), MbIcon::Question,
                       MbButtons::YesNo, MbResult::No) != MbResult::Yes)
        return;
    if (control_.Close()) changed_ = true;
    CNotifiedDialog::reject();
}

bool CSerialSetpointDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::FocusOut && edit_->isEnabled()) TakeEdit();
    return CNotifiedDialog::eventFilter(watched, event);
}

void CSerialSetpointDialog::Refresh() {
    const bool active = control_.Active();
    onRadio_->setChecked(active);
    offRadio_->setChecked(!active);
    edit_->setText(Q(FormatTenth(control_.Setpoint())));
    ApplyEnabling();
}

void CSerialSetpointDialog::ApplyEnabling() {
    const SerialSetpointEnabling e = control_.Enabling();
    spin_->setEnabled(e.input);
    edit_->setEnabled(e.input);
    transmit_->setEnabled(e.input);
    off_->setEnabled(e.off);
    close_->setEnabled(e.close);
}
