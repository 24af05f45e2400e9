#include "app/MainFrm.h"

#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cstring>
#include <iostream>
#include <thread>

#include "app/HelpWindow.h"
#include "app/QtNotifier.h"
#include "app/SerialPortDialog.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/Artwork.h"
#include "dialogs/CalibrationDialog.h"
#include "dialogs/CalibrationMatrixDialog.h"
#include "dialogs/DebugDialog.h"
#include "dialogs/DisplayCalibrationDialog.h"
#include "dialogs/MessageBox.h"
#include "dialogs/NotifiedDialog.h"
#include "dialogs/ParametersDialog.h"
#include "dialogs/ScopeSetupDialog.h"
#include "dialogs/SerialSetpointDialog.h"
#include "dialogs/StatusInfoDialog.h"
#include "dialogs/TestFunctionDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "engine/FailureReport.h"
#include "engine/QlnState.h"
#include "link/SerialPort.h"
#include "scope/ChildView.h"
#include "settings/ParameterIni.h"
#include "text/LanguageLibrary.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string InFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string(name) : folder + "/" + name;
}
} // namespace

// ---- command handlers ---------------------------------------------------------------------------

struct CommandBinding {
    unsigned id;
    void (CMainFrame::*run)();
    bool (CMainFrame::*checked)() const; // the check mark of a checkable item, else nullptr
};

// The handler of each command of the command table that has one. Stop acquisition has its own
// already; the table keeps it disabled until the engine can carry out its request.
struct CommandBindings {
    static constexpr CommandBinding ROWS[] = {
        {ID_NEW_PROJECT, &CMainFrame::OnNewProject, nullptr},
        {ID_OPEN_PROJECT, &CMainFrame::OnOpenProject, nullptr},
        {ID_SAVE_PROJECT, &CMainFrame::OnSaveProject, nullptr},
        {ID_SAVE_PROJECT_AS, &CMainFrame::OnSaveProjectAs, nullptr},
        {ID_PROJECT_INFO, &CMainFrame::OnProjectInfo, nullptr},
        {ID_PRINT_PROJECT, &CMainFrame::OnPrintProject, nullptr},
        {ID_SERIAL_PORT, &CMainFrame::OnSerialPort, nullptr},
        {ID_EXIT, &CMainFrame::OnExit, nullptr},
        {ID_PARAMETERS, &CMainFrame::OnParameters, nullptr},
        {ID_VALVE_INFO, &CMainFrame::OnValveInfo, nullptr},
        {ID_STATUS, &CMainFrame::OnStatus, nullptr},
        {ID_SERIAL_SETPOINT, &CMainFrame::OnSerialSetpoint, nullptr},
        {ID_TEST_FUNCTION, &CMainFrame::OnTestFunction, nullptr},
        {ID_CALIBRATION, &CMainFrame::OnCalibration, nullptr},
        {ID_CALIBRATION_MATRIX, &CMainFrame::OnCalibrationMatrix, nullptr},
        {ID_DISPLAY_CALIBRATION, &CMainFrame::OnDisplayCalibration, nullptr},
        {ID_AUTOTUNE, &CMainFrame::OnAutoTune, nullptr},
        {ID_SCOPE_SETUP, &CMainFrame::OnScopeSetup, nullptr},
        {ID_START_ACQUISITION, &CMainFrame::OnStartAcquisition, nullptr},
        {ID_STOP_ACQUISITION, &CMainFrame::OnStopAcquisition, nullptr},
        {ID_SHOW_GRID, &CMainFrame::OnShowGrid, &CMainFrame::GridShown},
        {ID_RESET_ZOOM, &CMainFrame::OnResetZoom, nullptr},
        {ID_NEXT_READOUT, &CMainFrame::OnNextReadout, nullptr},
        {ID_PREVIOUS_READOUT, &CMainFrame::OnPreviousReadout, nullptr},
        {ID_TAKE_READOUT, &CMainFrame::OnTakeReadout, nullptr},
        {ID_EXPORT_RECORDING, &CMainFrame::OnExportRecording, nullptr},
        {ID_EXPORT_PICTURE, &CMainFrame::OnExportPicture, nullptr},
        {ID_HELP, &CMainFrame::OnHelp, nullptr},
        {ID_ABOUT, &CMainFrame::OnAbout, nullptr},
        {ID_DEBUG_DIALOG, &CMainFrame::OnDebugDialog, nullptr},
    };

