// The Project menu of the main window: New, Open, Save, Save as, Project Info. A project is never
// lost: a save that fails is said with its reason, the project stays modified, and whatever
// waited for the save (Exit, New, Open) does not go on.
#include <QFileDialog>
#include <QFileInfo>
#include <iostream>

#include "app/MainFrm.h"

#include "app/JobRecording.h"
#include "dialogs/MessageBox.h"
#include "dialogs/ProjectInfoDialog.h"
#include "engine/DriveCommands.h"
#include "engine/QlnState.h"
#include "scope/Acquisition.h"
#include "settings/ComSettings.h"
#include "text/Encoding.h"
#include "text/Texts.h"
#include "view/ChildView.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// "Project Files (*.QPJ)" and "All Files (*.*)".
QString Filters(const TextSource& texts) {
    return Q(texts.Get(50) + " (*." + PROJECT_EXTENSION + ");;" + texts.Get(51) + " (*.*)");
}

bool Exists(const std::string& path) {
    return QFileInfo::exists(Q(path));
}
} // namespace

QString CMainFrame::AskOpenPath() {
    return QFileDialog::getOpenFileName(this, Q(Texts().Get(26)), QString(), Filters(Texts()), nullptr,
                                        QFileDialog::ReadOnly);
}

QString CMainFrame::AskSavePath(const QString& proposed) {
    // The overwrite question is asked by the caller, about the name the file really gets.
    return QFileDialog::getSaveFileName(this, Q(Texts().Get(28)), proposed, Filters(Texts()), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

// The names the title and the status bars show, from the project's record and its full path.
void CMainFrame::TakeProjectNames() {
    project_.name = Cp1252ToUtf8(FieldText(file_->info.ProjectName));
    project_.fileName = ShownFileName(file_->info, project_.path);
}

bool CMainFrame::AskSaveModified() {
    if (!modified_) return true;
    if (messages_.Show(Texts().Get(32), Texts().Get(26), MbIcon::Exclamation, MbButtons::YesNo,
                       MbResult::Yes) != MbResult::Yes)
        return true;
    return SaveProject();
}

// New and Open replace the records the engine works on: never while it is busy with them. Said
// before the save question, which would be in vain.
bool CMainFrame::RefuseWhileEngineBusy() {
    if (s_.THREAD_CMD.load() == 0 && s_.AcquisitionRunning.load() == 0) return false;
    messages_.Show(Texts().GetSilently(IDS_PROJECT_WHILE_BUSY), Texts().Get(IDS_APP_TITLE),
                   MbIcon::Exclamation);
    return true;
}

// Everything the project holds goes back to a fresh start; the line speed is found again. The
// user's port choice is read back from QLN_com.ini, so a new or opened project never moves the
// program to another port.
void CMainFrame::ResetProjectState() {
    ResetProject(*file_);
    recording_->ForgetReadPurpose();
    s_.params.ValveBlock = ParameterBlock{};
    s_.params.EditBlock = ParameterBlock{};
    s_.deviceInfo = DeviceInfo{};
    StoreShared(s_.testFunction.SerialSetpoint, 0.0f);
    StoreScopeSetup(s_, file_->scopeSetup);
    StoreCalibration(s_, file_->calibration);
    s_.samples.Clear();
    s_.FillIndex.store(0);
    s_.SamplesReceived.store(0);
    PublishValid(s_.statusInfo.Valid, 0);
    com_ = ReadComSettings(folder_);
    s_.link.PortIndex.store(com_.PortIndex);
    s_.link.BaudIndex.store(0);
    PreferRememberedSpeed();
    project_ = ResetProjectNames(Texts());
}

bool CMainFrame::SaveProjectTo(const std::string& path) {
    file_->editBlock = s_.params.EditBlock;
    file_->deviceInfo = s_.deviceInfo;
    file_->scopeSetup = CopyScopeSetup(s_);
    file_->calibration = CopyCalibration(s_);
    s_.samples.SaveTo(file_->samples);
    file_->serialSetpoint.Setpoint = LoadShared(s_.testFunction.SerialSetpoint);
    file_->serialSetpoint.Active = LoadShared(s_.testFunction.SerialSetpointActive);
    std::string error;
    if (!WriteProjectFile(ProjectPathIn(folder_, path), *file_, &error)) {
        messages_.Show(error + "\nThe project is still open and unsaved; save it somewhere else.",
                       Texts().Get(28), MbIcon::Exclamation);
        RebuildTitle();
        return false;
    }
    project_.path = path;
    TakeProjectNames();
    std::string comError;
    if (!WriteComSettings(folder_, s_.link.PortIndex.load(), &comError))
        std::cerr << "qln: " << comError << "\n";
    SetProjectModified(false);
    return true;
}

bool CMainFrame::SaveProject() {
    if (project_.path.empty()) {
        messages_.Show(Texts().Get(27), Texts().Get(28), MbIcon::Exclamation);
        return false;
    }
    return SaveProjectTo(project_.path);
}

void CMainFrame::OnSaveProject() {
    SaveProject();
}

void CMainFrame::OnSaveProjectAs() {
    if (project_.path.empty()) {
        messages_.Show(Texts().Get(27), Texts().Get(28), MbIcon::Exclamation);
        return;
    }
    const QString chosen = AskSavePath(Q(project_.path));
    if (chosen.isEmpty()) return;
    // The name gets the project extension first; the question is about the file really written.
    const QFileInfo info(chosen);
    const std::string adjusted = AdjustExtension(info.fileName().toStdString());
    const std::string folder = info.path().toStdString();
    const std::string path =
        (folder == "." && !chosen.startsWith(QStringLiteral("./"))) ? adjusted : folder + "/" + adjusted;
    if (path != project_.path && Exists(ProjectPathIn(folder_, path)) &&
        messages_.Show(path + " already exists.\nDo you want to replace it?", Texts().Get(28),
                       MbIcon::Exclamation, MbButtons::YesNo, MbResult::No) != MbResult::Yes)
        return;
    SaveProjectTo(path);
}

void CMainFrame::OnNewProject() {
    if (RefuseWhileEngineBusy() || !AskSaveModified()) return;
    ResetProjectState();
    s_.params.WriteEnabled = 0;
    matrixCopied_ = false;
    s_.params.EditBlock = s_.params.IniBlock;
    SetProjectModified(false);
    ProjectInfo entered = file_->info;
    for (;;) {
        CProjectInfoDialog dlg(this, CProjectInfoDialog::Mode::New, entered, Texts(), messages_);
        if (dlg.exec() != QDialog::Accepted) break;
        entered = dlg.Info();
        const std::string path = dlg.FileName();
        // Not to be replaced: back to the dialog, and the project stays as it was (nothing of it
        // points at the file the user kept).
        if (Exists(ProjectPathIn(folder_, path)) &&
            messages_.Show(path + " already exists.\nDo you want to replace it?", Texts().Get(29),
                           MbIcon::Exclamation, MbButtons::YesNo, MbResult::No) != MbResult::Yes)
            continue;
        file_->info = entered;
        if (!SaveProjectTo(path)) SetProjectModified(true);
        break;
    }
    view_->ResetTimeAxis();
    RebuildTitle();
}

void CMainFrame::OnOpenProject() {
    if (RefuseWhileEngineBusy() || !AskSaveModified()) return;
    const QString chosen = AskOpenPath();
    if (chosen.isEmpty()) return;
    const std::string path = chosen.toStdString();
    // Read into a fresh project first: a file that cannot be read changes nothing.
    auto opened = std::make_unique<ProjectFile>();
    ResetProject(*opened);
    std::string error;
    QLN_TRACE_INFO(s_.link.trace, " ReadProjectFile:%s", path.c_str());
    if (!ReadProjectFile(path, *opened, &error)) {
        messages_.Show(Texts().Get(25) + path, Texts().Get(26), MbIcon::Exclamation);
        return;
    }
    ResetProjectState();
    file_ = std::move(opened);
    s_.params.EditBlock = file_->editBlock;
    s_.deviceInfo = file_->deviceInfo;
    StoreScopeSetup(s_, file_->scopeSetup);
    StoreCalibration(s_, file_->calibration);
    s_.samples.LoadFrom(file_->samples);
    s_.FillIndex.store(StoredSampleCount(file_->scopeSetup, s_.samples.Empty()));
    // A stored recording counts as received in full, so its export holds every sample.
    s_.SamplesReceived.store(s_.FillIndex.load());
    // Only the value: a stored active flag says nothing about the valve on the line now.
    StoreShared(s_.testFunction.SerialSetpoint,
                static_cast<float>(TruncateToHalfPercent(file_->serialSetpoint.Setpoint)));
    s_.params.WriteEnabled = 1;
    project_.path = path;
    TakeProjectNames();
    SetProjectModified(false);
    view_->ResetTimeAxis();
}

void CMainFrame::OnProjectInfo() {
    CProjectInfoDialog dlg(this, CProjectInfoDialog::Mode::Info, file_->info, Texts(), messages_);
    if (dlg.exec() == QDialog::Accepted && dlg.Changed()) {
        file_->info = dlg.Info();
        TakeProjectNames();
        SetProjectModified(true);
    }
    RebuildTitle();
}
