#pragma once
#include <QDialog>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dialogs/ValveHistoryRules.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QTimer;
struct QlnState;

// Valve > Valve History: the valves the history knows (the one seen last first), the entries of the
// selected valve (newest first), the differences between two chosen entries or between one and the
// project's edited set, and Take into Project. The history is read on this thread when the dialog
// opens and when the selection changes.
class CValveHistoryDialog : public QDialog {
    Q_OBJECT
public:
    // `databaseSetting` is [HISTORY] DATABASE of QLN_com.ini; `taken` is called after an entry's
    // set became the project's edited set.
    CValveHistoryDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                        const std::string& databaseSetting, const std::string& programFolder,
                        std::function<void()> taken);
    ~CValveHistoryDialog() override;

    // The one line that says why there is nothing to show; hidden while the history is shown.
    QLabel* ProblemLine() const { return problem_; }
    QLabel* OutboxLine() const { return outbox_; }
    QTableWidget* ValveList() const { return valves_; }
    QTableWidget* EntryList() const { return entries_; }
    QTableWidget* DifferenceList() const { return differences_; }
    // Why the comparison lists nothing, or that nothing differs.
    QLabel* ComparisonNote() const { return note_; }
    QPushButton* TakeButton() const { return take_; }

public slots:
    void OnTake();
    // Every second: the button follows the engine (a write that runs reads the project's set).
    void UpdateTakeButton();

private:
    void ShowValves();
    void ShowEntries();
    void ShowComparison();
    // The chosen entries with their data, read once each.
    std::vector<HistoryEntry> ReadChosen();
    void ShowProblem(const std::string& line);

    QlnState& s_;
    const TextSource& texts_;
    std::function<void()> taken_;
    HistoryView history_;
    std::vector<HistoryValve> valveRows_;
    std::vector<HistoryEntry> entryRows_;  // without data, in the list's order
    std::map<int64_t, HistoryEntry> read_; // entries read with their data
    std::vector<HistoryEntry> chosen_;

    QLabel* problem_ = nullptr;
    QLabel* outbox_ = nullptr;
    QTableWidget* valves_ = nullptr;
    QTableWidget* entries_ = nullptr;
    QTableWidget* differences_ = nullptr;
    QLabel* note_ = nullptr;
    QPushButton* take_ = nullptr;
    QTimer* timer_ = nullptr;
};
