// The main window's command handlers that open the dialogs, drive the scope view and show the help;
// the project's are in ProjectCommands.cpp, PrintCommand.cpp and ExportCommands.cpp, Exit is with
// the window's life in MainFrm.cpp.
#include <QCoreApplication>
#include <QStatusBar>

#include "app/HelpWindow.h"
#include "app/MainFrm.h"
#include "app/SerialPortDialog.h"
#include "app/SerialPortRules.h"
#include "dialogs/AboutDialog.h"
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
#include "dialogs/ValveHistoryDialog.h"
#include "dialogs/ValveInfoDialog.h"
#include "engine/QlnState.h"
#include "view/ChildView.h"

void CMainFrame::OnSerialPort() {
    CSerialPortDialog dlg(this, s_, com_.DevicePath, Texts(), messages_,
                          [this] { return listPorts_(NamedDevices(com_)); });
    if (dlg.exec() == QDialog::Accepted && dlg.Changed()) {
        for (size_t i = 0; i < com_.DevicePath.size(); ++i) {
            const std::string& device = s_.link.DevicePath[i];
            if (device == com_.DevicePath[i]) continue;
            com_.DevicePath[i] = device;
            com_.Named[i] = true;
            std::string error;
            if (!WriteComDevice(folder_, static_cast<int>(i), device, &error))
                messages_.Show(std::string(kComSettingsFile) + ": " + error +
                                   "\nThe new device is used until the program ends, but it is not saved.",
                               Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        }
        s_.link.BaudIndex.store(0);
        // What the old port's line did says nothing about the new one.
        s_.LastFailure.store(LineFailure::None);
        PreferRememberedSpeed();
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
// the set-up's mode; another mode (from a damaged file) is refused before anything is cleared, so
// the recording shown stays.
void CMainFrame::OnStartAcquisition() {
    if (s_.THREAD_CMD.load() != 0) return;
    const int32_t mode = CopyScopeSetup(s_).Mode;
    const AcquisitionStart start = AcquisitionStartFor(mode);
    if (start.bit == 0) {
        messages_.Show(
            FillPlaceholders(Texts().GetSilently(IDS_UNKNOWN_ACQUISITION_MODE), {std::to_string(mode)}),
            Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    s_.samples.Clear();
    s_.FillIndex.store(0);
    view_->ResetForAcquisition(start.bit == CMD_ROLL_TRIGGER);
    setCursor(Qt::ArrowCursor);
    QLN_TRACE_INFO(s_.link.trace, "%s", start.traceText);
    RequestAction(s_, start.bit);
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

// The choice is kept for the next start; a settings file that cannot be written is said in the
// status bar, and the choice holds until the program ends.
void CMainFrame::OnStepFigures() {
    view_->ShowStepFigures(!view_->StepFiguresShown());
    std::string error;
    if (!WriteStepFigures(folder_, view_->StepFiguresShown(), &error))
        bars_[1]->showMessage(QString::fromStdString(std::string(kComSettingsFile) + ": " + error), 30000);
    UpdateCommandEnabling();
}

bool CMainFrame::StepFiguresShown() const {
    return view_->StepFiguresShown();
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

// Take into Project changes the project's edited set: the project is modified at once.
void CMainFrame::OnValveHistory() {
    CValveHistoryDialog dlg(this, s_, Texts(), com_.HistoryDatabase, folder_,
                            [this] { SetProjectModified(true); });
    dlg.exec();
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
    CSerialSetpointDialog dlg(this, s_, Texts(), messages_);
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
