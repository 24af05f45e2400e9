#include "dialogs/ValveInfoDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/StatusInfoRules.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 107;
constexpr unsigned TEXT_NONE = 134;

struct FieldPlace {
    ValveInfoField field;
    const char* id; // control id, kept as the object name
    unsigned labelText;
    const char* labelCaption; // nullptr: the field stands alone in its group
};
struct GroupPlace {
    const char* id;
    unsigned text;
    const char* caption;
    std::initializer_list<FieldPlace> fields;
};

const GroupPlace GROUPS[] = {
    {"1588", 120, "Controller Firmware", {{VI_FIRMWARE, "1274", 0, nullptr}}},
    {"1590", 108, "Part Number", {{VI_PART_NUMBER, "1597", 0, nullptr}}},
    {"1276", 109, "Serial No.", {{VI_SERIAL_NUMBER, "1598", 0, nullptr}}},
    {"1592",
     121,
     "Production Date",
     {{VI_PRODUCTION_YEAR, "1285", 111, "Year"}, {VI_PRODUCTION_WEEK, "1606", 110, "Week"}}},
    {"1278",
     122,
     "Operation Counter",
     {{VI_OPERATION_DAYS, "1614", 123, "Days"},
      {VI_OPERATION_HOURS, "1617", 124, "Hours"},
      {VI_OPERATION_MINUTES, "1620", 125, "Min"}}},
    {"1594",
     126,
     "Calibration Date",
     {{VI_CALIBRATION_YEAR, "1296", 111, "Year"},
      {VI_CALIBRATION_MONTH, "1297", 127, "Month"},
      {VI_CALIBRATION_DAY, "1298", 128, "Day"}}},
    {"1155", 91, "Calibration Status", {{VI_CALIBRATION_STATUS, "1300", 0, nullptr}}},
    {"1595", 141, "Calibration Counter", {{VI_CALIBRATION_COUNTER, "1301", 0, nullptr}}},
    {"1653",
     138,
     "Temperature / \u00b0C",
     {{VI_CALIBRATION_TEMPERATURE, "1655", 177, "Calibration"},
      {VI_VALVE_TEMPERATURE, "1656", 140, "Valve"}}},
};
} // namespace

CValveInfoDialog::CValveInfoDialog(QWidget* parent, QlnState& state, const TextSource& texts)
    : CNotifiedDialog(parent), s_(state), texts_(texts) {
    // Without a language library the dialog keeps its own captions.
    auto caption = [&](unsigned id, const char* own) {
        return QString::fromStdString(texts_.HasLibrary() ? texts_.Get(id) : std::string(own));
    };
    setWindowTitle(QString::fromStdString(texts_.Get(TEXT_TITLE)));

    auto* grid = new QGridLayout;
    int index = 0;
    for (const GroupPlace& g : GROUPS) {
        auto* box = new QGroupBox(caption(g.text, g.caption), this);
        box->setObjectName(QString::fromLatin1(g.id));
        auto* inner = new QGridLayout(box);
        int column = 0;
        for (const FieldPlace& f : g.fields) {
            auto* edit = new QLineEdit(box);
            edit->setObjectName(QString::fromLatin1(f.id));
            edit->setReadOnly(true);
            edit->setAlignment(Qt::AlignCenter);
            fields_[f.field] = edit;
            if (f.labelCaption) {
                inner->addWidget(new QLabel(caption(f.labelText, f.labelCaption), box), 0, column,
                                 Qt::AlignHCenter);
                inner->addWidget(edit, 1, column);
            } else {
                inner->addWidget(edit, 0, column);
            }
            ++column;
        }
        grid->addWidget(box, index / 3, index % 3);
        ++index;
    }
    fields_[VI_PART_NUMBER]->setMinimumWidth(
        fields_[VI_PART_NUMBER]->fontMetrics().horizontalAdvance(QStringLiteral("471-52F FFFFFF-FFF")) + 16);

    read_ = new QPushButton(caption(112, "Read Valve Info"), this);
    read_->setObjectName(QStringLiteral("1157"));
    read_->setAutoDefault(false);
    connect(read_, &QPushButton::clicked, this, &CValveInfoDialog::OnReadClicked);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(caption(7, "OK"));
    buttons->addButton(read_, QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    staleNote_ = new QLabel(QString::fromStdString(texts_.GetSilently(IDS_WAITING_FOR_VALVE)), this);
    staleNote_->setObjectName(QStringLiteral("staleNote"));
    staleNote_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(staleNote_);
    layout->addWidget(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(5000);
    connect(timer_, &QTimer::timeout, this, &CValveInfoDialog::OnTimerTick);
    timer_->start();
    auto* staleCheck = new QTimer(this);
    staleCheck->setInterval(250);
    connect(staleCheck, &QTimer::timeout, this, &CValveInfoDialog::UpdateStale);
    staleCheck->start();
    UpdateButton();
    Refresh();
}

void CValveInfoDialog::OnReadClicked() {
    if (RequestValveInfoRead(s_.THREAD_CMD)) {
        WakeEngine(s_.link);
        stale_.Asked(s_.link.clock->NowMs());
    }
    UpdateButton();
}

void CValveInfoDialog::OnTimerTick() {
    UpdateButton();
}

void CValveInfoDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (code == NOTIFY_DEVICE_INFO || RequestFailed(code)) {
        stale_.Settled();
        Refresh();
        UpdateStale();
    }
    UpdateButton();
}

void CValveInfoDialog::UpdateStale() {
    const bool stale = stale_.Stale(s_.link.clock->NowMs());
    if (stale == staleShown_) return;
    staleShown_ = stale;
    // Disabled read-only fields show their text greyed.
    for (QLineEdit* field : fields_)
        field->setEnabled(!stale);
    staleNote_->setVisible(stale);
}

void CValveInfoDialog::Refresh() {
    DeviceInfo copy;
    const bool valid = SnapshotDeviceInfo(s_.THREAD_CMD.load(), s_.deviceInfo, copy);
    const auto texts = ValveInfoTexts(copy, valid, texts_.Get(TEXT_NONE));
    for (unsigned f = 0; f < VI_FIELD_COUNT; ++f)
        fields_[f]->setText(QString::fromStdString(texts[f]));
}

void CValveInfoDialog::UpdateButton() {
    read_->setEnabled(s_.THREAD_CMD.load() == 0);
}