    static constexpr const CommandBinding* Find(unsigned id) {
        for (const CommandBinding& b : ROWS)
            if (b.id == id) return &b;
        return nullptr;
    }

    // Every command that is built has exactly one handler, and every handler belongs to a command.
    static constexpr bool Complete() {
        for (const CommandRow& row : COMMANDS) {
            int handlers = 0;
            for (const CommandBinding& b : ROWS)
                handlers += b.id == row.id;
            if (handlers > 1 || (handlers == 0 && !(row.rule & RULE_NOT_BUILT))) return false;
        }
        // Compared by id, not through pointers: with the undefined-behaviour sanitizer GCC does not
        // fold pointer comparisons in a constant expression.
        for (const CommandBinding& b : ROWS) {
            bool known = false;
            for (const CommandRow& row : COMMANDS)
                known = known || row.id == b.id;
            if (!known) return false;
        }
        return true;
    }
};
static_assert(CommandBindings::Complete(), "each built command needs one handler, each handler a command");

bool CMainFrame::HasHandler(unsigned command) {
    return CommandBindings::Find(command) != nullptr;
}

CMainFrame::CMainFrame(const FrameSetup& setup)
    : s_(*setup.state), switches_(setup.switches), folder_(setup.programFolder),
      buildStamp_(setup.buildStamp), library_(setup.library), onClosing_(setup.onClosing),
      messages_(*setup.messages), project_(ResetProjectNames(*setup.state->texts)),
      file_(std::make_unique<ProjectFile>()) {
    ResetProject(*file_);
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

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new CChildView(central);
    view_->SetScreenClass(screenClass);
    view_->Attach(&s_);
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
        const std::string traceError = s_.link.trace.TakeWriteError();
        if (!traceError.empty()) bars_[1]->showMessage(Q(traceError), 30000);
        UpdateStatusBars();
        UpdateCommandEnabling();
    });
    statusTimer_->start();

    s_.link.uTestMode.store(switches_.testMode ? 1u : 0u);
    ReadSettingsFiles();
    if (switches_.log) {
        s_.link.trace.TraceEnabled.store(1);
        const std::string error = s_.link.trace.OpenTrace(
            InFolder(folder_, kTraceFile), Texts().Get(IDS_APP_TITLE), s_.link.uTestMode.load());
        if (!error.empty()) bars_[1]->showMessage(Q(error), 30000);
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
    if (const CommandRow* row = FindCommand(command); row && row->keys)
        a->setShortcut(QKeySequence(QString::fromLatin1(row->keys)));
    if (const CommandBinding* b = CommandBindings::Find(command); b && b->checked) a->setCheckable(true);
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
            sub->setToolTipsVisible(true);
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
        m->setToolTipsVisible(true);
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandEnabling);
        AddItems(m, top.children);
    }
    // Keys without a menu entry (a library menu may lack some commands as well). The calibration
    // commands stay unreachable without the calibration switch, by key as by menu.
    for (const Accelerator& acc : Accelerators()) {
        if (actions_.count(acc.command)) continue;
        if (!switches_.cal && CalibrationOnly(acc.command)) continue;
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
    // After the panes, and permanent: a message shown in the bar does not hide the line's state.
    connection_ = new QLabel(bars_[1]);
    connection_->setObjectName(QStringLiteral("connection"));
    connection_->setFont(f);
    connection_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bars_[1]->addPermanentWidget(connection_);
}

