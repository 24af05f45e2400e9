#include "print/SelectPrintDialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "print/PrintLayout.h"
#include "text/Texts.h"

namespace {
// The dialog's own caption, replaced by the language library's text when it has one.
QString Caption(const TextSource& texts, unsigned id, const char* own) {
    const auto translated = texts.LibraryText(id);
    return QString::fromStdString(translated ? *translated : std::string(own));
}

QRadioButton* Radio(QWidget* parent, const QString& text, const char* id) {
    auto* b = new QRadioButton(text, parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setAccessibleName(QString(text).remove(QLatin1Char('&')));
    return b;
}
} // namespace

CSelectPrintDialog::CSelectPrintDialog(QWidget* parent, const TextSource& texts, int selection)
    : QDialog(parent), selection_(selection) {
    setWindowTitle(Caption(texts, 52, "Select Print Dialog"));
    auto* group = new QGroupBox(Caption(texts, 53, "Print Object"), this);
    group->setObjectName(QStringLiteral("1050"));
    group->setAccessibleName(group->title());
    all_ = Radio(group, Caption(texts, 54, "All"), "1051");
    parameters_ = Radio(group, Caption(texts, 55, "Parameters"), "1042");
    scope_ = Radio(group, Caption(texts, 56, "Scope View"), "1052");
    auto* column = new QVBoxLayout(group);
    column->addWidget(all_);
    column->addWidget(parameters_);
    column->addWidget(scope_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    ok->setText(Caption(texts, 7, "OK"));
    cancel->setText(Caption(texts, 39, "Cancel"));
    ok->setAccessibleName(ok->text());
    cancel->setAccessibleName(cancel->text());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);

    switch (InitialButton(selection)) {
    case PrintButton::All:
        all_->setChecked(true);
        break;
    case PrintButton::Parameters:
        parameters_->setChecked(true);
        break;
    case PrintButton::Scope:
        scope_->setChecked(true);
        break;
    }
}

void CSelectPrintDialog::accept() {
    selection_ = SelectionFromButtons(all_->isChecked(), parameters_->isChecked(), scope_->isChecked());
    QDialog::accept();
}
