#include "app/MainFrm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <atomic>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/Artwork.h"
#include "app/LanguageLibrary.h"
#include "app/MessageBox.h"
#include "app/QtNotifier.h"
#include "app/SerialPortDialog.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/DebugDialog.h"
#include "dialogs/NotifiedDialog.h"
#include "dialogs/StatusInfoDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "engine/QlnState.h"
#include "link/SerialPort.h"
#include "params/ParameterIni.h"
#include "scope/ChildView.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string InFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string(name) : folder + "/" + name;
}

// Commands that work in this version; the rest are shown but stay disabled until their dialogs
// and actions exist.
const std::set<unsigned> AVAILABLE{ID_SERIAL_PORT, ID_EXIT,  ID_AUTOTUNE, ID_STOP_ACQUISITION,
                                   ID_SHOW_GRID,   ID_ABOUT, ID_HELP,     ID_DEBUG_DIALOG,
                                   ID_VALVE_INFO,  ID_STATUS};
} // namespace

CMainFrame::CMainFrame(const FrameSetup& setup)
    : s_(*setup.state), switches_(setup.switches), folder_(setup.programFolder),
      buildStamp_(setup.buildStamp), library_(setup.library), onClosing_(setup.onClosing),
      messages_(*setup.messages), project_(ResetProjectNames(*setup.state->texts)) {
    // Until the threads run, stopping must not wait for anybody.
    for (auto& rs : s_.link.RunStates)
        rs.store(RUN_STOPPED);
    std::atomic_ref<int32_t>(s_.params.ValveBlock.BLOCK_VALID).store(0);

    // Nothing of the program may be visible before the user has read this.
    messages_.Show(Texts().Get(357), Texts().Get(IDS_APP_TITLE), MbIcon::Stop, MbButtons::Ok);

    notifier_ =
        std::make_unique<QtNotifier>([this](uint32_t code, intptr_t value) { OnMsgReceive(code, value); },
                                     [this](const std::string& text, const std::string& caption) {
                                         messages_.Show(text, caption, MbIcon::None, MbButtons::Ok);
                                     });
    threads_ = std::make_unique<EngineThreads>(s_, *notifier_);

    const int width =
        setup.screenWidth > 0
            ? setup.screenWidth
            : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->size().width() : 1024);
    const int screenClass = ::ScreenClass(width);

    setWindowIcon(ProgramIcon());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(pal);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new CChildView(central);
    view_->SetScreenClass(screenClass);
    layout->addWidget(view_, 1);
    setCentralWidget(central);

    std::vector<LangMenuItem> menu = BuiltinMenu();
    if (library_ && library_->Menu()) menu = *library_->Menu();
    if (!switches_.cal) RemoveCalibrationCommands(menu);
    BuildMenu(std::move(menu));
    BuildStatusBars(screenClass);
    layout->addWidget(bars_[0]);
    layout->addWidget(bars_[1]);

    statusTimer_ = new QTimer(this);
    statusTimer_->setInterval(1000);
    connect(statusTimer_, &QTimer::timeout, this, [this] {
        UpdateStatusBars();
        UpdateCommandEnabling();
    });
    statusTimer_->start();

    s_.link.uTestMode.store(switches_.testMode ? 1u : 0u);
    ReadSettingsFiles();
    if (switches_.log) {
        s_.link.trace.TraceEnabled.store(1);
        s_.link.trace.OpenTrace(InFolder(folder_, kTraceFile), Texts().Get(IDS_APP_TITLE),
                                s_.link.uTestMode.load());
    }
    RebuildTitle();
    UpdateStatusBars();
    UpdateCommandEnabling();
    s_.ACTION_STEP.store(0);
    threads_->Start();
}

CMainFrame::~CMainFrame() {
    if (!shutDown_) {
        // Destroyed without a close (a failed start, a test): release every waiting sender, then
        // the threads can be joined without the event loop.
        shutDown_ = closing_ = true;
        notifier_->BeginClosing();
        if (onClosing_) onClosing_();
        threads_->Stop();
        s_.link.trace.CloseTrace();
    }
}

const TextSource& CMainFrame::Texts() const {
    return *s_.texts;
}

