#pragma once
#include <QByteArray>
#include <QPageLayout>
#include <QRectF>
#include <string>
#include <vector>

#include "print/PrintLayout.h"

class QPainter;
class QPagedPaintDevice;
class SampleBuffer;
class TextSource;
struct PlotInput;

// Paints the laid-out pages on any painter: a printer, a PDF writer, an image. Positions are the
// layout's device pixels of the printable area, so the same pages come out on every device.

// The plot of the recording on the curves page, inside `area` (device pixels), with the readout
// time where the view shows it.
void PaintCurvesPage(QPainter& painter, QRectF area, const PrintedCurves& curves,
                     const SampleBuffer& samples);

// What the window prints of its scope view: the view's window, limits, readout time and grid.
PrintedView PrintedViewOf(const PlotInput& shown);

// One page on a painter whose device's printable area is `page` (black text, white background).
void PaintPrintedPage(QPainter& painter, PageGeometry page, const PrintedPage& content,
                      const PrintProject& project);

// Every page in turn on an open painter of a paged device (a new sheet before each but the first).
void PaintDocument(QPainter& painter, QPagedPaintDevice& device, const std::vector<PrintedPage>& pages,
                   const PrintProject& project);

// The local date and time the page heads show.
PrintTime CurrentPrintTime();

// The sheet of a PDF written without a printer: A4 landscape with 5 mm margins, 600 dots per inch.
QPageLayout PdfPageLayout();
constexpr int PDF_RESOLUTION = 600;
constexpr const char* PRINT_DOCUMENT_NAME = "KVT-Print";

// The pages of a selection as a PDF document in memory; empty for a selection that prints nothing.
QByteArray RenderPdf(const PrintProject& project, int selection, const TextSource& texts,
                     const PrintTime& now, const QPageLayout& layout = PdfPageLayout(),
                     int resolution = PDF_RESOLUTION);

// Renders the PDF and writes it to `path` atomically (the old file stays whole on failure). False
// with the path and the reason in *error.
bool WritePdf(const std::string& path, const PrintProject& project, int selection, const TextSource& texts,
              const PrintTime& now, std::string* error, const QPageLayout& layout = PdfPageLayout(),
              int resolution = PDF_RESOLUTION);
