#include "dialogs/AboutDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/Artwork.h"
#include "text/Texts.h"

CAboutDialog::CAboutDialog(QWidget* parent, const TextSource& texts, const std::string& version,
                           const std::string& buildStamp)
    : QDialog(parent) {
    setWindowTitle(QString::fromStdString(texts.Get(114)));
    auto* logo = new QLabel(this);
    logo->setPixmap(ProgramLogo());
    logo->setAlignment(Qt::AlignCenter);

    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(32, 32));

    auto* caption = new QLabel(
        QString::fromStdString(texts.HasLibrary() ? texts.Get(115) : std::string("Program Version")), this);
    caption->setObjectName(QStringLiteral("1270"));
    version_ = new QLabel(QString::fromStdString(version), this);
    version_->setObjectName(QStringLiteral("1045"));
    stamp_ = new QLabel(QString::fromStdString(buildStamp), this);
    stamp_->setObjectName(QStringLiteral("1046"));
    stamp_->setVisible(!buildStamp.empty());
    auto* maker = new QLabel(
        QStringLiteral("Quillon Software\nService tool for proportional flow-control valves"), this);

    auto* grid = new QGridLayout;
    grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(caption, 0, 1);
    grid->addWidget(version_, 0, 2);
    grid->addWidget(stamp_, 1, 2);
    grid->addWidget(maker, 2, 1, 1, 2);
    grid->setColumnStretch(2, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QString::fromStdString(texts.HasLibrary() ? texts.Get(7) : std::string("OK")));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(logo);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
