#include "dialogs/ParameterPages.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "dialogs/ColorButton.h"
#include "dialogs/UserInput.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_VALVE = 140;
constexpr unsigned TEXT_SLAVE_OFFSET = 349;
constexpr unsigned TEXT_SLAVE_GAIN = 350;
constexpr QColor OUT_OF_RANGE{255, 200, 200};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

void Name(QWidget* w, const char* id) {
    if (id) w->setObjectName(QString::fromLatin1(id));
}

// The box that shows what the valve reported: never edited, never focused.
QLineEdit* MakeValueBox(QWidget* parent, const char* id, const QString& accessibleName) {
    auto* box = new QLineEdit(parent);
    Name(box, id);
    box->setEnabled(false);
    box->setFocusPolicy(Qt::NoFocus);
    box->setAccessibleName(accessibleName);
    box->setProperty("valveValue", true);
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("0000.00")) + 12);
    return box;
}

// A marked box keeps black text on its colour; an unmarked one goes back to the usual colours.
void PaintBase(QWidget* w, const QColor* colour) {
    const QPalette usual;
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, colour ? *colour : usual.color(g, QPalette::Base));
        p.setColor(g, QPalette::Text, colour ? QColor(Qt::black) : usual.color(g, QPalette::Text));
    }
    w->setPalette(p);
}

QLabel* ProblemLabel(QWidget* parent) {
    auto* l = new QLabel(parent);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, CColorButton::RED);
    l->setPalette(p);
    l->setWordWrap(true);
    l->setVisible(false);
    return l;
}
} // namespace

// ---- the spin ----------------------------------------------------------------------------------------

CSpinButton::CSpinButton(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setReadOnly(true);
    setFocusPolicy(Qt::StrongFocus);
}

void CSpinButton::stepBy(int steps) {
    emit Spun(steps);
}

QSize CSpinButton::sizeHint() const {
    QStyleOptionSpinBox opt;
    initStyleOption(&opt);
    const QRect up = style()->subControlRect(QStyle::CC_SpinBox, &opt, QStyle::SC_SpinBoxUp, this);
    const int height = QAbstractSpinBox::sizeHint().height();
    return {std::max(up.width(), 12) + 2 * style()->pixelMetric(QStyle::PM_SpinBoxFrameWidth) + 2, height};
}

void CSpinButton::wheelEvent(QWheelEvent* e) {
    e->ignore();
}

void CSpinButton::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Down)
        QAbstractSpinBox::keyPressEvent(e);
    else
        e->ignore();
}

// ---- building a page -----------------------------------------------------------------------------------

CParameterPage::CParameterPage(Page page, PageContext& context, QWidget* parent)
    : QWidget(parent), layout_(LayoutOf(page)), context_(context) {
    const size_t n = layout_.items.size();
    choices_.reserve(n);
    numbers_.reserve(n);
    lists_.reserve(n);
    valveOnly_.reserve(n);
    Build();
}

QString CParameterPage::Title() const {
    return Q(Texts().Get(layout_.titleText));
}

void CParameterPage::Build() {
    auto* row = new QHBoxLayout(this);
    auto* column = new QVBoxLayout;
    row->addLayout(column);
    std::vector<QVBoxLayout*> frames;
    QGridLayout* grid = nullptr;
    auto current = [&] { return frames.empty() ? column : frames.back(); };
    for (const PageItem& item : layout_.items) {
        const bool gridItem = item.kind == PageItemKind::Number || item.kind == PageItemKind::List ||
                              item.kind == PageItemKind::ValveOnly;
        if (!gridItem) grid = nullptr;
        switch (item.kind) {
        case PageItemKind::Column:
            column->addStretch(1);
            column = new QVBoxLayout;
            row->addLayout(column);
            break;
        case PageItemKind::FrameBegin: {
            auto* box = new QGroupBox(Q(Caption(item.text, item.caption, Texts())), this);
            Name(box, item.id);
            auto* inner = new QVBoxLayout(box);
            current()->addWidget(box);
            frames.push_back(inner);
            break;
        }
        case PageItemKind::FrameEnd:
            if (!frames.empty()) frames.pop_back();
            break;
        case PageItemKind::Choice:
            AddChoice(item, current());
            break;
        case PageItemKind::Number:
        case PageItemKind::List:
        case PageItemKind::ValveOnly:
            if (!grid) {
                grid = new QGridLayout;
                current()->addLayout(grid);
            }
            if (item.kind == PageItemKind::Number) AddNumber(item, grid);
            if (item.kind == PageItemKind::List) AddList(item, grid);
            if (item.kind == PageItemKind::ValveOnly) AddValveOnly(item, grid);
            break;
        }
    }
    column->addStretch(1);
}

