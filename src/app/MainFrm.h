#pragma once
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/MainFrameRules.h"
#include "app/StartUp.h"
#include "engine/EngineThreads.h"
#include "link/PortList.h"
#include "project/ProjectFile.h"
#include "settings/ComSettings.h"

class CChildView;
class JobRecording;
class CHelpWindow;
class CNotifiedDialog;
class IMessageBox;
class LanguageLibrary;
class QLabel;
class QPrinter;
class QStatusBar;
class QTimer;
class QtNotifier;
struct QlnState;

// Everything the window needs from start-up.
struct FrameSetup {
    QlnState* state = nullptr;
    Switches switches{};
    std::string programFolder; // where the settings files, the help file and the trace log lie
    std::string buildStamp;
    const LanguageLibrary* library = nullptr;
    IMessageBox* messages = nullptr;
    int screenWidth = 0; // 0: the primary screen's
    // Called when the window starts to close, before the threads are stopped.
    std::function<void()> onClosing;
    // The serial devices present (ListPorts when empty), given the paths [DEVICES] names.
    std::function<std::vector<PortEntry>(const std::vector<std::string>& named)> listPorts;
};

// The one top-level window: menu, two status bars, the scope view, the four engine threads and
// the routing of the engine's notifications.
class CMainFrame : public QMainWindow {
    Q_OBJECT
    friend struct CommandBindings;

public:
    // Shows the safety caution, then builds the window (not yet shown), reads and rewrites both
    // settings files, opens the trace log when asked to and starts the engine threads.
    explicit CMainFrame(const FrameSetup& setup);
    ~CMainFrame() override;

    // Runs the command's handler when its rule allows it now; anything else does nothing.
    void OnCommand(unsigned command);
    // Whether the window has a handler for the command.
    static bool HasHandler(unsigned command);
    void OnMsgReceive(uint32_t code, intptr_t value);

    // The action of a command in the menu or key table, or nullptr when the command is not there.
    QAction* CommandAction(unsigned command) const;
    CChildView* View() const { return view_; }
    QString StatusText(int bar, int pane) const;
    // The connection field after the file bar's panes: port, device and line state.
    QString ConnectionStatus() const;
    // The help window, once F1 has opened it.
    CHelpWindow* HelpWindow() const;
    QtNotifier& Notifier() { return *notifier_; }
    EngineThreads& Threads() { return *threads_; }
    const std::string& BuildStamp() const { return buildStamp_; }
    const std::string& ProgramFolder() const { return folder_; }
    const ComSettings& PortSettings() const { return com_; }
    bool Closing() const { return closing_; }
    bool ProjectModified() const { return modified_; }
    void SetProjectModified(bool modified);

    // A dialog open in a slot receives the engine's notifications for it; nullptr closes the slot.
    void SetSlot(DialogSlot slot, CNotifiedDialog* dialog);
    // The valve history's recording of this window's jobs (Enabled() false when it is off).
    JobRecording& Recording() { return *recording_; }

