#pragma once
#include <QDialog>

class QRadioButton;
class TextSource;

// Project > Print Project: what to print (All, Parameters or Scope View).
class CSelectPrintDialog : public QDialog {
    Q_OBJECT
public:
    CSelectPrintDialog(QWidget* parent, const TextSource& texts, int selection = 1);

    // The selection after OK: 1 all, 2 parameters, 3 scope view, 0 none.
    int Selection() const { return selection_; }
    QRadioButton* AllButton() const { return all_; }
    QRadioButton* ParametersButton() const { return parameters_; }
    QRadioButton* ScopeButton() const { return scope_; }

public slots:
    void accept() override;

private:
    QRadioButton* all_;
    QRadioButton* parameters_;
    QRadioButton* scope_;
    int selection_;
};