QGroupBox* CParameterPage::AddChoice(const PageItem& item, QVBoxLayout* column) {
    const ParameterDescription* p = FindParameter(item.field);
    const QString caption = Q(ItemCaption(item, p, Texts()));
    auto* box = new QGroupBox(caption, this);
    Name(box, item.id);
    auto* v = new QVBoxLayout(box);
    QLineEdit* status = MakeValueBox(box, item.statusId, caption + " (" + Q(Texts().Get(TEXT_VALVE)) + ")");
    v->addWidget(status);
    auto* group = new QButtonGroup(box);
    Choice c{&item, p, box, status, group, {}, nullptr};
    for (const ButtonPlace& b : item.buttons) {
        if (b.value == HEADING) {
            auto* heading = new QLabel(Q(ButtonCaption(b, *p, Texts())), box);
            Name(heading, b.id);
            v->addWidget(heading);
            continue;
        }
        auto* button = new CColorButton(Q(ButtonCaption(b, *p, Texts())), box);
        Name(button, b.id);
        group->addButton(button, b.value);
        v->addWidget(button);
        c.buttons.emplace_back(b.value, button);
    }
    c.problem = ProblemLabel(box);
    v->addWidget(c.problem);
    const size_t index = choices_.size();
    choices_.push_back(c);
    OnUserChecked(group, refreshing_, [this, index](int value) {
        const Choice& chosen = choices_[index];
        SetInt(Local(), chosen.p->offset, value);
        RecolourChoice(chosen);
        AfterChoice(chosen);
        context_.edited();
    });
    box->setVisible(!item.hidden);
    column->addWidget(box);
    return box;
}

void CParameterPage::AddNumber(const PageItem& item, QGridLayout* grid) {
    const ParameterDescription* p = FindParameter(item.field);
    const QString caption = Q(ItemCaption(item, p, Texts()));
    const int row = grid->count() == 0 ? 0 : grid->rowCount();
    auto* label = new QLabel(caption, this);
    Name(label, item.id);
    auto* edit = new QLineEdit(this);
    Name(edit, item.editId);
    edit->setAccessibleName(caption);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("0000.00")) + 12);
    label->setBuddy(edit);
    auto* spin = new CSpinButton(this);
    Name(spin, item.spinId);
    spin->setAccessibleName(caption);
    QLineEdit* valve = MakeValueBox(this, item.statusId, caption + " (" + Q(Texts().Get(TEXT_VALVE)) + ")");
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(spin, row, 2);
    grid->addWidget(valve, row, 3);
    const size_t index = numbers_.size();
    numbers_.push_back({&item, p, label, edit, spin, valve});
    edit->installEventFilter(this);
    connect(spin, &CSpinButton::Spun, this, [this, index](int delta) { OnSpun(numbers_[index], delta); });
    for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(edit), static_cast<QWidget*>(spin),
                       static_cast<QWidget*>(valve)})
        w->setVisible(!item.hidden);
}

void CParameterPage::AddList(const PageItem& item, QGridLayout* grid) {
    const ParameterDescription* p = FindParameter(item.field);
    const QString caption = Q(ItemCaption(item, p, Texts()));
    const int row = grid->count() == 0 ? 0 : grid->rowCount();
    auto* label = new QLabel(caption, this);
    Name(label, item.id);
    auto* list = new QComboBox(this);
    Name(list, item.editId);
    list->setAccessibleName(caption);
    label->setBuddy(list);
    QLineEdit* valve = MakeValueBox(this, item.statusId, caption + " (" + Q(Texts().Get(TEXT_VALVE)) + ")");
    QLabel* problem = ProblemLabel(this);
    grid->addWidget(label, row, 0);
    grid->addWidget(list, row, 1);
    grid->addWidget(valve, row, 2);
    grid->addWidget(problem, row + 1, 0, 1, 3);
    const size_t index = lists_.size();
    lists_.push_back({&item, p, list, valve, problem});
    // Only the user's choice counts; refilling the list on a refresh changes nothing.
    connect(list, &QComboBox::activated, this, [this, index](int chosen) {
        if (chosen < 0) return;
        SetInt(Local(), lists_[index].p->offset, chosen);
        context_.edited();
    });
}