void CMainFrame::ReadSettingsFiles() {
    std::string error;
    com_ = ReadComSettings(folder_, &error);
    if (!error.empty())
        messages_.Show(std::string(kComSettingsFile) + ": " + error +
                           "\nThe program uses COM1 until the file can be read.",
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    // Shown once, where the user looks for the port; the fallback to COM1 and the rewrite stay.
    if (!com_.warning.empty()) bars_[0]->showMessage(Q(com_.warning), 30000);
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
    connection_->setText(Q(ConnectionText(Texts(), s_)));
}

QString CMainFrame::ConnectionStatus() const {
    return connection_->text();
}

QString CMainFrame::StatusText(int bar, int pane) const {
    if (bar < 0 || bar > 1 || pane < 0 || pane > 1) return {};
    return panes_[static_cast<size_t>(bar)][static_cast<size_t>(pane)]->text();
}

void CMainFrame::UpdateCommandEnabling() {
    const uint32_t cmd = s_.THREAD_CMD.load();
    for (auto& [id, action] : actions_) {
        action->setEnabled(!closing_ && CommandEnabled(id, cmd, switches_.cal));
        const QString why = Q(DisabledReason(Texts(), id, cmd, switches_.cal));
        // Empty gives the action's own text back as its tooltip.
        action->setToolTip(why);
        action->setStatusTip(why);
        if (const CommandBinding* b = CommandBindings::Find(id); b && b->checked)
            action->setChecked((this->*b->checked)());
    }
}

QAction* CMainFrame::CommandAction(unsigned command) const {
    auto it = actions_.find(command);
    return it == actions_.end() ? nullptr : it->second;
}

// ---- commands -----------------------------------------------------------------------------------

void CMainFrame::OnCommand(unsigned command) {
    // The rule is checked again here: the enabling is only brought up to date once a second and
    // when a menu opens, and a key can come in between.
    if (closing_ || !CommandEnabled(command, s_.THREAD_CMD.load(), switches_.cal)) return;
    if (const CommandBinding* b = CommandBindings::Find(command)) (this->*b->run)();
}

void CMainFrame::OnSerialPort() {
    CSerialPortDialog dlg(this, s_, com_.DevicePath, Texts(), messages_);
    if (dlg.exec() == QDialog::Accepted && dlg.Changed()) {
        s_.link.BaudIndex.store(0);
        // What the old port's line did says nothing about the new one.
        s_.LastFailure.store(LineFailure::None);
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

// A changed set-up makes the recording meaningless: it is cleared, and the project is modified.
void CMainFrame::OnScopeSetup() {
    CScopeSetupDialog dlg(this, s_, Texts(), messages_);
    const bool changed = dlg.exec() == QDialog::Accepted && dlg.Changed();
    if (changed) {
        s_.samples.Clear();
        s_.FillIndex.store(0);
        s_.SamplesReceived.store(0);
        SetProjectModified(true);
    }
    RebuildTitle();
    view_->AfterScopeSetup(changed);
}

// A new recording starts empty, with the view back at its full extent. The request bit follows
// the set-up's mode; another mode (from a damaged file) starts nothing.
void CMainFrame::OnStartAcquisition() {
    if (s_.THREAD_CMD.load() != 0) return;
    s_.samples.Clear();
    s_.FillIndex.store(0);
    const AcquisitionStart start = AcquisitionStartFor(CopyScopeSetup(s_).Mode);
    view_->ResetForAcquisition(start.bit == CMD_ROLL_TRIGGER);
    setCursor(Qt::ArrowCursor);
    if (start.bit != 0) {
        QLN_TRACE_INFO(s_.link.trace, "%s", start.traceText);
        RequestAction(s_, start.bit);
    }
    view_->update();
    UpdateCommandEnabling();
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

void CMainFrame::OnShowGrid() {
    view_->ToggleGrid();
    UpdateCommandEnabling();
}

bool CMainFrame::GridShown() const {
    return view_->GridShown();
}

void CMainFrame::OnResetZoom() {
    view_->ResetZoom();
}

void CMainFrame::OnNextReadout() {
    view_->NextReadoutField();
}

void CMainFrame::OnPreviousReadout() {
    view_->PreviousReadoutField();
}

void CMainFrame::OnTakeReadout() {
    view_->TakeReadoutCommand();
}

void CMainFrame::OnValveInfo() {
    CValveInfoDialog dlg(this, s_, Texts());
    RunInSlot(SLOT_VALVE_INFO, dlg);
}

// The dialog must not show the record of an earlier read as if it were current.
void CMainFrame::OnStatus() {
    PublishValid(s_.statusInfo.Valid, 0);
    CStatusInfoDialog dlg(this, s_, Texts());
    RunInSlot(SLOT_STATUS_INFO, dlg);
}

// What the editor stored into the project's set makes the project modified.
void CMainFrame::OnParameters() {
    CParametersDialog dlg(this, s_, Texts(), [this](const std::string& text, const std::string& caption) {
        messages_.Show(text, caption, MbIcon::Exclamation, MbButtons::Ok);
    });
    RunInSlot(SLOT_PARAMETERS, dlg);
    if (dlg.Changed()) SetProjectModified(true);
    RebuildTitle();
}

// A changed setpoint belongs to the project.
void CMainFrame::OnSerialSetpoint() {
    CSerialSetpointDialog dlg(this, s_, Texts());
    RunInSlot(SLOT_SERIAL_SETPOINT, dlg);
    if (dlg.Changed()) SetProjectModified(true);
    RebuildTitle();
}

// The project holds neither the test function nor its time, so the dialog never modifies it.
void CMainFrame::OnTestFunction() {
    CTestFunctionDialog dlg(this, s_, Texts());
    RunInSlot(SLOT_TEST_FUNCTION, dlg);
    RebuildTitle();
}

// The calibration record belongs to the project: a dialog that changed it marks the project.
void CMainFrame::RunCalibrationDialog(DialogSlot slot, CNotifiedDialog& dlg) {
    RunInSlot(slot, dlg);
    if (dlg.Changed()) SetProjectModified(true);
    RebuildTitle();
}

void CMainFrame::OnCalibration() {
    CCalibrationDialog dlg(this, s_, Texts(), matrixCopied_);
    RunCalibrationDialog(SLOT_CALIBRATION, dlg);
}

void CMainFrame::OnCalibrationMatrix() {
    CCalibrationMatrixDialog dlg(this, s_, Texts(), matrixCopied_);
    RunCalibrationDialog(SLOT_CALIBRATION_MATRIX, dlg);
}

void CMainFrame::OnDisplayCalibration() {
    CDisplayCalibrationDialog dlg(this, s_, Texts(), matrixCopied_);
    RunCalibrationDialog(SLOT_DISPLAY_CALIBRATION, dlg);
}

CHelpWindow* CMainFrame::HelpWindow() const {
    return help_;
}

// Shown in the program's own window: the desktop takes *.hlp for a format of its own.
void CMainFrame::OnHelp() {
    const std::vector<std::string> places =
        HelpFileCandidates(folder_, QCoreApplication::applicationDirPath().toStdString(),
                           Texts().GetSilently(IDS_HELP_LANGUAGE));
    const std::string path = FirstRegularFile(places);
    if (path.empty()) {
        std::string list;
        for (const std::string& place : places)
            list += "\n" + place;
        messages_.Show(FillPlaceholders(Texts().GetSilently(IDS_HELP_NOT_FOUND), {list}),
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    if (!help_) help_ = new CHelpWindow(this, Texts());
    std::string error;
    if (!help_->Load(path, &error)) {
        messages_.Show(FillPlaceholders(Texts().GetSilently(IDS_HELP_UNREADABLE), {error}),
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    help_->show();
    help_->raise();
    help_->activateWindow();
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
    case NotificationRoute::Box::CommunicationError: {
        // Say what happened on the line and, after a write that did not complete, that the valve
        // now holds a mix of old and new values.
        const std::string report = FailureReport(s_, Texts());
        messages_.Show(Texts().Get(IDS_COMMUNICATION_ERROR) + (report.empty() ? "" : "\n\n" + report),
                       Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        break;
    }
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
    if (help_) help_->close();
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

void CMainFrame::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() != QEvent::WindowStateChange) return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(e);
    if (!(change->oldState() & Qt::WindowMaximized) ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)))
        return;
    // Restored from maximised: a normal size as large as the screen would put the title bar off it.
    // Queued, because the window system sets the restored geometry after this event.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const QScreen* screen = this->screen();
            if (!screen || (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))) return;
            const QRect a = screen->availableGeometry();
            const QRect w = frameGeometry();
            const ScreenRect now{w.x(), w.y(), w.width(), w.height()};
            const QSize least = minimumSizeHint().expandedTo(minimumSize());
            const ScreenRect fit =
                RestoredGeometry(now, {a.x(), a.y(), a.width(), a.height()}, least.width(), least.height());
            if (!(fit == now)) setGeometry(fit.x, fit.y, fit.width, fit.height);
        },
        Qt::QueuedConnection);
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

void CMainFrame::focusInEvent(QFocusEvent* e) {
    if (!closing_) view_->setFocus();
    QMainWindow::focusInEvent(e);
}
