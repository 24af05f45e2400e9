#include "print/PageRenderer.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>

#include "scope/SampleBuffer.h"
#include "system/AtomicFile.h"
#include "text/Texts.h"
#include "view/ScopePlot.h"

namespace {
QRectF CurvesArea(PageGeometry page, const PrintedCurves& curves) {
    return QRectF(CURVES_SIDE_MARGIN, CURVES_TOP, page.width - 2 * CURVES_SIDE_MARGIN,
                  page.height - CURVES_TOP - CURVES_BOTTOM_MARGIN - curves.stepsHeight);
}
} // namespace

// The curves page is the scope view's own plot, in the printed page's style (line styles instead
// of colours).
void PaintCurvesPage(QPainter& painter, QRectF area, const PrintedCurves& curves,
                     const SampleBuffer& samples) {
    PlotInput in;
    in.samples = &samples;
    in.window = curves.window;
    in.grid = curves.grid;
    in.cursor = false;
    in.analogNames = curves.analogNames;
    in.binaryNames = curves.binaryNames;
    in.analogShown = curves.analogShown;
    in.stepMarks = curves.stepMarks;
    const PlotStyle style = PrintPlotStyle();
    painter.save();
    // Nothing of the plot may run into the page's head above it.
    painter.setClipRect(area);
    PaintScopePlot(painter, area, in, style);
    PaintReadoutTime(painter, area, curves.readoutLabel, curves.readoutValue, style);
    painter.restore();
}

PrintedView PrintedViewOf(const PlotInput& shown) {
    return PrintedView{shown.window, shown.grid};
}

void PaintPrintedPage(QPainter& painter, PageGeometry page, const PrintedPage& content,
                      const PrintProject& project) {
    painter.save();
    painter.setPen(Qt::black);
    painter.setBackground(Qt::white);
    painter.setBackgroundMode(Qt::TransparentMode);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(std::max(1, page.LineHeight() * 3 / 4));
    // No ligatures: a PDF's text must read back as typed ("Offset", not a glyph for "ff").
    font.setStyleStrategy(QFont::PreferNoShaping);
    painter.setFont(font);
    // The layout gives each text's top; a painter places its baseline.
    const double ascent = QFontMetricsF(font, painter.device()).ascent();
    for (const PrintedText& t : content.texts)
        painter.drawText(QPointF(t.x, t.y + ascent), QString::fromStdString(t.text));
    if (content.kind == PageKind::Curves)
        PaintCurvesPage(painter, CurvesArea(page, content.curves), content.curves, *project.samples);
    painter.restore();
}

void PaintDocument(QPainter& painter, QPagedPaintDevice& device, const std::vector<PrintedPage>& pages,
                   const PrintProject& project) {
    const PageGeometry page{device.width(), device.height()};
    for (size_t i = 0; i < pages.size(); ++i) {
        if (i > 0) device.newPage();
        PaintPrintedPage(painter, page, pages[i], project);
    }
}

PrintTime CurrentPrintTime() {
    const QDateTime now = QDateTime::currentDateTime();
    return {now.date().day(), now.date().month(), now.date().year(), now.time().hour(), now.time().minute()};
}

QPageLayout PdfPageLayout() {
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(5, 5, 5, 5),
                       QPageLayout::Millimeter);
}

QByteArray RenderPdf(const PrintProject& project, int selection, const TextSource& texts,
                     const PrintTime& now, const QPageLayout& layout, int resolution) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setResolution(resolution);
        pdf.setPageLayout(layout);
        pdf.setTitle(QString::fromLatin1(PRINT_DOCUMENT_NAME));
        pdf.setCreator(QStringLiteral("qln"));
        const std::vector<PrintedPage> pages =
            LayoutPrint(project, selection, PageGeometry{pdf.width(), pdf.height()}, now, texts);
        if (pages.empty()) return {};
        QPainter painter;
        if (!painter.begin(&pdf)) return {};
        PaintDocument(painter, pdf, pages, project);
    }
    return bytes;
}

bool WritePdf(const std::string& path, const PrintProject& project, int selection, const TextSource& texts,
              const PrintTime& now, std::string* error, const QPageLayout& layout, int resolution) {
    const QByteArray pdf = RenderPdf(project, selection, texts, now, layout, resolution);
    if (pdf.isEmpty()) {
        if (error) *error = path + ": nothing to print";
        return false;
    }
    std::string reason;
    if (WriteFileAtomically(path, pdf.constData(), static_cast<size_t>(pdf.size()), &reason)) return true;
    if (error) *error = path + ": " + reason;
    return false;
}
