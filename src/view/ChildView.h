#pragma once
#include <QImage>
#include <QRegion>
#include <QWidget>
#include <array>
#include <cstdint>

#include "scope/ScopeMath.h"
#include "scope/StepResponse.h"
#include "view/ScopePlot.h"

struct QlnState;
class QLabel;
class QLineEdit;
class QPushButton;
class StepFiguresTable;

// The scope view: the main window's client area. It shows the last recording as curves, binary
// traces, axes and a legend, with a readout panel of every channel's value at a movable readout
// time, a rubber-band zoom, "Zoom Back", and a moving marker while an acquisition runs. Drawing
// is done in a fixed logical space of 1280 x 960 units mapped onto the widget; a smaller widget
// shows the whole space squeezed, a larger one shows it at one unit per pixel in its top-left
// part. The arithmetic lives in ScopeMath.h and the drawing in ScopePlot.h; this class keeps the
// view's state, its controls and the mouse.
class CChildView : public QWidget {
    Q_OBJECT
public:
    explicit CChildView(QWidget* parent = nullptr);
    // A view that is a window of its own loses the focus while QWidget's destructor closes it: its
    // fields must not call back into the view by then.
    ~CChildView() override;

    // The shared state whose recording the view shows (the set-up, the sample buffer, the fill
    // index and the display-update flag); the view starts with an 8 s set-up.
    void Attach(QlnState* s);
    // Start Acquisition: back to the full view of a new, empty recording; in roll mode the
    // acquisition marker starts at the right end and the readout time at 0.
    void ResetForAcquisition(bool roll);
    // New and Open Project: the time axis of the set-up as it is now.
    void ResetTimeAxis();
    // Reset Zoom and "Zoom Back": the whole recording at the default value range.
    void ResetZoom();
    // After the Scope Setup dialog: a changed set-up gets the full view; the period follows it.
    void AfterScopeSetup(bool changed);
    // The samples the last progress reported, -1 when no acquisition is running.
    int MarkerSample() const { return markerSample_; }

    void SetScreenClass(int screenClass);
    int ScreenClass() const { return screenClass_; }
    void SetClosing() { closing_ = true; }
    bool GridShown() const { return grid_; }
    void ToggleGrid();
    // The step figures: the table of the step at the readout time and the marks on the flow curve.
    bool StepFiguresShown() const { return stepFigures_; }
    void ShowStepFigures(bool on);
    const RecordingSteps& Steps() const { return steps_; }

    // The two acquisition notifications (48 progress, handled before the engine goes on; 49 ended).
    void OnAcquisitionProgress(intptr_t value);
    void OnAcquisitionEnded(intptr_t value);

    // Tab, Shift+Tab and Enter of the main window: move between the readout time field and "Zoom
    // Back", and take a typed readout time.
    void NextReadoutField();
    void PreviousReadoutField();
    void TakeReadoutCommand();

    const ScopeWindow& Window() const { return w_; }
    const ReadoutValues& Readout() const { return readout_; }
    // What the plot shows now, for printing and the exported picture.
    PlotInput CurrentPlot() const;
    ReadoutPanelInput CurrentPanel() const;
    // The view as drawn (plot and readout panel) at any size, for Export Picture.
    QImage RenderPicture(QSize size) const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void CreateControls();
    void PlaceControls();
    void RefreshPanel();
    void TakeReadoutValues();
    void TakeReadoutEntry();
    void MoveReadoutTime(double logicalX);
    void SyncWithSetup();
    // The figures of the recording, taken when it is complete (its end, a project opened) and
    // never while samples stream in; the table follows the readout time.
    void AnalyzeSteps();
    void RefreshStepTable();
    void FocusStop(int index);
    bool Acquiring() const;
    // The plot is rendered into cache_ and every expose is copied from there: a blinking cursor
    // or a tooltip costs a copy. What changed is rendered again: all of it when the picture's
    // inputs differ from cachedPlot_ (window, limits, grid, names, set-up, running) or after
    // InvalidatePlot() (new samples, size, colours), else only dirty_.
    void InvalidatePlot();
    void RenderPlot(const PlotInput& plot, const ClientScale& scale);
    std::optional<QPointF> Logical(QPointF device) const;
    QRect Device(const LogicalRect& r) const;
    LogicalRect DragRect() const;

    QlnState* s_ = nullptr;
    ScopeWindow w_;
    ReadoutValues readout_{};
    int32_t mode_ = 2;
    int marker_ = 0, previousMarker_ = 0;
    int markerSample_ = -1;
    bool grid_ = false;
    bool stepFigures_ = true;
    RecordingSteps steps_;
    int stepsFirst_ = 0; // the buffer index of the analysed range's first sample
    int screenClass_ = 1024;
    bool closing_ = false;
    bool zoomDrag_ = false, cursorDrag_ = false;
    QPointF dragStart_, dragNow_; // logical
    int focusIndex_ = 0;          // 0 the readout time field, 1 "Zoom Back"
    QImage cache_;
    QRegion dirty_; // device pixels of cache_ that no longer show the recording
    PlotInput cachedPlot_;

    std::array<QLabel*, 4> analogLabels_{};
    std::array<QLineEdit*, 4> analogFields_{};
    std::array<QLineEdit*, 4> binaryFields_{};
    QLabel* timeLabel_ = nullptr;
    QLineEdit* timeField_ = nullptr;
    QPushButton* zoomBack_ = nullptr;
    StepFiguresTable* stepTable_ = nullptr;
};
