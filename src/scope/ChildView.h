#pragma once
#include <QWidget>
#include <cstdint>

struct QlnState;

// The scope view: the main window's client area. Drawing is done in a fixed logical space of
// 1280 x 960 units mapped onto the widget; a smaller widget shows the whole space squeezed, a
// larger one shows it at one unit per pixel in its top-left part.
class CChildView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLogicalWidth = 1280;
    static constexpr int kLogicalHeight = 960;

    explicit CChildView(QWidget* parent = nullptr);

    // The shared state whose recording the view shows (the set-up, the sample buffer, the fill
    // index and the display-update flag).
    void Attach(QlnState* s) { s_ = s; }
    // Start Acquisition: back to the full view of a new, empty recording; in roll mode the
    // acquisition marker starts at the right end.
    void ResetForAcquisition(bool roll);
    int MarkerSample() const { return marker_; }

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
    void DrawRecording(QPainter& p);

    QlnState* s_ = nullptr;
    int marker_ = -1; // the sample the acquisition marker stands at, -1: none
    bool roll_ = false;
    int screenClass_ = 1024;
    bool closing_ = false;
    bool grid_ = false;
};
