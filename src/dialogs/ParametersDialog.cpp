#include "dialogs/ParametersDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include "dialogs/ColorButton.h"
#include "dialogs/UserInput.h"
#include "engine/QlnState.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_TITLE = 191;
constexpr unsigned TEXT_PARAMETER_SETTING = 192;
constexpr unsigned TEXT_FACTORY = 132;
constexpr unsigned TEXT_CUSTOM = 130;
constexpr unsigned TEXT_READ = 144;
constexpr unsigned TEXT_WRITE = 143;
constexpr unsigned TEXT_COPY = 193;
constexpr unsigned TEXT_CLOSE = 334;
constexpr int BUTTON_TIMER_MS = 5000;
constexpr int CURSOR_TIMER_MS = 100;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QPushButton* Button(QWidget* parent, const char* id, const std::string& caption) {
    auto* b = new QPushButton(Q(caption), parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setAutoDefault(false);
    return b;
}
} // namespace

// ---- the sheet
// ---------------------------------------------------------------------------------------------

CParameterPropertySheets::CParameterPropertySheets(PageContext& context, QWidget* parent)
    : QTabWidget(parent) {
    setObjectName(QStringLiteral("1259"));
    pages_ = {new CControlParameterPage(context, this), new CSetpointPage(context, this),
              new CAnalogInOutPage(context, this),      new CAutosafePage(context, this),
              new CDigitalInputPage(context, this),     new CDisplayKeysPage(context, this),
              new CPressureSwitchPage(context, this),   new CErrorPage(context, this)};
    for (CParameterPage* page : pages_)
        addTab(page, page->Title());
}

CParameterPage* CParameterPropertySheets::PageOf(Page page) const {
    for (CParameterPage* p : pages_)
        if (p->Layout().page == page) return p;
    return nullptr;
}

void CParameterPropertySheets::RefreshAll() {
    for (CParameterPage* page : pages_)
        page->RefreshPage();
    if (currentIndex() == 0) {
        QLineEdit* first = pages_[0]->Edit("FORWARD_OFFSET");
        if (first->isEnabled()) first->setFocus();
    }
}

void CParameterPropertySheets::StoreAll() {
    for (CParameterPage* page : pages_)
        page->StorePage();
}

void CParameterPropertySheets::EnableAll() {
    for (CParameterPage* page : pages_)
        page->EnablePage();
}

int CParameterPropertySheets::MarkAll(const std::vector<RangeProblem>& problems) {
    int first = -1;
    for (int i = 0; i < count(); ++i) {
        const int marked = pages_[static_cast<size_t>(i)]->MarkProblems(problems);
        tabBar()->setTabTextColor(i, marked > 0 ? CColorButton::RED : QColor());
        if (marked > 0 && first < 0) first = i;
    }
    return first;
}

// ---- the dialog
// --------------------------------------------------------------------------------------------

CParametersDialog::CParametersDialog(QWidget* parent, QlnState& state, const TextSource& texts,
                                     Messages messages)
    : CNotifiedDialog(parent), editor_(state), texts_(texts),
      messages_(std::move(messages)), context_{editor_, texts, [this] { AfterEdit(); }} {
    setWindowTitle(Q(texts_.Get(TEXT_TITLE)));
    sheet_ = new CParameterPropertySheets(context_, this);

    read_ = Button(this, "1103", texts_.Get(TEXT_READ));
    write_ = Button(this, "1102", texts_.Get(TEXT_WRITE));
    copy_ = Button(this, "1260", texts_.Get(TEXT_COPY));
    close_ = Button(this, "2", texts_.Get(TEXT_CLOSE));
    // Enter closes the dialog, as Escape does; Close keeps the edits.
    close_->setDefault(true);
    connect(read_, &QPushButton::clicked, this, &CParametersDialog::OnRead);
    connect(write_, &QPushButton::clicked, this, &CParametersDialog::OnWrite);
    connect(copy_, &QPushButton::clicked, this, &CParametersDialog::OnCopy);
    connect(close_, &QPushButton::clicked, this, &CParametersDialog::reject);

    setGroup_ = new QGroupBox(Q(texts_.Get(TEXT_PARAMETER_SETTING)), this);
    setGroup_->setObjectName(QStringLiteral("1358"));
    factory_ = new CColorButton(Q(texts_.Get(TEXT_FACTORY)), setGroup_);
    factory_->setObjectName(QStringLiteral("1624"));
    custom_ = new CColorButton(Q(texts_.Get(TEXT_CUSTOM)), setGroup_);
    custom_->setObjectName(QStringLiteral("1357"));
    setButtons_ = new QButtonGroup(setGroup_);
    setButtons_->addButton(factory_, 1);
    setButtons_->addButton(custom_, 0);
    OnUserChecked(factory_, showingSet_, [this] { OnFactory(); });
    OnUserChecked(custom_, showingSet_, [this] { OnCustom(); });
    setProblem_ = new QLabel(setGroup_);
    setProblem_->setVisible(false);
    QPalette red = setProblem_->palette();
    red.setColor(QPalette::WindowText, CColorButton::RED);
    setProblem_->setPalette(red);
    auto* setLayout = new QVBoxLayout(setGroup_);
    auto* setRow = new QHBoxLayout;
    setRow->addWidget(factory_);
    setRow->addWidget(custom_);
    setLayout->addLayout(setRow);
    setLayout->addWidget(setProblem_);

    auto* buttons = new QGridLayout;
    buttons->addWidget(read_, 0, 0);
    buttons->addWidget(write_, 1, 0);
    buttons->addWidget(copy_, 0, 1);
    buttons->addWidget(close_, 1, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addLayout(buttons);
    bottom->addSpacing(24);
    bottom->addWidget(setGroup_);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sheet_, 1);
    layout->addLayout(bottom);

    RefreshSetButtons();

    buttonTimer_ = new QTimer(this);
    buttonTimer_->setObjectName(QStringLiteral("104"));
    buttonTimer_->setInterval(BUTTON_TIMER_MS);
    connect(buttonTimer_, &QTimer::timeout, this, &CParametersDialog::OnButtonTimer);
    buttonTimer_->start();
    cursorTimer_ = new QTimer(this);
    cursorTimer_->setObjectName(QStringLiteral("111"));
    cursorTimer_->setInterval(CURSOR_TIMER_MS);
    connect(cursorTimer_, &QTimer::timeout, this, &CParametersDialog::OnCursorTimer);
    cursorTimer_->start();

    UpdateButtons();
}