void CParameterPage::AddValveOnly(const PageItem& item, QGridLayout* grid) {
    const ParameterDescription* p = FindParameter(item.field);
    const QString caption = Q(ItemCaption(item, p, Texts()));
    const int row = grid->count() == 0 ? 0 : grid->rowCount();
    auto* label = new QLabel(caption, this);
    QLineEdit* valve = MakeValueBox(this, item.statusId, caption);
    auto* note = new QLabel(Q(Texts().Get(item.noteText)), this);
    Name(note, item.id);
    grid->addWidget(label, row, 0);
    grid->addWidget(valve, row, 1);
    grid->addWidget(note, row, 2);
    valveOnly_.push_back({p, valve});
}

// ---- refresh, store, enable
// --------------------------------------------------------------------------------

void CParameterPage::RefreshPage() {
    for (const Choice& c : choices_)
        RefreshChoice(c);
    for (const Number& n : numbers_)
        RefreshNumber(n);
    for (const ListField& l : lists_)
        RefreshList(l);
    const ParameterEditor& e = context_.editor;
    for (const ValveOnly& v : valveOnly_)
        v.valve->setText(Q(ValveText(*v.p, e.Valve(), e.ValveValid(), Texts())));
}

void CParameterPage::RefreshChoice(const Choice& c) {
    const int32_t value = GetInt(Local(), c.p->offset);
    const ProgramChange shown(refreshing_);
    // A value outside the list checks no button at all.
    c.group->setExclusive(false);
    for (const auto& [v, button] : c.buttons)
        button->setChecked(v == value);
    c.group->setExclusive(true);
    const ParameterEditor& e = context_.editor;
    c.status->setText(Q(ValveText(*c.p, e.Valve(), e.ValveValid(), Texts())));
    RecolourChoice(c);
}

void CParameterPage::RecolourChoice(const Choice& c) {
    const ParameterEditor& e = context_.editor;
    const int32_t local = GetInt(Local(), c.p->offset);
    const int32_t valve = GetInt(e.Valve(), c.p->offset);
    for (const auto& [v, button] : c.buttons)
        button->SetColour(ButtonMarkedRed(v, local, valve, e.ValveValid()) ? CColorButton::RED
                                                                           : CColorButton::GREY);
}

// The box shows the value as the valve will get it (a project's 25 Hz as 30, 2.25 as 2.3); Write
// rounds the edited set alike.
void CParameterPage::RefreshNumber(const Number& n) {
    const double value = ValveValue(*n.p, GetValue(Local(), *n.p));
    ShowProgramText(n.edit, Q(FormatNumber(*n.p, value)));
    const ParameterEditor& e = context_.editor;
    n.valve->setText(Q(ValveText(*n.p, e.Valve(), e.ValveValid(), Texts())));
    n.spin->SetRange(RangeOf(n));
    n.spin->SetPosition(SpinPosition(*n.p, value));
    MarkNumber(n);
}

void CParameterPage::RefreshList(const ListField& l) {
    l.list->clear();
    for (int i = 0; i < ChoiceCount(*l.p); ++i)
        l.list->addItem(Q(ChoiceStatusText(*l.p, i, Texts())));
    const int32_t index = GetInt(Local(), l.p->offset);
    l.list->setCurrentIndex(index >= 0 && index < l.list->count() ? index : -1);
    const ParameterEditor& e = context_.editor;
    l.valve->setText(Q(ValveText(*l.p, e.Valve(), e.ValveValid(), Texts())));
}

void CParameterPage::MarkNumber(const Number& n) {
    const ParameterEditor& e = context_.editor;
    const bool differs = NumberDiffers(*n.p, Local(), e.Valve(), e.ValveValid());
    PaintBase(n.valve, differs ? &CColorButton::RED : nullptr);
    n.valve->setProperty("differs", differs);
}

void CParameterPage::StorePage() {
    for (const Number& n : numbers_)
        ValidateNumber(n);
    for (const Choice& c : choices_)
        if (c.group->checkedId() >= 0) SetInt(Local(), c.p->offset, c.group->checkedId());
    for (const ListField& l : lists_)
        if (l.list->currentIndex() >= 0) SetInt(Local(), l.p->offset, l.list->currentIndex());
}

