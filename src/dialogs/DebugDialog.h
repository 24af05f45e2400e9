#pragma once
#include <QDialog>
#include <array>
#include <atomic>
#include <cstdint>

#include "dialogs/DebugView.h"

class QLabel;
class QLineEdit;
class QTabBar;
class QTimer;

// The debug dialog: the engine's thirty debug variables in hexadecimal, ten per tab, following
// the engine every 100 ms. It only reads.
class CDebugDialog : public QDialog {
    Q_OBJECT
public:
    CDebugDialog(QWidget* parent, const std::atomic<uint32_t> (&vars)[kDebugVarCount]);

    int FirstVar() const { return first_; }
    QTabBar* Tabs() const { return tabs_; }
    QLabel* Label(int row) const { return labels_[static_cast<size_t>(row)]; }
    QLineEdit* Value(int row) const { return values_[static_cast<size_t>(row)]; }
    QTimer* Timer() const { return timer_; }
    // One timer tick.
    void Tick();

private:
    void ShowPage(int tab);
    void PaintValues();

    const std::atomic<uint32_t> (&vars_)[kDebugVarCount];
    int first_ = 0;
    QTabBar* tabs_;
    QTimer* timer_;
    std::array<QLabel*, kDebugRowsPerPage> labels_{};
    std::array<QLineEdit*, kDebugRowsPerPage> values_{};
};
