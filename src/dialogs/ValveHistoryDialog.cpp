#include "dialogs/ValveHistoryDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/QlnState.h"

namespace {
constexpr unsigned TEXT_CLOSE = 334;
// The entry list's headers are the texts from Entry to Error, one per column in the cells' order.
static_assert(IDS_HISTORY_ERROR - IDS_HISTORY_ENTRY + 1 == ENTRY_COLUMN_COUNT);

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A read-only list of rows under its label: the label's mnemonic reaches it, its text names it.
QTableWidget* MakeList(QWidget* parent, QLabel* label, const QStringList& columns,
                       QAbstractItemView::SelectionMode mode) {
    auto* list = new QTableWidget(0, static_cast<int>(columns.size()), parent);
    list->setHorizontalHeaderLabels(columns);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(mode);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    list->setAccessibleName(label->text().remove(QLatin1Char('&')));
    label->setBuddy(list);
    return list;
}

QLabel* MakeLabel(QWidget* parent, const std::string& text) {
    return new QLabel(Q(text), parent);
}

// A line that may carry a database's or server's text (a path, an error, a name): shown as the
// plain text it is, never read as markup, whatever it holds.
QLabel* MakeMessageLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// Fills the list without telling its selection handler: the caller shows what follows itself.
void Fill(QTableWidget* list, const std::vector<std::vector<std::string>>& rows) {
    const QSignalBlocker quiet(list);
    list->clearContents();
    list->setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows[r].size(); ++c)
            list->setItem(static_cast<int>(r), static_cast<int>(c), new QTableWidgetItem(Q(rows[r][c])));
    list->resizeColumnsToContents();
}

std::vector<int> SelectedRows(const QTableWidget* list) {
    std::vector<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}
} // namespace

CValveHistoryDialog::CValveHistoryDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                         const std::string& databaseSetting, const std::string& programFolder,
                                         std::function<void()> taken)
    : QDialog(parent), s_(state), texts_(texts), taken_(std::move(taken)) {
    auto text = [&](unsigned id) { return texts_.GetSilently(id); };
    setWindowTitle(Q(text(IDS_HISTORY_TITLE)));

    problem_ = MakeMessageLabel(this, "problem");
    problem_->hide();
    outbox_ = MakeMessageLabel(this, "outbox");
    outbox_->hide();

    QLabel* valvesLabel = MakeLabel(this, text(IDS_HISTORY_VALVES));
    valves_ =
        MakeList(this, valvesLabel,
                 {Q(text(IDS_HISTORY_SERIAL)), Q(text(IDS_HISTORY_PART)), Q(text(IDS_HISTORY_LAST_SEEN))},
                 QAbstractItemView::SingleSelection);
    valves_->setObjectName(QStringLiteral("valves"));
    QStringList entryColumns;
    for (unsigned id = IDS_HISTORY_ENTRY; id <= IDS_HISTORY_ERROR; ++id)
        entryColumns << Q(text(id));
    QLabel* entriesLabel = MakeLabel(this, text(IDS_HISTORY_ENTRIES));
    // Two rows chosen (Ctrl with a click or Space) are compared with each other.
    entries_ = MakeList(this, entriesLabel, entryColumns, QAbstractItemView::ExtendedSelection);
    entries_->setObjectName(QStringLiteral("entries"));
    QLabel* differencesLabel = MakeLabel(this, text(IDS_HISTORY_DIFFERENCES));
    differences_ = MakeList(this, differencesLabel, {Q(text(IDS_HISTORY_PARAMETER)), QString(), QString()},
                            QAbstractItemView::SingleSelection);
    differences_->setObjectName(QStringLiteral("differences"));
    note_ = MakeMessageLabel(this, "note");

    take_ = new QPushButton(Q(text(IDS_HISTORY_TAKE)), this);
    take_->setObjectName(QStringLiteral("take"));
    auto* close = new QPushButton(Q(texts_.Get(TEXT_CLOSE)), this);
    // Enter in a list must never take an entry into the project: no button is the default.
    for (QPushButton* b : {take_, close})
        b->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(take_, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(take_, &QPushButton::clicked, this, &CValveHistoryDialog::OnTake);

    auto* valveColumn = new QVBoxLayout;
    valveColumn->addWidget(valvesLabel);
    valveColumn->addWidget(valves_);
    auto* entryColumn = new QVBoxLayout;
    entryColumn->addWidget(entriesLabel);
    entryColumn->addWidget(entries_);
    auto* lists = new QHBoxLayout;
    lists->addLayout(valveColumn, 2);
    lists->addLayout(entryColumn, 5);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(problem_);
    layout->addWidget(outbox_);
    layout->addLayout(lists, 3);
    layout->addWidget(differencesLabel);
    layout->addWidget(note_);
    layout->addWidget(differences_, 2);
    layout->addWidget(buttons);
    resize(1180, 680);

    // A click, a key and an assistive tool's selection alike.
    connect(valves_, &QTableWidget::itemSelectionChanged, this, &CValveHistoryDialog::ShowEntries);
    connect(entries_, &QTableWidget::itemSelectionChanged, this, &CValveHistoryDialog::ShowComparison);
    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &CValveHistoryDialog::UpdateTakeButton);
    timer_->start();

    history_ = OpenHistoryView(texts_, databaseSetting, programFolder);
    outbox_->setText(Q(history_.outboxLine));
    outbox_->setVisible(!history_.outboxLine.empty());
    ShowValves();
    ShowComparison();
}

