#include "dialogs/StatusInfoDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 116;
constexpr int LED_SIZE = 48;

// One front LED, drawn in code: a bezel, and inside it the lit colour, a dark lens (off), a grey
// lens with three strokes (no data) or a question mark (the valve does not know).
class LedView : public QWidget {
public:
    LedView(QWidget* parent, const char* id) : QWidget(parent) {
        setObjectName(QString::fromLatin1(id));
        setFixedSize(LED_SIZE, LED_SIZE);
    }
    void SetPicture(LedPicture p) {
        if (p == picture_) return;
        picture_ = p;
        update();
    }
    LedPicture Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // Greyed with the rest of the values while they are stale.
        if (!isEnabled()) p.setOpacity(0.35);
        const QRectF outer = QRectF(rect()).adjusted(2, 2, -2, -2);
        p.setPen(QPen(QColor(70, 70, 70), 2));
        p.setBrush(QColor(150, 150, 150));
        p.drawEllipse(outer);
        const QRectF lens = outer.adjusted(5, 5, -5, -5);
        const QPointF c = lens.center();
        const qreal r = lens.width() / 2;

        QColor lit;
        switch (picture_) {
        case LedPicture::LitRed:
            lit = QColor(235, 30, 30);
            break;
        case LedPicture::LitGreen:
            lit = QColor(40, 220, 60);
            break;
        case LedPicture::LitYellow:
            lit = QColor(250, 215, 30);
            break;
        default:
            break;
        }
        p.setPen(QPen(QColor(60, 60, 60), 1));
        if (lit.isValid()) {
            QRadialGradient g(c - QPointF(r / 3, r / 3), r * 1.3);
            g.setColorAt(0, lit.lighter(170));
            g.setColorAt(0.5, lit);
            g.setColorAt(1, lit.darker(160));
            p.setBrush(g);
            p.drawEllipse(lens);
            return;
        }
        p.setBrush(picture_ == LedPicture::NoData ? QColor(200, 200, 200) : QColor(235, 235, 235));
        p.drawEllipse(lens);
        p.setPen(QPen(QColor(60, 60, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
        if (picture_ == LedPicture::NoData) {
            for (int i = -1; i <= 1; ++i)
                p.drawLine(QPointF(c.x() - r / 2.5, c.y() + i * r / 3),
                           QPointF(c.x() + r / 2.5, c.y() + i * r / 3));
        } else if (picture_ == LedPicture::Question) {
            QFont f = font();
            f.setBold(true);
            f.setPixelSize(static_cast<int>(r * 1.4));
            p.setFont(f);
            p.drawText(lens, Qt::AlignCenter, QStringLiteral("?"));
        }
    }

private:
    LedPicture picture_ = LedPicture::NoData;
};

// Display only: the user cannot change the valve's state here. The button takes no click and no
// focus instead of being disabled, so that its selection stays readable.
class DisplayRadio : public QRadioButton {
public:
    DisplayRadio(const QString& text, QWidget* parent) : QRadioButton(text, parent) {}

protected:
    bool hitButton(const QPoint&) const override { return false; }
};

struct PairIds {
    const char* group;
    const char* first;
    const char* second;
};
// Control ids in the order of StatusPairs(), kept as object names.
const PairIds PAIR_IDS[] = {{"1281", "1291", "1619"}, {"1600", "1293", "1622"}, {"1280", "1604", "1601"},
                            {"1719", "1272", "1273"}, {"1593", "1286", "1284"}, {"1596", "1290", "1611"},
                            {"1716", "1718", "1717"}, {"1589", "1591", "1275"}};
} // namespace

CStatusInfoDialog::CStatusInfoDialog(QWidget* parent, QlnState& state, const TextSource& texts)
    : CNotifiedDialog(parent), s_(state) {
    auto caption = [&](unsigned id, const char* own) {
        return QString::fromStdString(texts.HasLibrary() ? texts.Get(id) : std::string(own));
    };
    setWindowTitle(QString::fromStdString(texts.Get(TEXT_TITLE)));

    auto* pairs = new QGridLayout;
    const auto rows = StatusPairs();
    for (size_t i = 0; i < rows.size(); ++i) {
        const StatusPair& row = rows[i];
        auto* box = new QGroupBox(caption(row.groupText, row.groupCaption), this);
        box->setObjectName(QString::fromLatin1(PAIR_IDS[i].group));
        auto* h = new QHBoxLayout(box);
        const char* ids[2] = {PAIR_IDS[i].first, PAIR_IDS[i].second};
        const QString names[2] = {caption(row.firstText, row.firstCaption),
                                  caption(row.secondText, row.secondCaption)};
        for (size_t b = 0; b < 2; ++b) {
            auto* radio = new DisplayRadio(names[b], box);
            radio->setObjectName(QString::fromLatin1(ids[b]));
            // Both stay unchecked while nothing valid is known.
            radio->setAutoExclusive(false);
            radio->setFocusPolicy(Qt::NoFocus);
            h->addWidget(radio);
            radios_[i][b] = radio;
        }
        pairs->addWidget(box, static_cast<int>(i / 2), static_cast<int>(i % 2));
        valueBoxes_[i] = box;
    }

    auto* ledBox = new QGroupBox(caption(325, "LED"), this);
    ledBox->setObjectName(QStringLiteral("1738"));
    auto* ledGrid = new QGridLayout(ledBox);
    valueBoxes_[8] = ledBox;
    const struct {
        const char* labelId;
        unsigned text;
        const char* caption;
        const char* ledId;
    } LEDS[] = {
        {"1739", 297, "RED", "1742"}, {"1740", 295, "GREEN", "1743"}, {"1741", 296, "YELLOW", "1744"}};
    for (size_t i = 0; i < 3; ++i) {
        auto* label = new QLabel(caption(LEDS[i].text, LEDS[i].caption), ledBox);
        label->setObjectName(QString::fromLatin1(LEDS[i].labelId));
        leds_[i] = new LedView(ledBox, LEDS[i].ledId);
        ledGrid->addWidget(label, 0, static_cast<int>(i), Qt::AlignHCenter);
        ledGrid->addWidget(leds_[i], 1, static_cast<int>(i), Qt::AlignHCenter);
    }

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(caption(7, "OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    staleNote_ = new QLabel(QString::fromStdString(texts.GetSilently(IDS_WAITING_FOR_VALVE)), this);
    staleNote_->setObjectName(QStringLiteral("staleNote"));
    staleNote_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pairs);
    layout->addWidget(ledBox);
    layout->addWidget(staleNote_);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    poll_ = new QTimer(this);
    poll_->setInterval(2000);
    connect(poll_, &QTimer::timeout, this, &CStatusInfoDialog::OnPollTick);
    poll_->start();
    blink_ = new QTimer(this);
    blink_->setInterval(1000);
    connect(blink_, &QTimer::timeout, this, &CStatusInfoDialog::OnBlinkTick);
    blink_->start();
    auto* staleCheck = new QTimer(this);
    staleCheck->setInterval(250);
    connect(staleCheck, &QTimer::timeout, this, &CStatusInfoDialog::UpdateStale);
    staleCheck->start();

    ClearStatus(s_.THREAD_CMD.load(), s_.statusInfo);
    Refresh();
}

LedPicture CStatusInfoDialog::Led(size_t led) const {
    return static_cast<const LedView*>(leds_[led])->Picture();
}

void CStatusInfoDialog::OnPollTick() {
    if (!isVisible()) return;
    const PortDevice device = PortDeviceOf(s_.link);
    waitingForDevice_ = device == PortDevice::Gone;
    const StatusPoll poll = DecideStatusPoll(commError_, device);
    commError_ = poll.stopped;
    if (poll.request && RequestStatusRead(s_.THREAD_CMD, false)) WakeEngine(s_.link);
    // A poll the busy engine could not take leaves the values unconfirmed just the same.
    if (poll.unconfirmed) stale_.Asked(s_.link.clock->NowMs());
}

void CStatusInfoDialog::OnBlinkTick() {
    if (!isVisible()) return;
    blinkPhase_ = !blinkPhase_;
    Refresh();
}

void CStatusInfoDialog::OnMsgReceive(uint32_t code, intptr_t) {
    const bool error = IsCommunicationError(code);
    if (code != NOTIFY_STATUS && !error) return;
    // The error of a poll that the vanishing device broke leaves the values waiting for it.
    if (!error || ErrorStopsStatusPolls(PortDeviceOf(s_.link))) {
        commError_ = commError_ || error;
        stale_.Settled();
    }
    Refresh();
    UpdateStale();
}

void CStatusInfoDialog::UpdateStale() {
    // A device that was gone at the last poll is asked for as soon as it is back, not 2 s later.
    if (waitingForDevice_ && PortDeviceOf(s_.link) == PortDevice::Back) OnPollTick();
    const bool stale = stale_.Stale(s_.link.clock->NowMs());
    if (stale == staleShown_) return;
    staleShown_ = stale;
    for (QWidget* box : valueBoxes_)
        box->setEnabled(!stale);
    staleNote_->setVisible(stale);
}

void CStatusInfoDialog::Refresh() {
    // While a read is pending the last copy stays on display.
    SnapshotStatus(s_.THREAD_CMD.load(), s_.statusInfo, shown_);
    const bool valid = shown_.Valid != 0;
    const auto rows = StatusPairs();
    for (size_t i = 0; i < rows.size(); ++i) {
        const int sel = RadioSelection(shown_.*(rows[i].field), valid);
        radios_[i][0]->setChecked(sel == 0);
        radios_[i][1]->setChecked(sel == 1);
    }
    const int32_t states[3] = {shown_.LedRed, shown_.LedGreen, shown_.LedYellow};
    const LedColour colours[3] = {LedColour::Red, LedColour::Green, LedColour::Yellow};
    for (size_t i = 0; i < 3; ++i)
        static_cast<LedView*>(leds_[i])->SetPicture(
            ChooseLedPicture(colours[i], states[i], valid, blinkPhase_));
}