void CParameterPage::EnablePage() {
    const ParameterEditor& e = context_.editor;
    const uint32_t cmd = e.ThreadCmd();
    auto enabled = [&](const PageItem& item, const ParameterDescription& p) {
        return ControlEnabled(item, p, e.Local(), e.VisibilityFlags(), cmd);
    };
    for (const Choice& c : choices_) {
        const bool on = enabled(*c.item, *c.p);
        for (const auto& [v, button] : c.buttons)
            button->setEnabled(on);
    }
    for (const Number& n : numbers_) {
        const bool on = enabled(*n.item, *n.p);
        n.edit->setEnabled(on);
        n.spin->setEnabled(on);
    }
    for (const ListField& l : lists_)
        l.list->setEnabled(enabled(*l.item, *l.p));
    FollowOtherFields();
}

// ---- numbers --------------------------------------------------------------------------------------------

// Only what the user changed is validated (typed, or set by an assistive tool): a value the box
// merely shows (an out-of-range one from a project, which a write refuses) stays as it is. What is
// taken is rounded to what the valve can hold, and the box shows that.
void CParameterPage::ValidateNumber(const Number& n) {
    if (!ChangedByUser(n.edit)) return;
    std::string text = n.edit->text().toStdString();
    const ParameterDescription& p = *n.p;
    if (p.type == FieldType::Int) {
        int32_t v = 0;
        ValidateIntEdit(text, v, static_cast<int32_t>(p.min), static_cast<int32_t>(p.max));
        SetValue(Local(), p, ValveValue(p, v));
    } else {
        float v = 0;
        ValidateFloatEdit(text, v, static_cast<float>(p.min), static_cast<float>(p.max));
        SetValue(Local(), p, ValveValue(p, v));
    }
    const double value = GetValue(Local(), p);
    ShowProgramText(n.edit, Q(FormatNumber(p, value)));
    n.edit->end(false);
    n.spin->SetPosition(SpinPosition(p, value));
    MarkNumber(n);
    context_.edited();
}

void CParameterPage::OnSpun(const Number& n, int delta) {
    const SpinStep s = StepSpin(*n.p, RangeOf(n), n.spin->Position(), delta);
    SetValue(Local(), *n.p, s.value);
    n.spin->SetPosition(s.position);
    ShowProgramText(n.edit, Q(FormatNumber(*n.p, GetValue(Local(), *n.p))));
    n.edit->setFocus();
    n.edit->end(false);
    MarkNumber(n);
    context_.edited();
}

bool CParameterPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (const Number& n : numbers_)
            if (n.edit == watched) ValidateNumber(n);
    }
    return QWidget::eventFilter(watched, event);
}

SpinRange CParameterPage::RangeOf(const Number& n) const {
    return SpinRangeOf(*n.p);
}

void CParameterPage::AfterChoice(const Choice&) {}

// ---- marks ---------------------------------------------------------------------------------------------

int CParameterPage::MarkProblems(const std::vector<RangeProblem>& problems) {
    marked_.clear();
    auto problemOf = [&](const ParameterDescription* p) -> const RangeProblem* {
        for (const RangeProblem& r : problems)
            if (r.field == p) return &r;
        return nullptr;
    };
    auto show = [&](QLabel* label, const RangeProblem* r) {
        label->setText(r ? Q(DescribeProblem(*r)) : QString());
        label->setVisible(r != nullptr);
        if (r) marked_.push_back(r->field);
    };
    // A field the page keeps out of sight comes into view while it holds a value that stops a
    // write, so that it can be corrected.
    for (const Choice& c : choices_) {
        const RangeProblem* r = problemOf(c.p);
        show(c.problem, r);
        c.box->setVisible(!c.item->hidden || r);
    }
    for (const ListField& l : lists_)
        show(l.problem, problemOf(l.p));
    for (const Number& n : numbers_) {
        const RangeProblem* r = problemOf(n.p);
        PaintBase(n.edit, r ? &OUT_OF_RANGE : nullptr);
        n.edit->setToolTip(r ? Q(DescribeProblem(*r)) : QString());
        if (r) marked_.push_back(r->field);
        for (QWidget* w : {static_cast<QWidget*>(n.label), static_cast<QWidget*>(n.edit),
                           static_cast<QWidget*>(n.spin), static_cast<QWidget*>(n.valve)})
            w->setVisible(!n.item->hidden || r);
    }
    return static_cast<int>(marked_.size());
}

bool CParameterPage::Marked(const char* field) const {
    return std::any_of(marked_.begin(), marked_.end(),
                       [field](const ParameterDescription* p) { return std::string(p->name) == field; });
}

// ---- lookups --------------------------------------------------------------------------------------------

