#include "dialogs/ScopeSetupDialog.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cstring>

#include "dialogs/MessageBox.h"
#include "dialogs/ParameterPages.h"
#include "dialogs/UserInput.h"
#include "engine/QlnState.h"
#include "scope/ScopeSignalNames.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 60, TEXT_FIRST_CHANNEL = 61, TEXT_NONE_ROLL = 69, TEXT_CHANNEL = 70;
constexpr unsigned TEXT_TRIGGER = 71, TEXT_SLOPE = 72, TEXT_FALLING = 73, TEXT_RISING = 74;
constexpr unsigned TEXT_VALUE = 75, TEXT_RATE = 76, TEXT_MODE = 77, TEXT_FIRST_MODE = 78;
constexpr unsigned TEXT_ACQUISITION_TIME = 145, TEXT_BEGIN = 81, TEXT_END = 82, TEXT_RAMP_TIME = 83;
constexpr unsigned TEXT_MASTER_SLAVE = 352, TEXT_MASTER = 353, TEXT_SLAVE = 354;
constexpr unsigned TEXT_CANCEL = 39, TEXT_OK = 7, TEXT_DATA_CHANGED = 1, TEXT_NOT_REPORTED = 134;
constexpr int TIMER_MS = 5000;
constexpr const char* RATES[] = {"4", "10", "20", "40", "100", "200"};
// In ScopeFieldKind order: the most characters each field takes.
constexpr int FIELD_LENGTH[] = {3, 4, 4, 4, 4};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