// ---- creation ---------------------------------------------------------------------------------

QAction* CMainFrame::MakeAction(unsigned command, const QString& text) {
    if (auto it = actions_.find(command); it != actions_.end()) return it->second;
    auto* a = new QAction(text, this);
    a->setData(command);
    for (const Accelerator& acc : Accelerators())
        if (acc.command == command) a->setShortcut(QKeySequence(QString::fromLatin1(acc.keys)));
    if (command == ID_SHOW_GRID) a->setCheckable(true);
    connect(a, &QAction::triggered, this, [this, command] { OnCommand(command); });
    actions_[command] = a;
    return a;
}

void CMainFrame::AddItems(QMenu* menu, const std::vector<LangMenuItem>& items) {
    for (const LangMenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
        } else if (!item.children.empty()) {
            QMenu* sub = menu->addMenu(Q(item.text));
            connect(sub, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandEnabling);
            AddItems(sub, item.children);
        } else if (item.commandId != 0) {
            menu->addAction(MakeAction(item.commandId, Q(item.text)));
        }
    }
}

void CMainFrame::BuildMenu(std::vector<LangMenuItem> menu) {
    for (const LangMenuItem& top : menu) {
        if (top.separator) continue;
        if (top.children.empty()) {
            if (top.commandId != 0) menuBar()->addAction(MakeAction(top.commandId, Q(top.text)));
            continue;
        }
        QMenu* m = menuBar()->addMenu(Q(top.text));
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandEnabling);
        AddItems(m, top.children);
    }
    // Keys without a menu entry (a library menu may lack some commands as well). The calibration
    // commands stay unreachable without the calibration switch, by key as by menu.
    for (const Accelerator& acc : Accelerators()) {
        if (actions_.count(acc.command)) continue;
        if (!switches_.cal && (acc.command == ID_CALIBRATION || acc.command == ID_CALIBRATION_MATRIX ||
                               acc.command == ID_DISPLAY_CALIBRATION))
            continue;
        addAction(MakeAction(acc.command, QString()));
    }
}

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
}