CValveHistoryDialog::~CValveHistoryDialog() = default;

void CValveHistoryDialog::ShowProblem(const std::string& line) {
    problem_->setText(Q(line));
    problem_->show();
    note_->clear();
}

void CValveHistoryDialog::ShowValves() {
    if (!history_.store) {
        ShowProblem(history_.problem);
        return;
    }
    std::string error;
    valveRows_ = NewestFirst(history_.store->Valves(&error));
    if (!error.empty())
        return ShowProblem(FillPlaceholders(texts_.GetSilently(IDS_HISTORY_UNUSABLE), {error}));
    if (valveRows_.empty()) return ShowProblem(texts_.GetSilently(IDS_HISTORY_EMPTY));
    std::vector<std::vector<std::string>> rows;
    for (const HistoryValve& v : valveRows_)
        rows.push_back({v.serial, v.part, v.lastSeen});
    Fill(valves_, rows);
    // The valve seen last is the one asked about most often.
    valves_->selectRow(0);
}

void CValveHistoryDialog::ShowEntries() {
    const std::vector<int> selected = SelectedRows(valves_);
    entryRows_.clear();
    if (selected.size() == 1 && history_.store) {
        std::string error;
        entryRows_ = history_.store->List(valveRows_[static_cast<size_t>(selected[0])].serial, &error);
        if (!error.empty()) ShowProblem(FillPlaceholders(texts_.GetSilently(IDS_HISTORY_UNUSABLE), {error}));
    }
    std::vector<std::vector<std::string>> rows;
    for (const HistoryEntry& e : entryRows_)
        rows.push_back(EntryCells(texts_, e));
    Fill(entries_, rows);
    ShowComparison();
}

std::vector<HistoryEntry> CValveHistoryDialog::ReadChosen() {
    std::vector<HistoryEntry> chosen;
    for (int row : SelectedRows(entries_)) {
        const HistoryEntry& listed = entryRows_[static_cast<size_t>(row)];
        auto it = read_.find(listed.id);
        if (it == read_.end()) {
            std::string error;
            std::optional<HistoryEntry> full = history_.store->Get(listed.id, &error);
            if (!error.empty()) {
                ShowProblem(FillPlaceholders(texts_.GetSilently(IDS_HISTORY_UNUSABLE), {error}));
                return {};
            }
            // Entries are never removed; should one be gone, it is shown as holding no set.
            it = read_.emplace(listed.id, full ? *full : listed).first;
        }
        chosen.push_back(it->second);
    }
    return chosen;
}

void CValveHistoryDialog::ShowComparison() {
    chosen_ = history_.store ? ReadChosen() : std::vector<HistoryEntry>{};
    // The project's set as the parameter editor holds it; the engine only ever reads it.
    const HistoryComparison c = CompareChosen(texts_, chosen_, s_.params.EditBlock);
    std::vector<std::vector<std::string>> rows;
    for (const Difference& d : c.differences)
        rows.push_back({d.name, d.first, d.second});
    differences_->setHorizontalHeaderLabels(
        {Q(texts_.GetSilently(IDS_HISTORY_PARAMETER)), Q(c.firstName), Q(c.secondName)});
    Fill(differences_, rows);
    if (history_.store) note_->setText(Q(c.note));
    UpdateTakeButton();
}

void CValveHistoryDialog::UpdateTakeButton() {
    take_->setEnabled(CanTake(chosen_, s_.THREAD_CMD.load()));
}

// As qln-cli's history take: the entry's set becomes the project's edited set as it was kept.
void CValveHistoryDialog::OnTake() {
    if (!CanTake(chosen_, s_.THREAD_CMD.load())) return UpdateTakeButton();
    s_.params.EditBlock = *EntrySet(chosen_[0]);
    if (taken_) taken_();
    // The comparison now shows the project holding the entry's values.
    ShowComparison();
}
