#pragma once
#include <QDialog>
#include <array>

#include "project/ProjectFile.h"

class IMessageBox;
class QLineEdit;
class TextSource;

// Project > New Project and Project > Project Info: the project's description. Works on a copy of
// the record; OK takes it over (and says whether anything changed), Cancel asks before dropping
// changes. In new mode the file name can be typed too.
class CProjectInfoDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { New, Info };
    enum Field { FILE_NAME, PROJECT_NAME, VERSION, COMPANY, ADDRESS, CITY, PHONE, EMAIL, FIELD_COUNT };

    CProjectInfoDialog(QWidget* parent, Mode mode, const ProjectInfo& info, const TextSource& texts,
                       IMessageBox& messages);

    const ProjectInfo& Info() const { return copy_; }
    bool Changed() const { return changed_; }
    QLineEdit* Edit(Field f) const { return edits_[f]; }
    // The file name as typed and adjusted (UTF-8); the record holds it in Windows-1252.
    std::string FileName() const;

    // Typing: a '|' or '#' is refused with a message and taken out again.
    void OnEdited(Field f);
    // Leaving a field stores it (the version as digits, the file name with the project extension).
    void StoreField(Field f);

public slots:
    void accept() override;
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void StoreAll();
    bool Differs() const;

    const ProjectInfo original_;
    ProjectInfo copy_;
    const TextSource& texts_;
    IMessageBox& messages_;
    std::array<QLineEdit*, FIELD_COUNT> edits_{};
    bool changed_ = false;
};
