#include "dialogs/TestFunctionDialog.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/ColorButton.h"
#include "dialogs/ParameterPages.h"
#include "dialogs/UserInput.h"
#include "engine/DriveCommands.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 171;
constexpr unsigned TEXT_TIME_GROUP = 176;
constexpr unsigned TEXT_WRITE = 143;
constexpr unsigned TEXT_READ = 144;
constexpr unsigned TEXT_CANCEL = 39;
constexpr int TIMER_MS = 5000;

struct RadioPlace {
    const char* id;
    unsigned text;
};
// In selection order: off, ramp, step, multistep.
constexpr RadioPlace RADIOS[] = {{"1640", 36}, {"1641", 173}, {"1642", 174}, {"1643", 175}};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QPushButton* MakeButton(QWidget* parent, const char* id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setAutoDefault(false);
    return b;
}
} // namespace

CTestFunctionDialog::CTestFunctionDialog(QWidget* parent, QlnState& state, const TextSource& texts)
    : CNotifiedDialog(parent), control_(state), texts_(texts) {
    // The library replaces a text only where it has one; the program's own text stays otherwise.
    auto text = [&](unsigned id) { return Q(texts_.LibraryText(id).value_or(TextSource::Builtin(id))); };
    const QString title = text(TEXT_TITLE);
    setWindowTitle(title);

    auto* functions = new QGroupBox(title, this);
    functions->setObjectName(QStringLiteral("1752"));
    readBack_ = new QLineEdit(functions);
    readBack_->setObjectName(QStringLiteral("1644"));
    readBack_->setReadOnly(true);
    readBack_->setAlignment(Qt::AlignCenter);
    readBack_->setAccessibleName(title + " (" + Q(texts_.Get(140)) + ")");
    auto* column = new QVBoxLayout(functions);
    column->addWidget(readBack_);
    group_ = new QButtonGroup(this);
    for (size_t i = 0; i < radios_.size(); ++i) {
        auto* r = new CColorButton(text(RADIOS[i].text), functions);
        r->setObjectName(QString::fromLatin1(RADIOS[i].id));
        group_->addButton(r, static_cast<int>(i));
        column->addWidget(r);
        radios_[i] = r;
    }
    OnUserChecked(group_, refreshing_, [this](int selection) { control_.Select(selection); });

    const QString timeCaption = text(TEXT_TIME_GROUP);
    auto* timeGroup = new QGroupBox(timeCaption, this);
    timeGroup->setObjectName(QStringLiteral("1645"));
    time_ = new QLineEdit(timeGroup);
    time_->setObjectName(QStringLiteral("1646"));
    time_->setAccessibleName(timeCaption);
    time_->installEventFilter(this);
    spin_ = new CSpinButton(timeGroup);
    spin_->setObjectName(QStringLiteral("1651"));
    spin_->setAccessibleName(timeCaption);
    spin_->SetRange({0, 200});
    connect(spin_, &CSpinButton::Spun, this, &CTestFunctionDialog::OnSpun);
    auto* timeRow = new QHBoxLayout(timeGroup);
    timeRow->addWidget(time_);
    timeRow->addWidget(spin_);

    write_ = MakeButton(this, "1649", text(TEXT_WRITE));
    read_ = MakeButton(this, "1650", text(TEXT_READ));
    cancel_ = MakeButton(this, "2", text(TEXT_CANCEL));
    connect(write_, &QPushButton::clicked, this, &CTestFunctionDialog::OnWrite);
    connect(read_, &QPushButton::clicked, this, &CTestFunctionDialog::OnRead);
    connect(cancel_, &QPushButton::clicked, this, &CTestFunctionDialog::reject);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(write_);
    buttons->addWidget(read_);
    buttons->addStretch(1);
    buttons->addWidget(cancel_);
    auto* right = new QVBoxLayout;
    right->addWidget(timeGroup);
    right->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(functions);
    layout->addLayout(right);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    timer_ = new QTimer(this);
    timer_->setInterval(TIMER_MS);
    connect(timer_, &QTimer::timeout, this, &CTestFunctionDialog::ApplyEnabling);
    timer_->start();
    Refresh();
}

int CTestFunctionDialog::CheckedSelection() const {
    for (size_t i = 0; i < radios_.size(); ++i)
        if (radios_[i]->isChecked()) return static_cast<int>(i);
    return TEST_OFF;
}

void CTestFunctionDialog::TakeTime() {
    const FieldValue f = control_.TakeOver(time_->text().toStdString(), control_.Selection());
    time_->setText(Q(f.text));
    spin_->SetPosition(f.position);
}

void CTestFunctionDialog::TakeOver() {
    const FieldValue f = control_.TakeOver(time_->text().toStdString(), CheckedSelection());
    time_->setText(Q(f.text));
    spin_->SetPosition(f.position);
}

void CTestFunctionDialog::OnSpun(int delta) {
    const SpinStep s = StepTestTimeSpin(spin_->Position(), delta);
    spin_->SetPosition(s.position);
    time_->setText(Q(FormatTenth(s.value)));
    TakeTime();
    time_->setFocus();
    time_->end(false);
}

void CTestFunctionDialog::OnWrite() {
    TakeOver();
    control_.Write();
    ApplyEnabling();
}

void CTestFunctionDialog::OnRead() {
    TakeOver();
    control_.Read();
    ApplyEnabling();
}

void CTestFunctionDialog::reject() {
    TakeOver();
    CNotifiedDialog::reject();
}

void CTestFunctionDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (code == NOTIFY_TEST_FUNCTION_READ || code == NOTIFY_TEST_FUNCTION_WRITTEN)
        Refresh();
    else if (RequestFailed(code))
        ApplyEnabling();
}

bool CTestFunctionDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == time_ && event->type() == QEvent::FocusOut && time_->isEnabled()) TakeTime();
    return CNotifiedDialog::eventFilter(watched, event);
}

void CTestFunctionDialog::Refresh() {
    const float time = control_.TestTime();
    time_->setText(Q(FormatTenth(time)));
    spin_->SetPosition(TestTimeSpinPosition(time));
    const TestFunctionDisplay d = control_.Display();
    {
        const ProgramChange shown(refreshing_);
        radios_[static_cast<size_t>(d.checked)]->setChecked(true);
    }
    for (size_t i = 0; i < radios_.size(); ++i)
        radios_[i]->SetColour(static_cast<int>(i) == d.red ? CColorButton::RED : CColorButton::GREY);
    readBack_->setText(Q(texts_.LibraryText(d.readBackText).value_or(TextSource::Builtin(d.readBackText))));
    ApplyEnabling();
}

void CTestFunctionDialog::ApplyEnabling() {
    const bool idle = !control_.Busy();
    for (QWidget* w : {static_cast<QWidget*>(spin_), static_cast<QWidget*>(time_),
                       static_cast<QWidget*>(write_), static_cast<QWidget*>(read_)})
        w->setEnabled(idle);
    for (CColorButton* r : radios_)
        r->setEnabled(idle);
}
