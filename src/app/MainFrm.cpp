// The main window's life: built from start-up, the settings files read and rewritten, the engine
// threads started; closed through the same guard as Exit and stopped without blocking the events.
// Menus and keys are in MainFrmMenus.cpp, the command handlers in MainFrmCommands.cpp (and the
// *Commands.cpp files), the status bars in MainFrmStatusBars.cpp, the engine's notifications in
// MainFrmNotifications.cpp.
#include "app/MainFrm.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cstring>
#include <functional>
#include <iostream>
#include <thread>

#include "app/HelpWindow.h"
#include "app/JobRecording.h"
#include "app/QtNotifier.h"
#include "app/SerialPortRules.h"
#include "dialogs/Artwork.h"
#include "dialogs/MessageBox.h"
#include "engine/QlnState.h"
#include "link/SerialPort.h"
#include "settings/ParameterIni.h"
#include "text/LanguageLibrary.h"
#include "view/ChildView.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string InFolder(const std::string& folder, const char* name) {
    return folder.empty() ? std::string(name) : folder + "/" + name;
}

// How long Exit lets a requested stop run, on the link's clock. A valve that answers takes a
// fraction of it, a hard stop (PAS at both line speeds, half a second each) about a second.
constexpr uint32_t EXIT_STOP_LIMIT_MS = 3000;

// Runs `work` on a thread of its own while this thread keeps handling events, and returns when it
// has ended: nothing the engine might wait for meanwhile is stuck behind it.
void WhileHandlingEvents(const std::function<void()>& work) {
    QEventLoop loop;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}
} // namespace

CMainFrame::CMainFrame(const FrameSetup& setup)
    : s_(*setup.state), switches_(setup.switches), folder_(setup.programFolder),
      buildStamp_(setup.buildStamp), library_(setup.library), onClosing_(setup.onClosing),
      listPorts_(setup.listPorts
                     ? setup.listPorts
                     : [](const std::vector<std::string>& named) { return ListPorts(named, nullptr); }),
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
    recording_ = std::make_unique<JobRecording>(s_);

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
    // Hot-plug events keep the Serial Port dialog's list current; the link works without them.
    std::string monitorError;
    if (!switches_.testMode && !StartPortMonitor(s_.link, &monitorError))
        QLN_TRACE_INFO(s_.link.trace, " No hot-plug monitor: %s", monitorError.c_str());
    StartJobRecording();
    RebuildTitle();
    UpdateStatusBars();
    UpdateCommandEnabling();
    s_.ACTION_STEP.store(0);
    threads_->Start();
}

void CMainFrame::StartJobRecording() {
    // The simulated valve never fills a real history.
    if (switches_.testMode) return;
    std::string error;
    // A setting that names no database is said with each job; its entries wait in the outbox.
    const HistoryTarget target =
        JobHistoryTarget(ConfiguredHistoryTarget(com_.HistoryDatabase, folder_, &error), error);
    // The writer's thread reports; the window hears of it on its own thread, and not at all once
    // it has gone (a queued call to a deleted object is dropped).
    recording_->Start(
        target, OutboxPath(folder_), com_.HistoryRequired, [this](const HistoryWriter::Report& r) {
            QMetaObject::invokeMethod(
                this, [this, kind = static_cast<int>(r.kind), text = r.text] { OnHistoryReport(kind, text); },
                Qt::QueuedConnection);
        });
}