CParametersDialog::~CParametersDialog() {
    closing_ = true;
    EndWaitCursor();
    // The pages refer to the editor: they go while it is still there.
    delete sheet_;
    sheet_ = nullptr;
}

// ---- buttons
// -------------------------------------------------------------------------------------------------

void CParametersDialog::OnRead() {
    sheet_->StoreAll();
    editor_.Read();
    changed_ = editor_.Changed();
    UpdateButtons();
}

// The pages show the set as Write rounded it for the valve, also when the write is refused.
void CParametersDialog::OnWrite() {
    sheet_->StoreAll();
    std::vector<RangeProblem> problems;
    const bool requested = editor_.Write(problems);
    RefreshSetButtons();
    if (!requested && !problems.empty()) Refuse(problems);
    changed_ = editor_.Changed();
    UpdateButtons();
}

void CParametersDialog::OnCopy() {
    if (editor_.Copy()) RefreshSetButtons();
    changed_ = editor_.Changed();
    UpdateButtons();
}

void CParametersDialog::OnFactory() {
    ChooseSet(1);
}

void CParametersDialog::OnCustom() {
    ChooseSet(0);
}

// The pages show the set as the switch rounded it; the buttons show the edited set's choice,
// whatever was chosen.
void CParametersDialog::ChooseSet(int32_t set) {
    sheet_->StoreAll();
    std::vector<RangeProblem> problems;
    const bool requested = editor_.ChooseSet(set, problems);
    RefreshSetButtons();
    if (!requested && !problems.empty()) Refuse(problems);
    changed_ = editor_.Changed();
    UpdateButtons();
}

void CParametersDialog::reject() {
    if (closing_) return;
    // While an action runs the engine may be sending the project's set; the edits were stored
    // into it when the action was requested, and the pages are locked since.
    if (!editor_.Busy()) sheet_->StoreAll();
    editor_.Close();
    changed_ = editor_.Changed();
    closing_ = true;
    EndWaitCursor();
    QDialog::reject();
}

void CParametersDialog::Refuse(const std::vector<RangeProblem>& problems) {
    const int tab = sheet_->MarkAll(problems);
    if (tab >= 0) sheet_->setCurrentIndex(tab);
    if (messages_) messages_(RefusalText(problems, texts_), texts_.Get(IDS_APP_TITLE));
}

// ---- notifications and timers
// ------------------------------------------------------------------------------

void CParametersDialog::OnMsgReceive(uint32_t code, intptr_t) {
    if (closing_) return;
    if (code == NOTIFY_PARAMETERS_READ) {
        editor_.OnParametersRead();
        RefreshSetButtons();
    } else if (code == NOTIFY_PARAMETERS_WRITTEN) {
        RefreshSetButtons();
        editor_.OnParametersWritten();
    } else if (RequestFailed(code)) {
        // A failed read leaves the valve's block incomplete: its values go back to " -- ".
        RefreshSetButtons();
    }
    UpdateButtons();
}

void CParametersDialog::OnButtonTimer() {
    if (!closing_) UpdateButtons();
}

void CParametersDialog::OnCursorTimer() {
    if (closing_) return;
    const bool running = (editor_.ThreadCmd() & (CMD_READ_PARAMETER | CMD_WRITE_PARAMETER)) != 0;
    if (running && !waitCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        waitCursor_ = true;
    } else if (!running) {
        EndWaitCursor();
    }
}

void CParametersDialog::EndWaitCursor() {
    if (!waitCursor_) return;
    QApplication::restoreOverrideCursor();
    waitCursor_ = false;
}

// ---- showing
// -------------------------------------------------------------------------------------------------

void CParametersDialog::RefreshSetButtons() {
    editor_.TakeValveSnapshot();
    sheet_->RefreshAll();
    const int32_t set = editor_.Local().PARAMETER_SET;
    const ProgramChange shown(showingSet_);
    setButtons_->setExclusive(false);
    factory_->setChecked(set == 1);
    custom_->setChecked(set == 0);
    setButtons_->setExclusive(true);
    AfterEdit();
}

void CParametersDialog::UpdateButtons() {
    editor_.TakeValveSnapshot();
    const EditorButtons b = editor_.Buttons();
    read_->setEnabled(b.read);
    write_->setEnabled(b.write);
    copy_->setEnabled(b.copy);
    factory_->setEnabled(b.factory);
    custom_->setEnabled(b.custom);
    sheet_->EnableAll();
}

// Marks and dependencies follow every edit at once.
void CParametersDialog::AfterEdit() {
    if (closing_) return;
    const std::vector<RangeProblem> problems = CheckWrittenFields(editor_.Local());
    sheet_->MarkAll(problems);
    const RangeProblem* set = nullptr;
    for (const RangeProblem& p : problems)
        if (p.field->page == Page::NotEdited) set = &p;
    setProblem_->setText(set ? Q(DescribeProblem(*set)) : QString());
    setProblem_->setVisible(set != nullptr);
    sheet_->EnableAll();
}