    // The once-a-second tick: status bars and the commands that wait for an idle engine.
    void UpdateStatusBars();
    void UpdateCommandEnabling();
    void RebuildTitle();

protected:
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool event(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    // Saves the project under its path. False when it could not be saved (the user has been told
    // why) or when no project is open: then Exit, New and Open must not go on.
    virtual bool SaveProject();
    // The file dialogs; tests answer them instead of a user. An empty path is Cancel.
    virtual QString AskOpenPath();
    virtual QString AskSavePath(const QString& proposed);
    // The export's file dialog (an empty path is Cancel) and the picture's size (empty: Cancel).
    virtual QString AskExportPath(const QString& caption, const QString& proposed, const QString& filter);
    virtual QSize AskPictureSize();
    // The print dialogs; tests answer them instead of a user. The selection (1 all, 2 parameters,
    // 3 scope view, 0 none) or nothing for Cancel; Qt's print dialog on `printer`, false for Cancel.
    virtual std::optional<int> AskPrintSelection();
    virtual bool AskPrinter(QPrinter& printer);

private:
    void BuildMenu(std::vector<LangMenuItem> menu);
    void AddItems(QMenu* menu, const std::vector<LangMenuItem>& items);
    QAction* MakeAction(unsigned command, const QString& text);
    void BuildStatusBars(int screenClass);
    void ReadSettingsFiles();
    // The first start's mapping of the port to the one USB serial adapter present; its message.
    std::string MapSoleAdapter();
    // Speed memory: the engine tries the port's device's remembered speed first (set wherever the
    // port or device changes); a speed found that differs is stored once the window hears of it.
    void PreferRememberedSpeed();
    void RememberFoundSpeed();
    // The valve history: the jobs recorded from start-up on (not with the simulated valve), and
    // what its writer reports, said on the window's thread.
    void StartJobRecording();
    void OnHistoryReport(int kind, const std::string& text);
    void RecordJob(uint32_t code, const NotificationRoute& r, const std::string& report);
    // The command handlers (bound to their ids in MainFrmMenus.cpp).
    void OnExit();
    void OnNewProject();
    void OnOpenProject();
    void OnSaveProject();
    void OnSaveProjectAs();
    void OnProjectInfo();
    void OnPrintProject();
    bool AskSaveModified();
    bool RefuseWhileEngineBusy();
    void ResetProjectState();
    bool SaveProjectTo(const std::string& path);
    void TakeProjectNames();
    void OnSerialPort();
    void OnAutoTune();
    void OnScopeSetup();
    void OnStartAcquisition();
    void OnStopAcquisition();
    void OnShowGrid();
    void OnStepFigures();
    void OnResetZoom();
    void OnNextReadout();
    void OnPreviousReadout();
    void OnTakeReadout();
    void OnExportRecording();
    void OnExportPicture();
    bool WriteExport(const std::string& path, const std::string& bytes);
    bool GridShown() const;
    bool StepFiguresShown() const;
    void OnHelp();
    void OnAbout();
    void OnDebugDialog();
    void OnValveInfo();
    void OnValveHistory();
    void OnStatus();
    void OnParameters();
    void OnSerialSetpoint();
    void OnTestFunction();
    void OnCalibration();
    void OnCalibrationMatrix();
    void OnDisplayCalibration();
    void RunCalibrationDialog(DialogSlot slot, CNotifiedDialog& dlg);
    void RunInSlot(DialogSlot slot, CNotifiedDialog& dlg);
    void Shutdown();
    const TextSource& Texts() const;

    QlnState& s_;
    const Switches switches_;
    const std::string folder_;
    const std::string buildStamp_;
    const LanguageLibrary* library_;
    std::function<void()> onClosing_;
    std::function<std::vector<PortEntry>(const std::vector<std::string>&)> listPorts_;
    IMessageBox& messages_;

    bool closing_ = false;
    bool exitApproved_ = false;
    bool shutDown_ = false;
    bool modified_ = false;
    bool matrixCopied_ = false;         // Copy was used in the calibration dialog; cleared by New Project
    ProjectNames project_;              // as the title and the status bars show them (UTF-8)
    std::unique_ptr<ProjectFile> file_; // the project's records; the full path is in project_.path
    ComSettings com_;

    CChildView* view_ = nullptr;
    std::array<QStatusBar*, 2> bars_{};
    std::array<std::array<QLabel*, 2>, 2> panes_{};
    QLabel* connection_ = nullptr;
    QString lastTip_;
    QPointer<CHelpWindow> help_;
    QTimer* statusTimer_ = nullptr;
    std::map<unsigned, QAction*> actions_;
    std::array<QPointer<CNotifiedDialog>, SLOT_COUNT> slots_{};

    std::unique_ptr<QtNotifier> notifier_;
    std::unique_ptr<EngineThreads> threads_;
    std::unique_ptr<JobRecording> recording_;
    std::string historyRefusal_; // why the history cannot be used, or ""
};
