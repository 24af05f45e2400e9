// The main window's menus and keys, made from the command table, each command bound to its handler,
// their enabling and the dispatch of a command.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/MainFrm.h"
#include "engine/QlnState.h"

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

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
        {ID_VALVE_HISTORY, &CMainFrame::OnValveHistory, nullptr},
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
        {ID_STEP_FIGURES, &CMainFrame::OnStepFigures, &CMainFrame::StepFiguresShown},
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

    // Every command has exactly one handler, and every handler belongs to a command.
    static constexpr bool Complete() {
        for (const CommandRow& row : COMMANDS) {
            int handlers = 0;
            for (const CommandBinding& b : ROWS)
                handlers += b.id == row.id;
            if (handlers != 1) return false;
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
static_assert(CommandBindings::Complete(), "each command needs one handler, each handler a command");

bool CMainFrame::HasHandler(unsigned command) {
    return CommandBindings::Find(command) != nullptr;
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

void CMainFrame::OnCommand(unsigned command) {
    // The rule is checked again here: the enabling is only brought up to date once a second and
    // when a menu opens, and a key can come in between.
    if (closing_ || !CommandEnabled(command, s_.THREAD_CMD.load(), switches_.cal)) return;
    if (const CommandBinding* b = CommandBindings::Find(command)) (this->*b->run)();
}
