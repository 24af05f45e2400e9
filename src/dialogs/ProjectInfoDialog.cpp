#include "dialogs/ProjectInfoDialog.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <utility>

#include "dialogs/CommonDialogRules.h"
#include "dialogs/MessageBox.h"
#include "text/Encoding.h"
#include "text/Texts.h"

namespace {
// Label text id, built-in label, and how many characters the record keeps.
struct FieldRow {
    unsigned labelText;
    const char* label;
    int maxLength;
};
const FieldRow ROWS[CProjectInfoDialog::FIELD_COUNT] = {
    {41, "File Name:", 29}, {42, "Project Name:", 24}, {43, "Project Version:", 6}, {45, "Name:", 29},
    {46, "Address:", 29},   {47, "City:", 29},         {48, "Phone / Fax:", 29},    {49, "Email:", 29},
};

QString FromRecord(const std::string& cp1252) {
    return QString::fromStdString(Cp1252ToUtf8(cp1252));
}
std::string ToRecord(const QString& text) {
    return Utf8ToCp1252(text.toStdString());
}

// The record's text field for a dialog field and its size; {nullptr, 0} for the version.
std::pair<char*, size_t> TextField(ProjectInfo& info, CProjectInfoDialog::Field f) {
    switch (f) {
    case CProjectInfoDialog::FILE_NAME:
        return {info.FileName, sizeof info.FileName};
    case CProjectInfoDialog::PROJECT_NAME:
        return {info.ProjectName, sizeof info.ProjectName};
    case CProjectInfoDialog::COMPANY:
        return {info.Company, sizeof info.Company};
    case CProjectInfoDialog::ADDRESS:
        return {info.Address, sizeof info.Address};
    case CProjectInfoDialog::CITY:
        return {info.City, sizeof info.City};
    case CProjectInfoDialog::PHONE:
        return {info.Phone, sizeof info.Phone};
    case CProjectInfoDialog::EMAIL:
        return {info.Email, sizeof info.Email};
    default:
        return {nullptr, 0};
    }
}
} // namespace

CProjectInfoDialog::CProjectInfoDialog(QWidget* parent, Mode mode, const ProjectInfo& info,
                                       const TextSource& texts, IMessageBox& messages)
    : QDialog(parent), original_(info), copy_(info), texts_(texts), messages_(messages) {
    setWindowTitle(QString::fromStdString(texts.Get(mode == Mode::New ? 29 : 30)));
    auto* project = new QGroupBox(QString::fromStdString(texts.Get(40)), this);
    auto* projectForm = new QFormLayout(project);
    auto* company = new QGroupBox(QString::fromStdString(texts.Get(44)), this);
    auto* companyForm = new QFormLayout(company);
    for (int i = 0; i < FIELD_COUNT; ++i) {
        const auto f = static_cast<Field>(i);
        auto* edit = new QLineEdit(this);
        edit->setMaxLength(ROWS[i].maxLength);
        const QString label = QString::fromStdString(texts.Get(ROWS[i].labelText));
        edit->setAccessibleName(label);
        edit->installEventFilter(this);
        if (f == VERSION) {
            edit->setValidator(
                new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
            edit->setText(QString::number(info.Version));
        } else {
            const auto [text, size] = TextField(copy_, f);
            edit->setText(FromRecord(std::string(text, strnlen(text, size))));
        }
        (i < COMPANY ? projectForm : companyForm)->addRow(label, edit);
        connect(edit, &QLineEdit::textEdited, this, [this, f] { OnEdited(f); });
        edits_[static_cast<size_t>(i)] = edit;
    }
    edits_[FILE_NAME]->setEnabled(mode == Mode::New);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(texts.Get(7)));
    buttons->button(QDialogButtonBox::Cancel)->setText(QString::fromStdString(texts.Get(39)));
    connect(buttons, &QDialogButtonBox::accepted, this, &CProjectInfoDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CProjectInfoDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(project);
    layout->addWidget(company);
    layout->addWidget(buttons);
    (mode == Mode::New ? edits_[FILE_NAME] : edits_[PROJECT_NAME])->setFocus();
}

void CProjectInfoDialog::OnEdited(Field f) {
    QLineEdit* edit = edits_[f];
    const std::string text = edit->text().toStdString();
    const auto bad = FindForbiddenCharacter(text);
    if (!bad) return;
    // The program's own texts: the message must be readable whatever a translation does.
    messages_.Show(TextSource::Builtin(IDS_CHARACTER_NOT_ALLOWED) + "\n'" + *bad + "'",
                   TextSource::Builtin(30), MbIcon::Exclamation);
    edit->setText(QString::fromStdString(RemoveCharacter(text, *bad)));
    edit->setCursorPosition(static_cast<int>(edit->text().size()));
}

void CProjectInfoDialog::StoreField(Field f) {
    QLineEdit* edit = edits_[f];
    if (f == VERSION) {
        copy_.Version = UnsignedFieldValue(edit->text().toStdString(), 999999);
        edit->setText(QString::number(copy_.Version));
        return;
    }
    std::string text = ToRecord(edit->text());
    if (f == FILE_NAME) {
        // Adjusted as the user typed it, so the field keeps the characters the record cannot hold.
        const std::string adjusted = AdjustExtension(edit->text().toStdString());
        edit->setText(QString::fromStdString(adjusted));
        text = Utf8ToCp1252(adjusted);
    }
    const auto [field, size] = TextField(copy_, f);
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

std::string CProjectInfoDialog::FileName() const {
    return edits_[FILE_NAME]->text().toStdString();
}

void CProjectInfoDialog::StoreAll() {
    for (int i = 0; i < FIELD_COUNT; ++i)
        StoreField(static_cast<Field>(i));
}

bool CProjectInfoDialog::Differs() const {
    return std::memcmp(&copy_, &original_, sizeof copy_) != 0;
}

void CProjectInfoDialog::accept() {
    StoreAll();
    changed_ = Differs();
    QDialog::accept();
}

void CProjectInfoDialog::reject() {
    StoreAll();
    if (Differs() && messages_.Show(TextSource::Builtin(IDS_DATA_CHANGED), TextSource::Builtin(30),
                                    MbIcon::Question, MbButtons::YesNo, MbResult::No) != MbResult::Yes)
        return;
    copy_ = original_;
    QDialog::reject();
}

bool CProjectInfoDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (int i = 0; i < FIELD_COUNT; ++i)
            if (watched == edits_[static_cast<size_t>(i)]) StoreField(static_cast<Field>(i));
    }
    return QDialog::eventFilter(watched, event);
}
