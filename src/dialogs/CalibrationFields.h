#pragma once
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QString>

#include "dialogs/CalibrationDialogRules.h"
#include "text/Texts.h"

// A value of the calibration record shown as an edit for the value to be written beside a
// read-only one for the value read, in a group of their own. Shared by the calibration dialogs.
struct CalibrationField {
    const char* group;
    unsigned caption;
    const char* setId;
    const char* readId;
    int32_t CalibrationData::*set;
    int32_t CalibrationData::*read;
    CalibrationFlag CalibrationData::*valid;
    bool isSigned;
    int32_t max; // the lower limit is 0
};

struct CalibrationFieldEdits {
    QLineEdit* set = nullptr;
    QLineEdit* read = nullptr;
};

inline CalibrationFieldEdits MakeCalibrationField(QWidget* parent, const CalibrationField& f,
                                                  const TextSource& texts, const QString& writeText,
                                                  const QString& readText) {
    const QString caption = QString::fromStdString(texts.Get(f.caption));
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(QString::fromLatin1(f.group));
    CalibrationFieldEdits e;
    e.set = new QLineEdit(group);
    e.set->setObjectName(QString::fromLatin1(f.setId));
    e.set->setAccessibleName(caption + " (" + writeText + ")");
    e.read = new QLineEdit(group);
    e.read->setObjectName(QString::fromLatin1(f.readId));
    e.read->setReadOnly(true);
    e.read->setAccessibleName(caption + " (" + readText + ")");
    auto* row = new QHBoxLayout(group);
    row->addWidget(e.set);
    row->addWidget(e.read);
    return e;
}

// The edit's text read into the working copy, limited, and written back with the caret at the end.
inline void ReadCalibrationField(QLineEdit* edit, const CalibrationField& f, CalibrationData& c) {
    std::string text = edit->text().toStdString();
    c.*f.set = f.isSigned ? ReadSignedField(text, 0, f.max) : ReadUnsignedField(text, f.max);
    edit->setText(QString::fromStdString(text));
    edit->end(false);
    edit->setModified(false);
}

inline void ShowCalibrationField(const CalibrationFieldEdits& e, const CalibrationField& f,
                                 const CalibrationData& c, const TextSource& texts) {
    e.set->setText(QString::number(c.*f.set));
    e.set->setModified(false);
    e.read->setText(QString::fromStdString(ReadValueText(c.*f.read, (c.*f.valid).value != 0, texts)));
}
