#pragma once
#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QVariant>

// What the user changes, told apart from what the program shows. A user acts with the mouse, the
// keyboard or an assistive tool (a screen reader, test automation) through the accessibility
// interface. Such a tool toggles a button without clicking it and puts text into a field with
// setText, which clears isModified. So the dialogs react to a button's checked state, not to its
// clicks, and compare a field's text with the text they put there themselves.

// Set while the program itself checks buttons: the handlers of the user's choices ignore those.
class ProgramChange {
public:
    explicit ProgramChange(bool& flag) : flag_(flag), was_(flag) { flag_ = true; }
    ~ProgramChange() { flag_ = was_; }
    ProgramChange(const ProgramChange&) = delete;
    ProgramChange& operator=(const ProgramChange&) = delete;

private:
    bool& flag_;
    bool was_;
};

// `chosen()` runs when the user checks the button (click, key or an assistive tool's toggle), not
// when the program checks it while `programChange` is set.
template <class F> void OnUserChecked(QAbstractButton* button, const bool& programChange, F chosen) {
    QObject::connect(button, &QAbstractButton::toggled, button, [&programChange, chosen](bool checked) {
        if (checked && !programChange) chosen();
    });
}

// The same for a group of buttons: `chosen(id)` gets the id of the button the user checked.
template <class F> void OnUserChecked(QButtonGroup* group, const bool& programChange, F chosen) {
    QObject::connect(group, &QButtonGroup::idToggled, group, [&programChange, chosen](int id, bool checked) {
        if (checked && !programChange) chosen(id);
    });
}

// The program's own text into a field, remembered as the text the program put there last.
inline void ShowProgramText(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    edit->setProperty("programText", text);
}

// The field holds something else than the program put there last: typed, pasted, or set by an
// assistive tool.
inline bool ChangedByUser(const QLineEdit* edit) {
    return edit->text() != edit->property("programText").toString();
}
