#include "app/HelpWindow.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStringDecoder>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

#include "text/Texts.h"

namespace {
// A guide is some tens of kilobytes; a file this large is not one.
constexpr qint64 MAX_HELP_SIZE = 4 * 1024 * 1024;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// "&Find:" names the field for a screen reader without its mnemonic marker.
QString WithoutMnemonic(QString text) {
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}
} // namespace

CHelpWindow::CHelpWindow(QWidget* parent, const TextSource& texts) : QDialog(parent) {
    setWindowTitle(Q(texts.GetSilently(IDS_HELP_TITLE)) + QStringLiteral(" - QLN.HLP"));
    setModal(false);

    view_ = new QPlainTextEdit(this);
    view_->setReadOnly(true);
    // The guide is laid out in columns of blanks.
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    view_->setAccessibleName(windowTitle());

    const QString findText = Q(texts.GetSilently(IDS_HELP_FIND));
    auto* label = new QLabel(findText, this);
    find_ = new QLineEdit(this);
    find_->setObjectName(QStringLiteral("find"));
    find_->setAccessibleName(WithoutMnemonic(findText));
    label->setBuddy(find_);
    const QString nextText = Q(texts.GetSilently(IDS_HELP_FIND_NEXT));
    next_ = new QPushButton(nextText, this);
    next_->setAccessibleName(WithoutMnemonic(nextText));
    next_->setAutoDefault(false);
    connect(find_, &QLineEdit::returnPressed, this, &CHelpWindow::FindNext);
    connect(next_, &QPushButton::clicked, this, &CHelpWindow::FindNext);

    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(find_, 1);
    row->addWidget(next_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(row);

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->availableSize() : QSize(1024, 768);
    resize(std::min(area.width() * 3 / 5, 900), area.height() * 4 / 5);
}

bool CHelpWindow::Load(const std::string& path, std::string* error) {
    QFile file(Q(path));
    if (!QFileInfo(file).isFile()) {
        *error = path + ": not a file";
        return false;
    }
    if (file.size() > MAX_HELP_SIZE) {
        *error = path + ": too large for a help file";
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + ": " + file.errorString().toStdString();
        return false;
    }
    const QByteArray bytes = file.read(MAX_HELP_SIZE + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = path + ": " + file.errorString().toStdString();
        return false;
    }
    // Damaged bytes show as replacement characters rather than hiding the rest of the guide.
    QStringDecoder utf8(QStringDecoder::Utf8);
    view_->setPlainText(utf8(bytes));
    view_->moveCursor(QTextCursor::Start);
    return true;
}

bool CHelpWindow::FindNext() {
    const QString wanted = find_->text();
    if (wanted.isEmpty()) return false;
    if (view_->find(wanted)) return true;
    const QTextCursor kept = view_->textCursor();
    view_->moveCursor(QTextCursor::Start);
    if (view_->find(wanted)) return true;
    view_->setTextCursor(kept);
    return false;
}
