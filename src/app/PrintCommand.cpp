// Project > Print Project: the selection, Qt's print dialog, and the pages on the chosen printer
// or, for the dialog's print-to-file, into a PDF written as a whole.
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include "app/MainFrm.h"
#include "dialogs/MessageBox.h"
#include "engine/QlnState.h"
#include "print/PageRenderer.h"
#include "print/PrintLayout.h"
#include "print/SelectPrintDialog.h"
#include "text/Texts.h"
#include "view/ChildView.h"

std::optional<int> CMainFrame::AskPrintSelection() {
    CSelectPrintDialog dlg(this, Texts());
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.Selection();
}

bool CMainFrame::AskPrinter(QPrinter& printer) {
    QPrintDialog dlg(&printer, this);
    // No selection and no page range: the pages of a part belong together. Printing to a file
    // stays, because a PDF is what a service report is made of.
    dlg.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintCollateCopies |
                   QAbstractPrintDialog::PrintShowPageSize);
    return dlg.exec() == QDialog::Accepted;
}

void CMainFrame::OnPrintProject() {
    const std::optional<int> selection = AskPrintSelection();
    if (!selection) return;
    // Asked before a job is started, so that a selection of nothing leaves no empty document.
    if (*selection == PRINT_NONE) {
        messages_.Show(" Project, Project Print UNKNOWN", Texts().Get(IDS_APP_TITLE));
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromLatin1(PRINT_DOCUMENT_NAME));
    printer.setPageOrientation(QPageLayout::Landscape);
    if (!AskPrinter(printer)) return;
    // The pages are laid out for landscape, whatever the dialog was told.
    printer.setPageOrientation(QPageLayout::Landscape);

    const QString path =
        QFileInfo(QDir(QString::fromStdString(folder_)), QString::fromStdString(project_.path))
            .absoluteFilePath();
    const auto project = TakePrintSnapshot(s_, *file_, path.toStdString());
    // The curves page is what the view shows, as Export Picture's picture is.
    project->view = PrintedViewOf(view_->CurrentPlot());
    const PrintTime now = CurrentPrintTime();
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        std::string error;
        if (!WritePdf(printer.outputFileName().toStdString(), *project, *selection, Texts(), now, &error,
                      printer.pageLayout(), printer.resolution()))
            messages_.Show(error, Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        messages_.Show(Texts().Get(34), Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    const PageGeometry page{printer.width(), printer.height()};
    PaintDocument(painter, printer, LayoutPrint(*project, *selection, page, now, Texts()), *project);
    painter.end();
}
