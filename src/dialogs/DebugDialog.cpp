#include "dialogs/DebugDialog.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

CDebugDialog::CDebugDialog(QWidget* parent, const std::atomic<uint32_t> (&vars)[kDebugVarCount])
    : QDialog(parent), vars_(vars) {
    setWindowTitle(QStringLiteral("Debug Dialog"));
    tabs_ = new QTabBar(this);
    for (int t = 0; t < 3; ++t)
        tabs_->addTab(QString::fromLatin1(DebugTabTitle(t)));

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* grid = new QGridLayout;
    for (int i = 0; i < kDebugRowsPerPage; ++i) {
        auto* label = new QLabel(this);
        label->setFont(fixed);
        auto* value = new QLineEdit(this);
        value->setReadOnly(true);
        value->setFont(fixed);
        value->setAlignment(Qt::AlignRight);
        value->setStyleSheet(QStringLiteral("QLineEdit { background: rgb(192,192,192); color: black; }"));
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("0x00000000 ")) + 16);
        labels_[static_cast<size_t>(i)] = label;
        values_[static_cast<size_t>(i)] = value;
        grid->addWidget(label, i, 0);
        grid->addWidget(value, i, 1);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &CDebugDialog::Tick);
    timer_->start();
    connect(tabs_, &QTabBar::currentChanged, this, &CDebugDialog::ShowPage);
    ShowPage(0);
}

void CDebugDialog::ShowPage(int tab) {
    first_ = tab >= 0 && tab < 3 ? tab * kDebugRowsPerPage : 0;
    for (int i = 0; i < kDebugRowsPerPage; ++i)
        labels_[static_cast<size_t>(i)]->setText(QString::fromStdString(DebugRowLabel(first_ + i)));
    // A new page shows the last values of the page before until they are painted, which is at once.
    for (QLineEdit* v : values_)
        v->clear();
    PaintValues();
}

void CDebugDialog::Tick() {
    for (const auto& v : vars_)
        if (v.load(std::memory_order_relaxed) != kDebugUnset) {
            PaintValues();
            return;
        }
}

void CDebugDialog::PaintValues() {
    for (int i = 0; i < kDebugRowsPerPage; ++i) {
        const uint32_t v = vars_[first_ + i].load(std::memory_order_relaxed);
        // A variable holding the marker value keeps what its field showed before.
        if (v != kDebugUnset)
            values_[static_cast<size_t>(i)]->setText(QString::fromStdString(DebugValueText(v)));
    }
}