void CMainFrame::ReadSettingsFiles() {
    std::string error;
    com_ = ReadComSettings(folder_, &error);
    if (!error.empty())
        messages_.Show(std::string(kComSettingsFile) + ": " + error +
                           "\nThe program uses COM1 until the file can be read.",
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    s_.link.PortIndex.store(com_.PortIndex);
    for (size_t i = 0; i < com_.DevicePath.size(); ++i)
        s_.link.DevicePath[i] = com_.DevicePath[i];
    error.clear();
    // Written back at once, so the file always exists with a valid entry. A read-only folder is
    // no reason to stop: the program runs on with what it read.
    if (!WriteComSettings(folder_, com_.PortIndex, &error)) std::cerr << "qln: " << error << "\n";

    ParameterBlocks& p = s_.params;
    std::memset(p.VisibilityFlags, 0, sizeof p.VisibilityFlags);
    p.IniBlock = ParameterBlock{};
    error.clear();
    if (!ReadParameterIniFile(folder_, p.IniBlock, p.VisibilityFlags, &error))
        messages_.Show(std::string(kParameterIniFile) + ": " + error +
                           "\nThe parameter defaults of the program are used; the file is left as it is.",
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    error.clear();
    if (!WriteParameterIniFile(folder_, p.IniBlock, p.VisibilityFlags, &error))
        std::cerr << "qln: " << error << "\n";
    p.EditBlock = p.IniBlock;
}

// ---- title, status bars, enabling ---------------------------------------------------------------

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
}

QString CMainFrame::StatusText(int bar, int pane) const {
    if (bar < 0 || bar > 1 || pane < 0 || pane > 1) return {};
    return panes_[static_cast<size_t>(bar)][static_cast<size_t>(pane)]->text();
}

void CMainFrame::UpdateCommandEnabling() {
    const uint32_t cmd = s_.THREAD_CMD.load();
    for (auto& [id, action] : actions_)
        action->setEnabled(!closing_ && AVAILABLE.count(id) && CommandEnabledByEngine(id, cmd));
    if (QAction* grid = CommandAction(ID_SHOW_GRID)) grid->setChecked(view_->GridShown());
}

QAction* CMainFrame::CommandAction(unsigned command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

// ---- commands -----------------------------------------------------------------------------------

void CMainFrame::OnCommand(unsigned command) {
    if (closing_ || !AVAILABLE.count(command)) return;
    switch (command) {
    case ID_EXIT:
        OnExit();
        break;
    case ID_SERIAL_PORT:
        OnSerialPort();
        break;
    case ID_AUTOTUNE:
        OnAutoTune();
        break;
    case ID_STOP_ACQUISITION:
        OnStopAcquisition();
        break;
    case ID_SHOW_GRID:
        view_->ToggleGrid();
        UpdateCommandEnabling();
        break;
    case ID_ABOUT:
        OnAbout();
        break;
    case ID_HELP:
        OnHelp();
        break;
    case ID_DEBUG_DIALOG:
        OnDebugDialog();
        break;
    case ID_VALVE_INFO: {
        CValveInfoDialog dlg(this, s_, Texts());
        RunInSlot(SLOT_VALVE_INFO, dlg);
        break;
    }
    case ID_STATUS: {
        PublishValid(s_.statusInfo.Valid, 0);
        CStatusInfoDialog dlg(this, s_, Texts());
        RunInSlot(SLOT_STATUS_INFO, dlg);
        break;
    }
    default:
        break;
    }
}

void CMainFrame::OnSerialPort() {
    CSerialPortDialog dlg(this, s_, com_.DevicePath, Texts(), messages_);
    if (dlg.exec() == QDialog::Accepted && dlg.Changed()) {
        s_.link.BaudIndex.store(0);
        std::string error;
        if (!WriteComSettings(folder_, s_.link.PortIndex.load(), &error))
            messages_.Show(std::string(kComSettingsFile) + ": " + error +
                               "\nThe new port is used until the program ends, but it is not saved.",
                           Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    }
    RebuildTitle();
}

void CMainFrame::OnAutoTune() {
    messages_.Show(Texts().Get(367), "Auto-Tune", MbIcon::Stop, MbButtons::Ok);
    if (messages_.Show(Texts().Get(368), "Auto-Tune", MbIcon::Stop, MbButtons::OkCancel, MbResult::Ok) !=
        MbResult::Ok)
        return;
    if (RequestAutoTune(s_.THREAD_CMD)) WakeEngine(s_.link);
}

void CMainFrame::OnStopAcquisition() {
    const bool running = RequestStopAcquisition(s_.THREAD_CMD);
    WakeEngine(s_.link);
    if (running)
        QLN_TRACE_INFO(s_.link.trace, " Acquisition stopped");
    else
        QLN_TRACE_INFO(s_.link.trace, " Acquisition hard stopped");
    view_->update();
}

void CMainFrame::OnHelp() {
    const std::string path = InFolder(folder_, kHelpFile);
    const QString file = Q(path);
    // Opened by the desktop's viewer for the file; the program never waits for it.
    if (!QFileInfo(file).isFile() ||
        !QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath())))
        messages_.Show("The help file '" + path + "' could not be opened.", Texts().Get(IDS_APP_TITLE),
                       MbIcon::Exclamation);
}

void CMainFrame::OnAbout() {
    CAboutDialog dlg(this, Texts(), kVersionText, buildStamp_);
    dlg.exec();
}

void CMainFrame::OnDebugDialog() {
    CDebugDialog dlg(this, s_.link.DebugVars);
    dlg.exec();
}

// The dialog receives the engine's notifications for its slot only while its modal loop runs.
// Valve info and status info change nothing of the project, so title and modified flag stay.
void CMainFrame::RunInSlot(DialogSlot slot, CNotifiedDialog& dlg) {
    SetSlot(slot, &dlg);
    dlg.exec();
    SetSlot(slot, nullptr);
}

// ---- notifications ------------------------------------------------------------------------------

void CMainFrame::SetSlot(DialogSlot slot, CNotifiedDialog* dialog) {
    if (slot < SLOT_COUNT) slots_[slot] = dialog;
}

void CMainFrame::OnMsgReceive(uint32_t code, intptr_t value) {
    if (closing_) return;
    const NotificationRoute r = RouteNotification(code);
    for (unsigned i = 0; i < SLOT_COUNT; ++i) {
        if (!(r.slotMask & (1u << i)) || !slots_[i]) continue;
        QPointer<CNotifiedDialog> d = slots_[i];
        // Queued: the dialog sees it after this handler has returned, and not at all if it has
        // closed in between.
        QMetaObject::invokeMethod(
            d, [d, code, value] { d->OnMsgReceive(code, value); }, Qt::QueuedConnection);
    }
    if (r.copyEditToValveWhenParametersClosed && !slots_[SLOT_PARAMETERS])
        s_.params.ValveBlock = s_.params.EditBlock;
    if (r.view == NotificationRoute::View::Send) view_->OnAcquisitionProgress(value);
    if (r.view == NotificationRoute::View::Post) {
        QPointer<CChildView> v = view_;
        QMetaObject::invokeMethod(
            v, [v, value] { v->OnAcquisitionEnded(value); }, Qt::QueuedConnection);
    }
    switch (r.box) {
    case NotificationRoute::Box::None:
        break;
    case NotificationRoute::Box::CommunicationError:
        messages_.Show(Texts().Get(IDS_COMMUNICATION_ERROR), Texts().Get(IDS_APP_TITLE), MbIcon::None,
                       MbButtons::Ok);
        break;
    case NotificationRoute::Box::BaudrateError: {
        // This text always comes from the program's own table. When the port itself could not be
        // opened, say why and what to do about it.
        std::string text = TextSource::Builtin(IDS_BAUDRATE_ERROR);
        const int openError = LastOpenError(s_.link);
        if (!s_.link.uTestMode.load() && openError != 0) {
            const int port = s_.link.PortIndex.load();
            text += "\n\n" + PortOpenAdvice(openError, s_.link.DevicePath[static_cast<size_t>(port & 7)]);
        }
        messages_.Show(text, Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        break;
    }
    case NotificationRoute::Box::Unknown:
        messages_.Show("ERROR OnMsgReceive ", "KVT", MbIcon::None, MbButtons::Ok);
        break;
    }
}

// ---- closing ------------------------------------------------------------------------------------

void CMainFrame::OnExit() {
    if (closing_ || exitApproved_) return;
    switch (DecideExit(s_.THREAD_CMD.load(), modified_)) {
    case ExitDecision::Refuse:
        messages_.Show(Texts().Get(113), Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        return;
    case ExitDecision::AskSave:
        switch (messages_.Show(Texts().Get(32), Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation,
                               MbButtons::YesNoCancel, MbResult::No)) {
        case MbResult::Yes:
            // A project that could not be saved is not thrown away: the window stays open.
            if (!SaveProject()) return;
            break;
        case MbResult::No:
            break;
        default:
            return;
        }
        break;
    case ExitDecision::Close:
        break;
    }
    exitApproved_ = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void CMainFrame::closeEvent(QCloseEvent* e) {
    if (!exitApproved_ && !closing_) {
        // The window manager's close button and Alt+F4 go through the same guard as Exit.
        e->ignore();
        QMetaObject::invokeMethod(
            this, [this] { OnExit(); }, Qt::QueuedConnection);
        return;
    }
    Shutdown();
    e->accept();
}

void CMainFrame::Shutdown() {
    if (shutDown_) return;
    shutDown_ = closing_ = true;
    statusTimer_->stop();
    view_->SetClosing();
    // From here on the engine never waits for the window.
    notifier_->BeginClosing();
    if (onClosing_) onClosing_();
    hide();
    // Stopping joins the threads; meanwhile this thread keeps handling events, so nothing the
    // engine might still be waiting for can be stuck behind the join.
    std::atomic<bool> stopped{false};
    std::thread stopper([this, &stopped] {
        threads_->Stop();
        stopped.store(true);
    });
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stopped.load()) loop.quit();
    });
    poll.start();
    if (!stopped.load()) loop.exec();
    stopper.join();
    s_.link.trace.CloseTrace();
}

void CMainFrame::focusInEvent(QFocusEvent* e) {
    if (!closing_) view_->setFocus();
    QMainWindow::focusInEvent(e);
}