const CParameterPage::Number* CParameterPage::FindNumber(const char* field) const {
    for (const Number& n : numbers_)
        if (std::string(n.p->name) == field) return &n;
    return nullptr;
}

const CParameterPage::Choice* CParameterPage::FindChoice(const char* field) const {
    for (const Choice& c : choices_)
        if (std::string(c.p->name) == field) return &c;
    return nullptr;
}

QLineEdit* CParameterPage::Edit(const char* field) const {
    const Number* n = FindNumber(field);
    return n ? n->edit : nullptr;
}

CSpinButton* CParameterPage::Spin(const char* field) const {
    const Number* n = FindNumber(field);
    return n ? n->spin : nullptr;
}

QLineEdit* CParameterPage::ValueBox(const char* field) const {
    if (const Number* n = FindNumber(field)) return n->valve;
    if (const Choice* c = FindChoice(field)) return c->status;
    for (const ListField& l : lists_)
        if (std::string(l.p->name) == field) return l.valve;
    for (const ValveOnly& v : valveOnly_)
        if (std::string(v.p->name) == field) return v.valve;
    return nullptr;
}

CColorButton* CParameterPage::Button(const char* field, int32_t value) const {
    if (const Choice* c = FindChoice(field))
        for (const auto& [v, button] : c->buttons)
            if (v == value) return button;
    return nullptr;
}

QComboBox* CParameterPage::List(const char* field) const {
    for (const ListField& l : lists_)
        if (std::string(l.p->name) == field) return l.list;
    return nullptr;
}

// ---- the pages ------------------------------------------------------------------------------------------

CControlParameterPage::CControlParameterPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::Control, context, parent) {}

void CControlParameterPage::RefreshPage() {
    CParameterPage::RefreshPage();
    // In cascaded control the valve uses the forward offset and gain for its slave loop.
    const bool cascaded = Local().CONTROLLER_STRUCTURE == STRUCTURE_CASCADED;
    const struct {
        const char* field;
        unsigned slaveText;
    } relabelled[] = {{"FORWARD_OFFSET", TEXT_SLAVE_OFFSET}, {"FORWARD_GAIN", TEXT_SLAVE_GAIN}};
    for (const auto& r : relabelled) {
        const Number* n = FindNumber(r.field);
        const QString caption = Q(Caption(cascaded ? r.slaveText : n->p->labelText, nullptr, Texts()));
        n->label->setText(caption);
        n->edit->setAccessibleName(caption);
        n->spin->setAccessibleName(caption);
    }
}

SpinRange CControlParameterPage::RangeOf(const Number& n) const {
    // The slave gain goes up to 1.00; the forward gain of the other structures up to 2.50.
    if (Local().CONTROLLER_STRUCTURE == STRUCTURE_CASCADED && std::string(n.p->name) == "FORWARD_GAIN")
        return {1, 100};
    return CParameterPage::RangeOf(n);
}

void CControlParameterPage::AfterChoice(const Choice&) {
    RefreshPage();
}

CSetpointPage::CSetpointPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::Setpoint, context, parent) {}

CAnalogInOutPage::CAnalogInOutPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::AnalogInOut, context, parent) {}

// The first feedback source is named after the structure: the edited structure names the button,
// the valve's own structure names the valve's value.
void CAnalogInOutPage::RefreshPage() {
    CParameterPage::RefreshPage();
    FollowOtherFields();
    const ParameterEditor& e = Editor();
    if (e.ValveValid() && e.Valve().FEEDBACK_SELECT == 0)
        FindChoice("FEEDBACK_SELECT")
            ->status->setText(
                Q(Caption(FeedbackSourceText(e.Valve().CONTROLLER_STRUCTURE), nullptr, Texts())));
}

void CAnalogInOutPage::FollowOtherFields() {
    const unsigned text = FeedbackSourceText(Local().CONTROLLER_STRUCTURE);
    Button("FEEDBACK_SELECT", 0)->setText(Q(Caption(text, nullptr, Texts())));
}

CAutosafePage::CAutosafePage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::Autosafe, context, parent) {}

CDigitalInputPage::CDigitalInputPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::DigitalInput, context, parent) {}

CDisplayKeysPage::CDisplayKeysPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::DisplayKeys, context, parent) {}

CPressureSwitchPage::CPressureSwitchPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::PressureSwitch, context, parent) {}

CErrorPage::CErrorPage(PageContext& context, QWidget* parent)
    : CParameterPage(Page::Error, context, parent) {}
