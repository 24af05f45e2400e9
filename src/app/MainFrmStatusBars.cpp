// The main window's title and its two status bars: the project bar and the file bar with the
// connection field, which also takes the status tips of the menu commands.
#include <QLabel>
#include <QStatusBar>
#include <QStatusTipEvent>

#include "app/MainFrm.h"
#include "engine/QlnState.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

void CMainFrame::BuildStatusBars(int screenClass) {
    QFont f = font();
    const int shrink = screenClass == 800 ? 6 : 4;
    f.setPixelSize(std::max(8, QFontMetrics(font()).height() - shrink));
    f.setWeight(QFont::Medium);
    f.setStyleHint(QFont::SansSerif);
    const QFontMetrics fm(f);
    const int width0 = fm.horizontalAdvance(Q(Texts().Get(3)));
    const int width1 = fm.horizontalAdvance(Q(Texts().Get(9)));
    for (size_t b = 0; b < 2; ++b) {
        auto* bar = new QStatusBar(this);
        bar->setObjectName(b == 0 ? QStringLiteral("projectBar") : QStringLiteral("fileBar"));
        bar->setSizeGripEnabled(false);
        bar->setFont(f);
        for (size_t p = 0; p < 2; ++p) {
            auto* pane = new QLabel(bar);
            pane->setFont(f);
            pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            pane->setMinimumWidth((p == 0 ? width0 : width1) + 8);
            bar->addWidget(pane, p == 0 ? 0 : 1);
            panes_[b][p] = pane;
        }
        bars_[b] = bar;
    }
    // After the panes, and permanent: a message shown in the bar does not hide the line's state.
    connection_ = new QLabel(bars_[1]);
    connection_->setObjectName(QStringLiteral("connection"));
    connection_->setFont(f);
    connection_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bars_[1]->addPermanentWidget(connection_);
}

void CMainFrame::RebuildTitle() {
    setWindowTitle(Q(BuildTitle(Texts(), switches_.testMode, project_.path, modified_)));
}

void CMainFrame::SetProjectModified(bool modified) {
    modified_ = modified;
    RebuildTitle();
}

void CMainFrame::UpdateStatusBars() {
    const StatusTexts t = BuildStatusTexts(Texts(), s_.params.ValveBlock, project_.name, project_.fileName);
    panes_[0][0]->setText(Q(t.project));
    panes_[0][1]->setText(Q(t.setpoint));
    panes_[1][0]->setText(Q(t.file));
    panes_[1][1]->setText(Q(t.parameterSet));
    connection_->setText(Q(ConnectionText(Texts(), s_)));
}

QString CMainFrame::ConnectionStatus() const {
    return connection_->text();
}

QString CMainFrame::StatusText(int bar, int pane) const {
    if (bar < 0 || bar > 1 || pane < 0 || pane > 1) return {};
    return panes_[static_cast<size_t>(bar)][static_cast<size_t>(pane)]->text();
}

// The status tip of a menu command (why it is disabled) goes to the file bar; the window has no
// status bar of Qt's own to take it.
bool CMainFrame::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip && bars_[1]) {
        // An empty tip (the pointer left the item) takes away only a tip, not another message.
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        if (!tip.isEmpty())
            bars_[1]->showMessage(tip);
        else if (bars_[1]->currentMessage() == lastTip_)
            bars_[1]->clearMessage();
        lastTip_ = tip;
        return true;
    }
    return QMainWindow::event(e);
}