CScopeSetupDialog::CScopeSetupDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                     IMessageBox& messages)
    : QDialog(parent), s_(state), texts_(texts), messages_(messages) {
    setWindowTitle(Text(TEXT_TITLE));
    structure_ = s_.params.EditBlock.CONTROLLER_STRUCTURE;
    {
        std::lock_guard<std::mutex> lock(s_.scopeMutex);
        PrepareScopeSetup(s_.scopeSetup);
        copy_ = s_.scopeSetup;
    }
    auto* channels = new QWidget(this);
    BuildChannels(channels);
    QWidget* timing = BuildTiming();

    ok_ = new QPushButton(Text(TEXT_OK), this);
    cancel_ = new QPushButton(Text(TEXT_CANCEL), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CScopeSetupDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &CScopeSetupDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* top = new QHBoxLayout;
    top->addWidget(channels);
    top->addWidget(timing);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(TIMER_MS);
    connect(timer_, &QTimer::timeout, this, &CScopeSetupDialog::ApplyEnabling);
    timer_->start();
    ShowCopy();
    ShowReported(copy_);
    ApplyEnabling();
}

QString CScopeSetupDialog::Text(unsigned id) const {
    return Q(texts_.Get(id));
}

// The four analog and four binary channel lists, each under its channel's name.
void CScopeSetupDialog::BuildChannels(QWidget* page) {
    auto* grid = new QGridLayout(page);
    const bool flowControl = structure_ == CONTROLLER_FLOW_CONTROL;
    const bool slave = copy_.MasterSlave == 1;
    for (int c = 0; c < 8; ++c) {
        const QString name = Text(TEXT_FIRST_CHANNEL + static_cast<unsigned>(c));
        auto* group = new QGroupBox(name, page);
        auto* list = new QComboBox(group);
        list->setAccessibleName(name);
        const bool analog = c < 4;
        const int count = analog ? AnalogSignalCount(c) : BINARY_SIGNAL_COUNT;
        for (int i = 0; i < count; ++i)
            list->addItem(Text(static_cast<unsigned>(analog ? AnalogSignalTextId(c, i, flowControl, slave)
                                                            : BinarySignalTextId(i))));
        auto* box = new QVBoxLayout(group);
        box->addWidget(list);
        if (analog) {
            auto* reported = new QLineEdit(group);
            reported->setReadOnly(true);
            reported->setAccessibleName(name + " (" + Text(140) + ")");
            box->addWidget(reported);
            reported_[static_cast<size_t>(3 + c)] = reported;
            analog_[static_cast<size_t>(c)] = list;
        } else {
            binary_[static_cast<size_t>(c - 4)] = list;
        }
        grid->addWidget(group, c % 4, c / 4);
    }
}

QWidget* CScopeSetupDialog::BuildTiming() {
    auto* page = new QWidget(this);
    auto* column = new QVBoxLayout(page);

    auto* modeGroup = new QGroupBox(Text(TEXT_MODE), page);
    auto* modeBox = new QVBoxLayout(modeGroup);
    for (int m = 0; m < 3; ++m) {
        modes_[static_cast<size_t>(m)] =
            new QRadioButton(Text(TEXT_FIRST_MODE + static_cast<unsigned>(m)), modeGroup);
        modeBox->addWidget(modes_[static_cast<size_t>(m)]);
        OnUserChecked(modes_[static_cast<size_t>(m)], showing_, [this, m] {
            copy_.Mode = m;
            ApplyEnabling();
        });
    }
    column->addWidget(modeGroup);

    auto* values = new QGroupBox(page);
    auto* grid = new QGridLayout(values);
    AddField(ScopeFieldKind::AcquisitionTime, TEXT_ACQUISITION_TIME, values, grid, 0);
    reported_[0] = new QLineEdit(values);
    AddField(ScopeFieldKind::SetpointBegin, TEXT_BEGIN, values, grid, 2);
    reported_[1] = new QLineEdit(values);
    AddField(ScopeFieldKind::SetpointEnd, TEXT_END, values, grid, 4);
    reported_[2] = new QLineEdit(values);
    AddField(ScopeFieldKind::RampTime, TEXT_RAMP_TIME, values, grid, 6);
    const unsigned reportedLabels[] = {TEXT_ACQUISITION_TIME, TEXT_BEGIN, TEXT_END};
    for (int i = 0; i < 3; ++i) {
        reported_[static_cast<size_t>(i)]->setReadOnly(true);
        reported_[static_cast<size_t>(i)]->setAccessibleName(Text(reportedLabels[i]) + " (" + Text(140) +
                                                             ")");
        grid->addWidget(reported_[static_cast<size_t>(i)], 2 * i + 1, 1);
    }
    column->addWidget(values);

    auto* trigger = new QGroupBox(Text(TEXT_TRIGGER), page);
    auto* tgrid = new QGridLayout(trigger);
    auto* channelLabel = new QLabel(Text(TEXT_CHANNEL), trigger);
    triggerChannel_ = new QComboBox(trigger);
    triggerChannel_->setAccessibleName(Text(TEXT_TRIGGER) + " " + Text(TEXT_CHANNEL));
    triggerChannel_->addItem(Text(TEXT_NONE_ROLL));
    for (unsigned c = 0; c < 8; ++c)
        triggerChannel_->addItem(Text(TEXT_FIRST_CHANNEL + c));
    connect(triggerChannel_, &QComboBox::activated, this, [this](int index) {
        copy_.TriggerChannel = index;
        ApplyEnabling();
    });
    tgrid->addWidget(channelLabel, 0, 0);
    tgrid->addWidget(triggerChannel_, 0, 1);
    auto* slope = new QGroupBox(Text(TEXT_SLOPE), trigger);
    auto* slopeBox = new QHBoxLayout(slope);
    rising_ = new QRadioButton(Text(TEXT_RISING), slope);
    falling_ = new QRadioButton(Text(TEXT_FALLING), slope);
    slopeBox->addWidget(rising_);
    slopeBox->addWidget(falling_);
    tgrid->addWidget(slope, 1, 0, 1, 2);
    AddField(ScopeFieldKind::TriggerValue, TEXT_VALUE, trigger, tgrid, 2);
    auto* rateLabel = new QLabel(Text(TEXT_RATE), trigger);
    rate_ = new QComboBox(trigger);
    rate_->setAccessibleName(Text(TEXT_RATE));
    for (const char* r : RATES)
        rate_->addItem(QString::fromLatin1(r));
    tgrid->addWidget(rateLabel, 3, 0);
    tgrid->addWidget(rate_, 3, 1);
    column->addWidget(trigger);

    auto* ms = new QGroupBox(Text(TEXT_MASTER_SLAVE), page);
    auto* msBox = new QHBoxLayout(ms);
    master_ = new QRadioButton(Text(TEXT_MASTER), ms);
    slave_ = new QRadioButton(Text(TEXT_SLAVE), ms);
    msBox->addWidget(master_);
    msBox->addWidget(slave_);
    column->addWidget(ms);
    return page;
}

void CScopeSetupDialog::AddField(ScopeFieldKind kind, unsigned label, QWidget* parent, QGridLayout* grid,
                                 int row) {
    const auto k = static_cast<size_t>(kind);
    auto* caption = new QLabel(Text(label), parent);
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(FIELD_LENGTH[k]);
    edit->setAccessibleName(caption->text());
    caption->setBuddy(edit);
    edit->installEventFilter(this);
    auto* spin = new CSpinButton(parent);
    spin->setAccessibleName(caption->text());
    const ScopeField low = StepScopeField(kind, -100000, 0), high = StepScopeField(kind, 100000, 0);
    spin->SetRange({low.position, high.position});
    connect(spin, &CSpinButton::Spun, this, [this, kind, spin, edit](int delta) {
        const ScopeField f = StepScopeField(kind, spin->Position(), delta);
        spin->SetPosition(f.position);
        edit->setText(Q(f.text));
        edit->setFocus();
        edit->end(false);
    });
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(spin, row, 2);
    fields_[k] = edit;
    spins_[k] = spin;
}

void CScopeSetupDialog::ShowCopy() {
    const ProgramChange shown(showing_);
    const ScopeSetup& c = copy_;
    for (int i = 0; i < 4; ++i) {
        analog_[static_cast<size_t>(i)]->setCurrentIndex(c.Analog[i].Signal);
        binary_[static_cast<size_t>(i)]->setCurrentIndex(c.Binary[i]);
    }
    triggerChannel_->setCurrentIndex(c.TriggerChannel);
    (c.TriggerSlope == 1 ? falling_ : rising_)->setChecked(true);
    const bool slave = c.MasterSlave == 1 && structure_ == CONTROLLER_CASCADED;
    (slave ? slave_ : master_)->setChecked(true);
    rate_->setCurrentIndex(c.SampleRateIndex);
    if (c.Mode >= 0 && c.Mode <= 2) modes_[static_cast<size_t>(c.Mode)]->setChecked(true);
    const std::pair<ScopeFieldKind, double> values[] = {{ScopeFieldKind::AcquisitionTime, c.AcquisitionTime},
                                                        {ScopeFieldKind::TriggerValue, c.TriggerValue},
                                                        {ScopeFieldKind::SetpointBegin, c.SetpointBegin},
                                                        {ScopeFieldKind::SetpointEnd, c.SetpointEnd},
                                                        {ScopeFieldKind::RampTime, c.RampTime}};
    for (const auto& [kind, value] : values) {
        const ScopeField f = ScopeFieldOf(kind, value);
        fields_[static_cast<size_t>(kind)]->setText(Q(f.text));
        spins_[static_cast<size_t>(kind)]->SetPosition(f.position);
    }
}

// What the valve reported for the set-up, or " -- " until it has.
void CScopeSetupDialog::ShowReported(const ScopeSetup& r) {
    const QString none = Text(TEXT_NOT_REPORTED);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d", r.AcquisitionTimeReported);
    reported_[0]->setText(r.AcquisitionTimeValid ? QString::fromLatin1(buf) : none);
    std::snprintf(buf, sizeof buf, "%1.1f", static_cast<double>(r.SetpointBeginReported));
    reported_[1]->setText(r.SetpointBeginValid ? QString::fromLatin1(buf) : none);
    std::snprintf(buf, sizeof buf, "%1.1f", static_cast<double>(r.SetpointEndReported));
    reported_[2]->setText(r.SetpointEndValid ? QString::fromLatin1(buf) : none);
    const bool flowControl = structure_ == CONTROLLER_FLOW_CONTROL;
    for (int c = 0; c < 4; ++c) {
        const int id = AnalogSignalTextId(c, r.Analog[c].Reported, flowControl, r.MasterSlave == 1);
        reported_[static_cast<size_t>(3 + c)]->setText(
            r.AnalogReportedValid && id ? Text(static_cast<unsigned>(id)) : none);
    }
}

void CScopeSetupDialog::ApplyEnabling() {
    const ScopeSetupEnabling e = ScopeSetupEnable(copy_, s_.THREAD_CMD.load(), structure_);
    for (QComboBox* l : analog_)
        l->setEnabled(e.analog);
    binary_[0]->setEnabled(false);
    binary_[1]->setEnabled(e.binary);
    binary_[2]->setEnabled(e.binary);
    binary_[3]->setEnabled(false);
    for (QRadioButton* m : modes_)
        m->setEnabled(e.modes);
    auto enableField = [this](ScopeFieldKind kind, bool on) {
        fields_[static_cast<size_t>(kind)]->setEnabled(on);
        spins_[static_cast<size_t>(kind)]->setEnabled(on);
    };
    enableField(ScopeFieldKind::AcquisitionTime, e.acquisitionTime);
    enableField(ScopeFieldKind::SetpointBegin, e.setpoints);
    enableField(ScopeFieldKind::SetpointEnd, e.setpoints);
    enableField(ScopeFieldKind::RampTime, e.rampTime);
    enableField(ScopeFieldKind::TriggerValue, e.triggerValue);
    triggerChannel_->setEnabled(e.triggerChannel);
    rate_->setEnabled(e.triggerChannel);
    rising_->setEnabled(e.slope);
    falling_->setEnabled(e.slope);
    master_->setEnabled(e.masterSlave);
    slave_->setEnabled(e.masterSlave);
    if (!e.masterSlave && structure_ != CONTROLLER_CASCADED) master_->setChecked(true);
}

void CScopeSetupDialog::TakeField(ScopeFieldKind kind) {
    const ScopeField f = ReadScopeField(kind, fields_[static_cast<size_t>(kind)]->text().toStdString());
    fields_[static_cast<size_t>(kind)]->setText(Q(f.text));
    spins_[static_cast<size_t>(kind)]->SetPosition(f.position);
}

bool CScopeSetupDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut)
        for (size_t k = 0; k < fields_.size(); ++k)
            if (watched == fields_[k] && fields_[k]->isEnabled()) TakeField(static_cast<ScopeFieldKind>(k));
    return QDialog::eventFilter(watched, event);
}

