#pragma once
#include <QFrame>
#include <array>
#include <optional>

#include "scope/StepResponse.h"

class QLabel;
class QLineEdit;
class TextSource;

// The step figures in the plot's upper area: "Step 2 of 3" and the figures of that step as label
// and value pairs, with the step's note; or, when the channels show no setpoint and flow, the
// sentence that says what the figures need. Each value is a read-only field named by its label, as
// the readout panel's are, so that screen readers and test automation read it as the user does.
class StepFiguresTable : public QFrame {
public:
    explicit StepFiguresTable(QWidget* parent);
    // Step `index` of `r`; hidden without one (no step, or the readout time before the first).
    void Show(const RecordingSteps& r, std::optional<size_t> index, const TextSource& texts);
    void Fit();

private:
    static constexpr size_t CELLS = 12;
    QLabel* title_;
    QLabel* note_;
    std::array<QLabel*, CELLS> labels_{};
    std::array<QLineEdit*, CELLS> values_{}; // read-only fields, named by their labels
};
