#pragma once
#include <QAbstractSpinBox>
#include <QWidget>
#include <functional>
#include <vector>

#include "dialogs/ParameterPageRules.h"

class CColorButton;
class QButtonGroup;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;
class TextSource;

// The arrows beside a number's edit box. It has no text of its own: it keeps a position and
// reports each click or arrow key, and the page decides what the position means.
class CSpinButton : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit CSpinButton(QWidget* parent = nullptr);
    void SetRange(SpinRange r) { range_ = r; }
    SpinRange Range() const { return range_; }
    void SetPosition(int p) { position_ = p; }
    int Position() const { return position_; }
    void stepBy(int steps) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void Spun(int delta);

protected:
    // Always both ways: the page limits the position and reports a change beyond the range as none.
    StepEnabled stepEnabled() const override { return StepUpEnabled | StepDownEnabled; }
    // Clicks and the arrow keys only: a wheel turned over the page must not change a parameter.
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    SpinRange range_{0, 0};
    int position_ = 0;
};

// What every page works on: the editor (its private copy of the set, the valve's values, the
// request word) and what the dialog does after an edit (dependencies and marks take effect at once).
struct PageContext {
    ParameterEditor& editor;
    const TextSource& texts;
    std::function<void()> edited;
};

// One tab of the editor, built from its page layout and the parameter table. RefreshPage shows
// the edited and the valve's values, StorePage takes what the controls hold into the edited set,
// EnablePage decides which controls may be used.
class CParameterPage : public QWidget {
    Q_OBJECT
public:
    CParameterPage(Page page, PageContext& context, QWidget* parent = nullptr);

    const PageLayout& Layout() const { return layout_; }
    QString Title() const;
    virtual void RefreshPage();
    void StorePage();
    void EnablePage();
    // Marks the fields of this page that a write would refuse; returns how many there are.
    int MarkProblems(const std::vector<RangeProblem>& problems);

    // For the window's tests and automation.
    QLineEdit* Edit(const char* field) const;
    CSpinButton* Spin(const char* field) const;
    QLineEdit* ValueBox(const char* field) const; // status box of a choice, valve box otherwise
    CColorButton* Button(const char* field, int32_t value) const;
    QComboBox* List(const char* field) const;
    bool Marked(const char* field) const;

protected:
    struct Choice {
        const PageItem* item;
        const ParameterDescription* p;
        QGroupBox* box;
        QLineEdit* status;
        QButtonGroup* group;
        std::vector<std::pair<int32_t, CColorButton*>> buttons;
        QLabel* problem;
    };
    struct Number {
        const PageItem* item;
        const ParameterDescription* p;
        QLabel* label;
        QLineEdit* edit;
        CSpinButton* spin;
        QLineEdit* valve;
    };
    struct ListField {
        const PageItem* item;
        const ParameterDescription* p;
        QComboBox* list;
        QLineEdit* valve;
        QLabel* problem;
    };
    struct ValveOnly {
        const ParameterDescription* p;
        QLineEdit* valve;
    };

    ParameterBlock& Local() const { return context_.editor.Local(); }
    const ParameterEditor& Editor() const { return context_.editor; }
    const TextSource& Texts() const { return context_.texts; }
    // The spin range of a number; the Control page narrows the gain in cascaded control.
    virtual SpinRange RangeOf(const Number& n) const;
    // After a radio button stored its value.
    virtual void AfterChoice(const Choice& c);
    // Texts that follow another field, brought up to date with the enabling.
    virtual void FollowOtherFields() {}
    void RecolourChoice(const Choice& c);
    const Number* FindNumber(const char* field) const;
    const Choice* FindChoice(const char* field) const;

private:
    void Build();
    QGroupBox* AddChoice(const PageItem& item, QVBoxLayout* column);
    void AddNumber(const PageItem& item, QGridLayout* grid);
    void AddList(const PageItem& item, QGridLayout* grid);
    void AddValveOnly(const PageItem& item, QGridLayout* grid);
    void RefreshChoice(const Choice& c);
    void RefreshNumber(const Number& n);
    void RefreshList(const ListField& l);
    void ValidateNumber(const Number& n);
    void OnSpun(const Number& n, int delta);
    void MarkNumber(const Number& n);
    bool eventFilter(QObject* watched, QEvent* event) override;

    const PageLayout& layout_;
    PageContext& context_;
    std::vector<Choice> choices_;
    std::vector<Number> numbers_;
    std::vector<ListField> lists_;
    std::vector<ValveOnly> valveOnly_;
    std::vector<const ParameterDescription*> marked_;
    bool refreshing_ = false; // the page checks the buttons itself
};

// Tab 1: controller structure, gains and times, I-Search. In cascaded control the first two fields
// are the slave's offset and gain.
class CControlParameterPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CControlParameterPage(PageContext& context, QWidget* parent = nullptr);
    void RefreshPage() override;

protected:
    SpinRange RangeOf(const Number& n) const override;
    void AfterChoice(const Choice& c) override;
};

// Tab 2: setpoint signal, direction, shut-off, adjustment, selection and ramps.
class CSetpointPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CSetpointPage(PageContext& context, QWidget* parent = nullptr);
};

// Tab 3: analog output, feedback, auto zero, analog input 2.
class CAnalogInOutPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CAnalogInOutPage(PageContext& context, QWidget* parent = nullptr);
    void RefreshPage() override;

protected:
    void FollowOtherFields() override;
};

// Tab 4: autosafe, over-temperature, current limit and the autosafe timing.
class CAutosafePage : public CParameterPage {
    Q_OBJECT
public:
    explicit CAutosafePage(PageContext& context, QWidget* parent = nullptr);
};

// Tab 5: the digital input's function and polarity.
class CDigitalInputPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CDigitalInputPage(PageContext& context, QWidget* parent = nullptr);
};

// Tab 6: display, keys and the three LEDs.
class CDisplayKeysPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CDisplayKeysPage(PageContext& context, QWidget* parent = nullptr);
};

// Tab 7 ("Digital Out"): the pressure switch output.
class CPressureSwitchPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CPressureSwitchPage(PageContext& context, QWidget* parent = nullptr);
};

// Tab 8: error signalling and setpoint range detection.
class CErrorPage : public CParameterPage {
    Q_OBJECT
public:
    explicit CErrorPage(PageContext& context, QWidget* parent = nullptr);
};
