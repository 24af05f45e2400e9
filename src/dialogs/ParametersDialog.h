#pragma once
#include <QTabWidget>
#include <array>
#include <functional>
#include <string>

#include "dialogs/NotifiedDialog.h"
#include "dialogs/ParameterPages.h"

class CColorButton;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
struct QlnState;

// The eight parameter pages as tabs, in tab order; what the dialog does to all pages at once.
class CParameterPropertySheets : public QTabWidget {
    Q_OBJECT
public:
    CParameterPropertySheets(PageContext& context, QWidget* parent);

    CParameterPage* PageOf(Page page) const;
    void RefreshAll();
    void StoreAll();
    void EnableAll();
    // Marks the fields a write would refuse, on their pages and on the pages' tabs; returns the
    // first tab that has one, or -1.
    int MarkAll(const std::vector<RangeProblem>& problems);

private:
    std::array<CParameterPage*, PAGE_COUNT> pages_{};
};

// Valve > Parameters: every parameter of the valve in eight pages, each edited value beside the
// value the valve last reported. Read, Write, Copy and the Factory/Custom choice move parameters
// between the pages, the project's set and the valve; the engine's notifications come in through the
// main window's parameters slot.
class CParametersDialog : public CNotifiedDialog {
    Q_OBJECT
public:
    // Shows a message to the user (a refused write); the window's message boxes.
    using Messages = std::function<void(const std::string& text, const std::string& caption)>;
    CParametersDialog(QWidget* parent, QlnState& state, const TextSource& texts, Messages messages);
    ~CParametersDialog() override;

    // 64 parameters read, 65 written (read back at once), anything else (66 set switched, the
    // communication errors) brings the buttons up to date.
    void OnMsgReceive(uint32_t code, intptr_t value) override;

    CParameterPropertySheets* Sheet() const { return sheet_; }
    QPushButton* ReadButton() const { return read_; }
    QPushButton* WriteButton() const { return write_; }
    QPushButton* CopyButton() const { return copy_; }
    QPushButton* CloseButton() const { return close_; }
    CColorButton* FactoryButton() const { return factory_; }
    CColorButton* CustomButton() const { return custom_; }
    QTimer* ButtonTimer() const { return buttonTimer_; }
    QTimer* CursorTimer() const { return cursorTimer_; }
    bool WaitCursorShown() const { return waitCursor_; }
    const ParameterEditor& Editor() const { return editor_; }

public slots:
    void OnRead();
    void OnWrite();
    void OnCopy();
    // Factory or Custom checked by the user (click, key or an assistive tool).
    void OnFactory();
    void OnCustom();
    // Close, Escape and the window's close box.
    void reject() override;
    // Every 5 s: the buttons, also when the engine went idle without a word for this dialog.
    void OnButtonTimer();
    // Every 100 ms: the wait cursor while a read or a write runs.
    void OnCursorTimer();

private:
    void ChooseSet(int32_t set);
    void RefreshSetButtons();
    void UpdateButtons();
    void AfterEdit();
    void Refuse(const std::vector<RangeProblem>& problems);
    void EndWaitCursor();

    ParameterEditor editor_;
    const TextSource& texts_;
    Messages messages_;
    PageContext context_;
    bool closing_ = false;
    bool waitCursor_ = false;
    bool showingSet_ = false; // the dialog checks Factory or Custom itself

    CParameterPropertySheets* sheet_ = nullptr;
    QPushButton* read_ = nullptr;
    QPushButton* write_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* close_ = nullptr;
    QGroupBox* setGroup_ = nullptr;
    QButtonGroup* setButtons_ = nullptr;
    CColorButton* factory_ = nullptr;
    CColorButton* custom_ = nullptr;
    QLabel* setProblem_ = nullptr;
    QTimer* buttonTimer_ = nullptr;
    QTimer* cursorTimer_ = nullptr;
};
