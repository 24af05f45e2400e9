#pragma once
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "dialogs/CalibrationDialogRules.h"
#include "dialogs/UserInput.h"
#include "text/Texts.h"

// What the calibration dialogs share: the value pairs of the calibration record, their buttons and
// the period of their enabling.

// Between the engine's notifications the dialogs bring their enabling up to date this often.
inline constexpr int CALIBRATION_ENABLING_MS = 1000;

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

// The outside temperature, alike in the calibration and the display calibration dialog.
inline constexpr CalibrationField OUTSIDE_TEMPERATURE_FIELD{.group = "1306",
                                                            .caption = 138,
                                                            .setId = "1136",
                                                            .readId = "1138",
                                                            .set = &CalibrationData::OutsideTemperatureSet,
                                                            .read = &CalibrationData::OutsideTemperatureRead,
                                                            .valid = &CalibrationData::TemperaturesValid,
                                                            .isSigned = true,
                                                            .max = 40};

struct CalibrationFieldEdits {
    QLineEdit* set = nullptr;
    QLineEdit* read = nullptr;
};

inline CalibrationFieldEdits MakeCalibrationField(QWidget* parent, const CalibrationField& f,
                                                  const TextSource& texts) {
    const QString caption = QString::fromStdString(texts.Get(f.caption));
    const QString writeText = QString::fromStdString(texts.Get(calibration_text::WRITE));
    const QString readText = QString::fromStdString(texts.Get(calibration_text::READ));
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

// The temperature group names its value: "Outside", in front of the edits.
inline void NameOutsideTemperature(const CalibrationFieldEdits& e, const TextSource& texts) {
    QWidget* group = e.set->parentWidget();
    auto* outside = new QLabel(QString::fromStdString(texts.Get(calibration_text::OUTSIDE)), group);
    outside->setObjectName(QStringLiteral("1352"));
    outside->setBuddy(e.set);
    static_cast<QHBoxLayout*>(group->layout())->insertWidget(0, outside);
}

// Enter presses none of the dialog's buttons.
inline QPushButton* MakeCalibrationButton(QWidget* parent, const char* id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(id));
    b->setAutoDefault(false);
    return b;
}

// Close, which stores the edits into the calibration record and closes, as its tip says.
inline QPushButton* MakeCalibrationClose(QWidget* parent, const TextSource& texts) {
    QPushButton* b =
        MakeCalibrationButton(parent, "2", QString::fromStdString(texts.Get(calibration_text::CLOSE)));
    b->setToolTip(QString::fromStdString(texts.Get(calibration_text::CLOSE_KEEPS)));
    return b;
}

// The edit's text read into the working copy, limited, and written back with the caret at the end.
inline void ReadCalibrationField(QLineEdit* edit, const CalibrationField& f, CalibrationData& c) {
    std::string text = edit->text().toStdString();
    c.*f.set = f.isSigned ? ReadSignedField(text, 0, f.max) : ReadUnsignedField(text, f.max);
    ShowProgramText(edit, QString::fromStdString(text));
    edit->end(false);
}

inline void ShowCalibrationField(const CalibrationFieldEdits& e, const CalibrationField& f,
                                 const CalibrationData& c, const TextSource& texts) {
    ShowProgramText(e.set, QString::number(c.*f.set));
    e.read->setText(QString::fromStdString(ReadValueText(c.*f.read, (c.*f.valid).value != 0, texts)));
}