void CMainFrame::OnHistoryReport(int kind, const std::string& text) {
    using Kind = HistoryWriter::Report::Kind;
    switch (static_cast<Kind>(kind)) {
    case Kind::Refused:
        historyRefusal_ = text;
        recording_->Refuse();
        bars_[0]->showMessage(Q(FillPlaceholders(Texts().GetSilently(IDS_HISTORY_REFUSED), {text})), 30000);
        break;
    case Kind::Usable:
        recording_->Accept();
        break;
    case Kind::Notice:
        bars_[0]->showMessage(
            Q(FillPlaceholders(Texts().GetSilently(IDS_HISTORY_IN_OUTBOX), {text, OutboxPath(folder_)})),
            30000);
        break;
    case Kind::Lost: {
        const std::string said = FillPlaceholders(Texts().GetSilently(IDS_HISTORY_ENTRY_LOST), {text});
        // The job ran; only a station that requires recording stops the user for it.
        if (recording_->Required())
            messages_.Show(said, Texts().Get(IDS_APP_TITLE), MbIcon::None, MbButtons::Ok);
        else
            bars_[0]->showMessage(Q(said), 30000);
        break;
    }
    }
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

void CMainFrame::ReadSettingsFiles() {
    std::string error;
    com_ = ReadComSettings(folder_, &error);
    if (!error.empty())
        messages_.Show(std::string(kComSettingsFile) + ": " + error +
                           "\nThe program uses COM1 until the file can be read.",
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    // Shown once, where the user looks for the port; the fallback to COM1 and the rewrite stay.
    const std::string mapped = MapSoleAdapter();
    const std::string once = com_.warning + (com_.warning.empty() || mapped.empty() ? "" : "  ") + mapped;
    if (!once.empty()) bars_[0]->showMessage(Q(once), 30000);
    s_.link.PortIndex.store(com_.PortIndex);
    for (size_t i = 0; i < com_.DevicePath.size(); ++i)
        s_.link.DevicePath[i] = com_.DevicePath[i];
    error.clear();
    // Written back at once, so the file always exists with a valid entry. A read-only folder is
    // no reason to stop: the program runs on with what it read.
    if (!WriteComSettings(folder_, com_.PortIndex, &error)) std::cerr << "qln: " << error << "\n";
    PreferRememberedSpeed();
    view_->ShowStepFigures(com_.StepFigures);

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

// Read afresh: qln-cli may have stored a speed meanwhile. Nothing found before applies to the new
// device.
void CMainFrame::PreferRememberedSpeed() {
    const int baud = RememberedSpeed(ReadComSettings(folder_), PortDevicePath(s_.link));
    s_.link.PreferredBaudIndex.store(BaudIndexOfRate(baud));
    s_.link.FoundBaudIndex.store(0);
}

// A new user with one USB serial adapter needs to edit no file: the selected port (COM1 at a first
// start) stands for it by its stable name. Not in test mode, which opens no device.
std::string CMainFrame::MapSoleAdapter() {
    if (switches_.testMode) return "";
    const std::optional<std::string> device = FirstStartDevice(com_, listPorts_({}));
    if (!device) return "";
    const auto port = static_cast<size_t>(com_.PortIndex);
    com_.DevicePath[port] = *device;
    com_.Named[port] = true;
    std::string error;
    if (!WriteComDevice(folder_, com_.PortIndex, *device, &error)) std::cerr << "qln: " << error << "\n";
    return FillPlaceholders(Texts().GetSilently(IDS_PORT_MAPPED_TO_ADAPTER),
                            {ComName(com_.PortIndex), *device});
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
    // A stop the user asked for goes out before the threads end: a valve left streaming answers
    // nothing else. The window stays up with the wait cursor meanwhile.
    if (StopRequested(s_.THREAD_CMD.load())) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        WhileHandlingEvents([this] {
            if (!threads_->FinishStop(EXIT_STOP_LIMIT_MS))
                QLN_TRACE_INFO(s_.link.trace, " Exit: the stop did not end within %u ms", EXIT_STOP_LIMIT_MS);
        });
        QGuiApplication::restoreOverrideCursor();
    }
    hide();
    WhileHandlingEvents([this] { threads_->Stop(); });
    // Every entry handed over is stored (or in the outbox) before the window goes.
    WhileHandlingEvents([this] { recording_->Stop(); });
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

void CMainFrame::focusInEvent(QFocusEvent* e) {
    if (!closing_) view_->setFocus();
    QMainWindow::focusInEvent(e);
}
