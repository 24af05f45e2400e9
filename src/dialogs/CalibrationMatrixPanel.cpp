#include "dialogs/CalibrationMatrixPanel.h"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/UserInput.h"
#include "text/Texts.h"

namespace {
constexpr unsigned TEXT_ARRAYS = 136;
constexpr unsigned TEXT_ROWS = 137;
constexpr unsigned TEXT_VALUES = 178;

struct Radio {
    const char* id;
    unsigned text;
};
// In array order.
constexpr Radio ARRAY_RADIOS[] = {{"1307", 93}, {"1308", 94}, {"1309", 95}, {"1132", 100},
                                  {"1321", 96}, {"1322", 97}, {"1142", 98}, {"1134", 99}};
// In row order: -20 °C ... -11 °C up to 70 °C ... 79 °C.
constexpr const char* ROW_RADIOS[] = {"1342", "1344", "1345", "1346", "1347",
                                      "1348", "1349", "1350", "1351", "1343"};
constexpr const char* SET_EDITS[] = {"1312", "1313", "1314", "1315", "1316",
                                     "1317", "1318", "1319", "1573", "1574"};
constexpr const char* READ_EDITS[] = {"1320", "1323", "1324", "1325", "1326",
                                      "1327", "1328", "1329", "1330", "1331"};
constexpr const char* LABELS[] = {"1332", "1333", "1334", "1335", "1336",
                                  "1337", "1338", "1339", "1340", "1341"};
constexpr int SET_EDIT_CHARS = 3;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString RowCaption(int row) {
    const int t = -20 + 10 * row;
    return QStringLiteral("%1 \u00B0C ... %2 \u00B0C").arg(t).arg(t + 9);
}
} // namespace

CCalibrationMatrixPanel::CCalibrationMatrixPanel(QWidget* parent, CalibrationWork& work,
                                                 const TextSource& texts, bool named)
    : QWidget(parent), work_(work), texts_(texts), named_(named) {
    auto* arrayGroup = new QGroupBox(Q(texts_.Get(TEXT_ARRAYS)), this);
    arrayGroup->setObjectName(QStringLiteral("1310"));
    auto* arrayColumn = new QVBoxLayout(arrayGroup);
    auto* arrayButtons = new QButtonGroup(this);
    for (size_t a = 0; a < arrays_.size(); ++a) {
        auto* r = new QRadioButton(Q(texts_.Get(ARRAY_RADIOS[a].text)), arrayGroup);
        r->setObjectName(QString::fromLatin1(ARRAY_RADIOS[a].id));
        arrayButtons->addButton(r);
        arrayColumn->addWidget(r);
        arrays_[a] = r;
    }
    auto* rowGroup = new QGroupBox(Q(texts_.Get(TEXT_ROWS)), this);
    rowGroup->setObjectName(QStringLiteral("1311"));
    auto* rowColumn = new QVBoxLayout(rowGroup);
    for (size_t r = 0; r < rows_.size(); ++r) {
        // Not exclusive: outside the sensor arrays no row is checked at all.
        auto* b = new QRadioButton(RowCaption(static_cast<int>(r)), rowGroup);
        b->setObjectName(QString::fromLatin1(ROW_RADIOS[r]));
        b->setAutoExclusive(false);
        rowColumn->addWidget(b);
        rows_[r] = b;
        // Checked or unchecked by the user, the row becomes the one checked row.
        connect(b, &QRadioButton::toggled, this, [this, r] {
            if (showing_) return;
            {
                const ProgramChange own(showing_);
                for (size_t i = 0; i < rows_.size(); ++i)
                    rows_[i]->setChecked(i == r);
            }
            OnSelectionClicked();
        });
    }
    OnUserChecked(arrayButtons, showing_, [this](int) { OnSelectionClicked(); });

    values_ = new QGroupBox(this);
    values_->setObjectName(QStringLiteral("1137"));
    auto* grid = new QGridLayout(values_);
    grid->addWidget(new QLabel(Q(texts_.Get(calibration_text::WRITE)), values_), 0, 1);
    grid->addWidget(new QLabel(Q(texts_.Get(calibration_text::READ)), values_), 0, 2);
    for (size_t j = 0; j < set_.size(); ++j) {
        const int line = static_cast<int>(j) + 1;
        labels_[j] = new QLabel(values_);
        labels_[j]->setObjectName(QString::fromLatin1(LABELS[j]));
        set_[j] = new QLineEdit(values_);
        set_[j]->setObjectName(QString::fromLatin1(SET_EDITS[j]));
        set_[j]->setMaxLength(SET_EDIT_CHARS);
        set_[j]->installEventFilter(this);
        read_[j] = new QLineEdit(values_);
        read_[j]->setObjectName(QString::fromLatin1(READ_EDITS[j]));
        read_[j]->setReadOnly(true);
        labels_[j]->setBuddy(set_[j]);
        grid->addWidget(labels_[j], line, 0);
        grid->addWidget(set_[j], line, 1);
        grid->addWidget(read_[j], line, 2);
    }

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(arrayGroup);
    layout->addWidget(rowGroup);
    layout->addWidget(values_);
}

