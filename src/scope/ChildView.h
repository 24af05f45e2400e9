#pragma once
#include <QWidget>
#include <cstdint>

// The scope view: the main window's client area. Drawing is done in a fixed logical space of
// 1280 x 960 units mapped onto the widget; a smaller widget shows the whole space squeezed, a
// larger one shows it at one unit per pixel in its top-left part.
class CChildView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLogicalWidth = 1280;
    static constexpr int kLogicalHeight = 960;

    explicit CChildView(QWidget* parent = nullptr);

    void SetScreenClass(int screenClass) { screenClass_ = screenClass; }
    int ScreenClass() const { return screenClass_; }
    void SetClosing() { closing_ = true; }
    bool GridShown() const { return grid_; }
    void ToggleGrid();

    // The two acquisition notifications (48 progress, handled before the engine goes on; 49 ended).
    void OnAcquisitionProgress(intptr_t value);
    void OnAcquisitionEnded(intptr_t value);

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    int screenClass_ = 1024;
    bool closing_ = false;
    bool grid_ = false;
};
