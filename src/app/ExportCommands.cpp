// Export Recording (CSV) and Export Picture (PNG): the recording as qln-cli writes it, with the
// signal names, and the view as drawn at a chosen size. Both files are written atomically; a
// failure is said with the path and the reason.
#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QImage>
#include <QSpinBox>
#include <sstream>

#include "app/MainFrm.h"
#include "dialogs/MessageBox.h"
#include "engine/QlnState.h"
#include "scope/Acquisition.h"
#include "scope/RecordingCsv.h"
#include "system/AtomicFile.h"
#include "text/Texts.h"
#include "view/ChildView.h"

namespace {
constexpr unsigned IDS_EXPORT_RECORDING = 450, IDS_EXPORT_PICTURE = 451, IDS_CSV_FILES = 452,
                   IDS_PNG_IMAGES = 453, IDS_EXPORT_FAILED = 454, IDS_WIDTH = 455, IDS_HEIGHT = 456;
constexpr int DEFAULT_WIDTH = 1600, DEFAULT_HEIGHT = 1200, LARGEST_SIDE = 10000;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The name the user chose, with the extension added when it has none.
std::string WithSuffix(const QString& chosen, const char* suffix) {
    QString path = chosen;
    if (QFileInfo(chosen).suffix().isEmpty()) path += QString::fromLatin1(".") + QString::fromLatin1(suffix);
    return path.toStdString();
}
} // namespace

QString CMainFrame::AskExportPath(const QString& caption, const QString& proposed, const QString& filter) {
    return QFileDialog::getSaveFileName(this, caption, proposed, filter);
}

QSize CMainFrame::AskPictureSize() {
    QDialog dlg(this);
    dlg.setWindowTitle(Q(Texts().GetSilently(IDS_EXPORT_PICTURE)));
    auto* form = new QFormLayout(&dlg);
    QSpinBox* sides[2] = {new QSpinBox(&dlg), new QSpinBox(&dlg)};
    const unsigned labels[2] = {IDS_WIDTH, IDS_HEIGHT};
    const int defaults[2] = {DEFAULT_WIDTH, DEFAULT_HEIGHT};
    for (int i = 0; i < 2; ++i) {
        sides[i]->setRange(100, LARGEST_SIDE);
        sides[i]->setValue(defaults[i]);
        sides[i]->setAccessibleName(Q(Texts().GetSilently(labels[i])));
        form->addRow(Q(Texts().GetSilently(labels[i])), sides[i]);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    form->addRow(buttons);
    if (dlg.exec() != QDialog::Accepted) return {};
    return {sides[0]->value(), sides[1]->value()};
}

bool CMainFrame::WriteExport(const std::string& path, const std::string& bytes) {
    std::string reason;
    if (WriteFileAtomically(path, bytes.data(), bytes.size(), &reason)) return true;
    messages_.Show(FillPlaceholders(Texts().GetSilently(IDS_EXPORT_FAILED), {path, reason}),
                   Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
    return false;
}

void CMainFrame::OnExportRecording() {
    const QString base = QFileInfo(Q(project_.path)).completeBaseName();
    const QString chosen =
        AskExportPath(Q(Texts().GetSilently(IDS_EXPORT_RECORDING)), base + QStringLiteral(".csv"),
                      Q(Texts().GetSilently(IDS_CSV_FILES)) + QStringLiteral(" (*.csv)"));
    if (chosen.isEmpty()) return;
    const ScopeSetup setup = CheckedForRecording(CopyScopeSetup(s_));
    const bool roll = setup.Mode == 2;
    const RecordedRange range = RecordedRangeOf(roll, s_.FillIndex.load(), s_.SamplesReceived.load());
    const PlotInput plot = view_->CurrentPlot();
    std::array<std::string, 8> names;
    for (size_t c = 0; c < 4; ++c) {
        names[c] = plot.analogNames[c];
        names[c + 4] = plot.binaryNames[c];
    }
    std::ostringstream csv;
    WriteCsv(s_.samples, range, roll ? SamplePeriod(setup.SampleRateIndex) : SamplePeriod(0), csv, &names);
    WriteExport(WithSuffix(chosen, "csv"), csv.str());
}

void CMainFrame::OnExportPicture() {
    const QString base = QFileInfo(Q(project_.path)).completeBaseName();
    const QString chosen =
        AskExportPath(Q(Texts().GetSilently(IDS_EXPORT_PICTURE)), base + QStringLiteral(".png"),
                      Q(Texts().GetSilently(IDS_PNG_IMAGES)) + QStringLiteral(" (*.png)"));
    if (chosen.isEmpty()) return;
    const QSize size = AskPictureSize();
    if (size.isEmpty()) return;
    const QImage picture = view_->RenderPicture(size.boundedTo(QSize(LARGEST_SIDE, LARGEST_SIDE)));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    const std::string path = WithSuffix(chosen, "png");
    if (!picture.save(&buffer, "PNG")) {
        messages_.Show(FillPlaceholders(Texts().GetSilently(IDS_EXPORT_FAILED), {path, "PNG"}),
                       Texts().Get(IDS_APP_TITLE), MbIcon::Exclamation);
        return;
    }
    WriteExport(path, png.toStdString());
}
