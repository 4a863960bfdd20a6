#include "plots/plotrender.h"

#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace plotRender {

const char* const FILE_FILTER =
    "PDF (*.pdf);; SVG (*.svg);; PostScript (*.ps);; png (*.png) ;; Bitmap (*.bmp)";

QString askFileName(QWidget* parent, const QString& startPath) {
    return QFileDialog::getSaveFileName(parent, QStringLiteral("Select File Name"), startPath,
                                        QString::fromLatin1(FILE_FILTER));
}

QString screenshotPath(const QString& group) {
    QSettings settings;
    return settings.value(group + QStringLiteral("/screenshot"), QStringLiteral("./")).toString();
}

QString chooseFile(QWidget* parent, QString& lastPath, const QString& group) {
    const QString path = askFileName(parent, lastPath);
    if (!path.isEmpty()) {
        lastPath = path;
        QSettings settings;
        settings.setValue(group + QStringLiteral("/screenshot"), path);
    }
    return path;
}

bool render(QwtPlot* plot, const QString& path, const QSizeF& sizeMm, bool bare) {
    if (!plot || path.isEmpty()) {
        return false;
    }
    const QString format = QFileInfo(path).suffix().toLower();
    static const QStringList known{"pdf", "svg", "ps", "png", "bmp"};
    if (!known.contains(format)) {
        return false;
    }
    QwtPlotRenderer renderer;
    if (bare) {
        renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, true);
        renderer.setDiscardFlag(QwtPlotRenderer::DiscardCanvasFrame, true);
    }
    // The renderer reports nothing. It writes into a scratch file beside the target, which
    // replaces the target only when something was written: a failed render leaves an existing
    // file as it was and is reported.
    const QString scratch = path + QStringLiteral(".part");
    QFile::remove(scratch);
    renderer.renderDocument(plot, scratch, format, sizeMm, RESOLUTION_DPI);
    if (QFileInfo(scratch).size() <= 0) {
        QFile::remove(scratch);
        return false;
    }
    QFile::remove(path);
    return QFile::rename(scratch, path);
}

}  // namespace plotRender
