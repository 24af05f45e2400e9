#pragma once
#include <QDialog>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TextSource;

// F1: the user guide QLN.HLP in a read-only window of the program's own, with a find field. The
// file is never handed to the desktop, which takes *.hlp for a format of its own.
class CHelpWindow : public QDialog {
    Q_OBJECT
public:
    CHelpWindow(QWidget* parent, const TextSource& texts);

    // Reads the file as UTF-8 text. False, with the reason in *error, when it cannot be read or is
    // too large to be a guide; the window then keeps what it showed.
    bool Load(const std::string& path, std::string* error);

    QPlainTextEdit* View() const { return view_; }
    QLineEdit* FindField() const { return find_; }
    // Selects the next place of the find field's text after the cursor, from the top again when
    // there is none below. False when the text is nowhere.
    bool FindNext();

private:
    QPlainTextEdit* view_;
    QLineEdit* find_;
    QPushButton* next_;
};
