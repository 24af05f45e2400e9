#pragma once
#include <QColor>
#include <QRadioButton>

// A radio button with a background colour of its own: the parameter pages paint the button of the
// valve's value red when the edited value is another one.
class CColorButton : public QRadioButton {
    Q_OBJECT
public:
    static constexpr QColor GREY{210, 210, 210};
    static constexpr QColor RED{255, 0, 0};

    explicit CColorButton(const QString& text, QWidget* parent = nullptr);

    // Returns the previous colour.
    QColor SetColour(QColor background);
    QColor Colour() const { return background_; }

private:
    void ApplyPalette();

    QColor background_ = GREY;
};