void CScopeSetupDialog::TakeOver() {
    ScopeSetupInputs in;
    for (size_t c = 0; c < 4; ++c) {
        in.analog[c] = analog_[c]->currentIndex();
        in.binary[c] = binary_[c]->currentIndex();
    }
    in.triggerChannel = triggerChannel_->currentIndex();
    in.falling = falling_->isChecked();
    in.slave = slave_->isChecked();
    in.rateIndex = rate_->currentIndex();
    in.mode = copy_.Mode;
    for (int m = 0; m < 3; ++m)
        if (modes_[static_cast<size_t>(m)]->isChecked()) in.mode = m;
    auto text = [this](ScopeFieldKind k) { return fields_[static_cast<size_t>(k)]->text().toStdString(); };
    in.acquisitionTime = text(ScopeFieldKind::AcquisitionTime);
    in.triggerValue = text(ScopeFieldKind::TriggerValue);
    in.begin = text(ScopeFieldKind::SetpointBegin);
    in.end = text(ScopeFieldKind::SetpointEnd);
    in.rampTime = text(ScopeFieldKind::RampTime);
    copy_ = TakeOverScopeSetup(copy_, in, structure_);
}

// A recording reads the set-up while it runs: OK then stores nothing (the inputs were disabled).
void CScopeSetupDialog::accept() {
    TakeOver();
    if (s_.THREAD_CMD.load() == 0 && s_.AcquisitionRunning.load() == 0) {
        std::lock_guard<std::mutex> lock(s_.scopeMutex);
        changed_ = std::memcmp(&copy_, &s_.scopeSetup, sizeof copy_) != 0;
        s_.scopeSetup = copy_;
    }
    QDialog::accept();
}

void CScopeSetupDialog::reject() {
    TakeOver();
    const ScopeSetup record = CopyScopeSetup(s_);
    if (std::memcmp(&copy_, &record, sizeof copy_) != 0 &&
        messages_.Show(texts_.Get(TEXT_DATA_CHANGED), texts_.Get(TEXT_TITLE), MbIcon::Question,
                       MbButtons::YesNo, MbResult::No) != MbResult::Yes)
        return;
    QDialog::reject();
}
