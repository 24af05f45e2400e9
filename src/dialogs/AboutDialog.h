#pragma once
#include <QDialog>
#include <string>

class QLabel;
class TextSource;

// The About box: logo, version text and build stamp.
class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    CAboutDialog(QWidget* parent, const TextSource& texts, const std::string& version,
                 const std::string& buildStamp);

    QLabel* VersionLabel() const { return version_; }
    QLabel* StampLabel() const { return stamp_; }

private:
    QLabel* version_;
    QLabel* stamp_;
};