int CCalibrationMatrixPanel::CheckedArray() const {
    for (size_t a = 0; a < arrays_.size(); ++a)
        if (arrays_[a]->isChecked()) return static_cast<int>(a);
    return work_.Array();
}

int CCalibrationMatrixPanel::CheckedRow() const {
    for (size_t r = 0; r < rows_.size(); ++r)
        if (rows_[r]->isChecked()) return static_cast<int>(r);
    return -1;
}

void CCalibrationMatrixPanel::StoreRow() {
    std::array<std::string, MATRIX_VALUES> texts;
    for (size_t j = 0; j < set_.size(); ++j)
        texts[j] = set_[j]->text().toStdString();
    texts = work_.StoreRow(texts);
    for (size_t j = 0; j < set_.size(); ++j)
        set_[j]->setText(Q(texts[j]));
}

void CCalibrationMatrixPanel::TakeSelection() {
    work_.Select(CheckedArray(), CheckedRow());
    Show();
}

void CCalibrationMatrixPanel::OnSelectionClicked() {
    StoreRow();
    TakeSelection();
    emit SelectionChanged();
}

void CCalibrationMatrixPanel::Show() {
    const ProgramChange shown(showing_);
    const int array = work_.Array();
    const int row = work_.Row();
    arrays_[static_cast<size_t>(array)]->setChecked(true);
    for (size_t r = 0; r < rows_.size(); ++r)
        rows_[r]->setChecked(array >= SENSOR_ARRAY_FIRST && static_cast<int>(r) == row);
    values_->setTitle(Q(texts_.Get(TEXT_VALUES)));
    const CalibrationData& c = work_.Data();
    const int32_t* setRow = c.SetMatrix[array][row];
    const int32_t* readRow = c.ReadMatrix[array][row];
    const bool valid = readRow[MATRIX_ROW_VALID] != 0;
    for (size_t j = 0; j < set_.size(); ++j) {
        const int i = static_cast<int>(j);
        const QString label = Q(MatrixValueLabel(array, row, i, named_));
        labels_[j]->setText(label);
        set_[j]->setText(QString::number(setRow[j]));
        set_[j]->setAccessibleName(label.trimmed() + " (" + Q(texts_.Get(calibration_text::WRITE)) + ")");
        read_[j]->setText(Q(ReadValueText(readRow[j], valid, texts_)));
        read_[j]->setAccessibleName(label.trimmed() + " (" + Q(texts_.Get(calibration_text::READ)) + ")");
    }
}

void CCalibrationMatrixPanel::ApplyEnabling(const CalibrationEnabling& e) {
    for (QRadioButton* a : arrays_)
        a->setEnabled(e.arrays);
    for (QRadioButton* r : rows_)
        r->setEnabled(e.rows);
    for (QLineEdit* s : set_)
        s->setEnabled(e.setValues);
}

bool CCalibrationMatrixPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        for (size_t j = 0; j < set_.size(); ++j) {
            if (watched != set_[j] || !set_[j]->isEnabled()) continue;
            std::string text = set_[j]->text().toStdString();
            work_.Data().SetMatrix[work_.Array()][work_.Row()][j] = ReadSignedField(text, 0, 255);
            set_[j]->setText(Q(text));
            set_[j]->end(false);
        }
    }
    return QWidget::eventFilter(watched, event);
}
