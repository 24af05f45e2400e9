#include "app/SerialPortDialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/SerialPortRules.h"
#include "dialogs/MessageBox.h"
#include "engine/QlnState.h"
#include "system/Files.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

CSerialPortDialog::CSerialPortDialog(QWidget* parent, QlnState& state,
                                     const std::array<std::string, kComPortCount>& devices,
                                     const TextSource& texts, IMessageBox& messages, PortSource ports)
    : QDialog(parent), state_(state), texts_(texts), messages_(messages), devices_(devices),
      source_(std::move(ports)), chosen_(devices) {
    setWindowTitle(QString::fromStdString(texts.Get(2)));

    auto* portBox = new QGroupBox(QString::fromStdString(texts.Get(38)), this);
    auto* portLayout = new QVBoxLayout(portBox);
    auto* group = new QButtonGroup(this);
    const int current = state.link.PortIndex.load();
    for (int i = 0; i < kComPortCount; ++i) {
        auto* b = new QRadioButton(portBox);
        b->setObjectName(QStringLiteral("COM%1").arg(i + 1));
        b->setChecked(i == current);
        group->addButton(b, i);
        portLayout->addWidget(b);
        ports_[static_cast<size_t>(i)] = b;
        LabelPort(i);
    }
    connect(group, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) FillDeviceList();
    });

    const QString labelText = Q(texts.GetSilently(IDS_PORT_DEVICE_LABEL));
    listLabel_ = new QLabel(labelText, this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("devices"));
    list_->setAccessibleName(QString(labelText).remove(QLatin1Char('&')));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    listLabel_->setBuddy(list_);
    connect(list_, &QListWidget::itemSelectionChanged, this, &CSerialPortDialog::TakeDeviceSelection);

    auto* baudBox = new QGroupBox(QStringLiteral("Baudrate"), this);
    auto* baudLayout = new QVBoxLayout(baudBox);
    // Exclusive within their own box, and never clickable: they only show what the engine found.
    baud19200_ = new QRadioButton(QStringLiteral("19200"), baudBox);
    baud57600_ = new QRadioButton(QStringLiteral("57600"), baudBox);
    baud19200_->setAutoExclusive(false);
    baud57600_->setAutoExclusive(false);
    const int baud = state.link.BaudIndex.load();
    baud19200_->setChecked(baud == 2);
    baud57600_->setChecked(baud == 3);
    baud19200_->setEnabled(false);
    baud57600_->setEnabled(false);
    baudLayout->addWidget(baud19200_);
    baudLayout->addWidget(baud57600_);
    baudLayout->addStretch();

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QString::fromStdString(texts.Get(7)), QDialogButtonBox::AcceptRole);
    buttons->addButton(QString::fromStdString(texts.Get(39)), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CSerialPortDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CSerialPortDialog::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(portBox);
    groups->addWidget(baudBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(listLabel_);
    layout->addWidget(list_);
    layout->addWidget(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(5000);
    connect(timer_, &QTimer::timeout, this, &CSerialPortDialog::RefreshEnabling);
    timer_->start();
    seenEvents_ = state.link.PortEvents.load();
    if (source_) present_ = source_();
    FillDeviceList();
    auto* events = new QTimer(this);
    events->setInterval(250);
    connect(events, &QTimer::timeout, this, &CSerialPortDialog::FollowPortEvents);
    events->start();
    RefreshEnabling();
}

void CSerialPortDialog::LabelPort(int i) {
    ports_[static_cast<size_t>(i)]->setText(
        QStringLiteral("Com %1   (%2)").arg(i + 1).arg(Q(chosen_[static_cast<size_t>(i)])));
}

int CSerialPortDialog::ShownPort() const {
    const int selected = Selected();
    return selected >= 0 ? selected : 0;
}

// The list belongs to the port checked now; its choice so far is shown selected.
void CSerialPortDialog::FillDeviceList() {
    const std::string& stored = chosen_[static_cast<size_t>(ShownPort())];
    const DeviceChoices choices = ListDeviceChoices(texts_, present_, stored, PathExists(stored));
    filling_ = true;
    list_->clear();
    for (const DeviceChoice& c : choices.entries) {
        auto* item = new QListWidgetItem(Q(c.text), list_);
        item->setData(Qt::UserRole, Q(c.path));
    }
    if (choices.selected >= 0) list_->setCurrentRow(choices.selected);
    filling_ = false;
}

// A click and an assistive tool's selection alike; a selection taken away keeps the last choice.
void CSerialPortDialog::TakeDeviceSelection() {
    if (filling_) return;
    const QList<QListWidgetItem*> items = list_->selectedItems();
    if (items.size() != 1) return;
    const int port = ShownPort();
    chosen_[static_cast<size_t>(port)] = items.front()->data(Qt::UserRole).toString().toStdString();
    LabelPort(port);
}

void CSerialPortDialog::FollowPortEvents() {
    const uint32_t events = state_.link.PortEvents.load();
    if (events == seenEvents_ || !source_) return;
    seenEvents_ = events;
    present_ = source_();
    FillDeviceList();
}

bool CSerialPortDialog::DevicesChanged() const {
    return chosen_ != devices_;
}

int CSerialPortDialog::Selected() const {
    for (int i = 0; i < kComPortCount; ++i)
        if (ports_[static_cast<size_t>(i)]->isChecked()) return i;
    return -1;
}

void CSerialPortDialog::RefreshEnabling() {
    const bool enable = PortButtonsEnabled(state_.THREAD_CMD.load());
    for (QRadioButton* b : ports_)
        b->setEnabled(enable);
    list_->setEnabled(enable);
}

// The choice is stored whatever its device is like (the adapter may be plugged in later), but the
// user learns now, not at the next exchange, that it cannot work as things are. The built-in
// simulated valve opens no device.
void CSerialPortDialog::accept() {
    changed_ = ApplySerialPortChoice(Selected(), state_.link);
    for (int i = 0; i < kComPortCount; ++i)
        if (ApplyDeviceChoice(i, chosen_[static_cast<size_t>(i)], state_.THREAD_CMD.load(), state_.link))
            changed_ = true;
    timer_->stop();
    const int port = state_.link.PortIndex.load();
    if ((state_.link.uTestMode.load() & 1) == 0 && port >= 0 && port < kComPortCount) {
        const std::string warning =
            PortWarning(texts_, port, state_.link.DevicePath[static_cast<size_t>(port)], CurrentUser());
        if (!warning.empty()) messages_.Show(warning, texts_.Get(2), MbIcon::Exclamation, MbButtons::Ok);
    }
    QDialog::accept();
}

void CSerialPortDialog::reject() {
    if ((CancelNeedsConfirmation(Selected(), state_.link) || DevicesChanged()) &&
        messages_.Show(texts_.Get(1), texts_.Get(2), MbIcon::Question, MbButtons::YesNo, MbResult::Yes) !=
            MbResult::Yes)
        return;
    timer_->stop();
    QDialog::reject();
}
