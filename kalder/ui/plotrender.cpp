#include "ui/plotrender.h"

#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QtMath>
#include <cstdio>

namespace plotRender {

const char* const FILTER =
    "PDF (*.pdf);; SVG (*.svg);; PostScript (*.ps);; png (*.png) ;; Bitmap (*.bmp)";

namespace {

constexpr double MM_PER_INCH = 25.4;

// The extension a filter entry such as " png (*.png) " offers.
QString extensionOf(const QString& filter) {
    const int star = filter.indexOf(QLatin1String("*."));
    if (star < 0) {
        return QString();
    }
    const int close = filter.indexOf(QLatin1Char(')'), star);
    return filter.mid(star + 2, close - star - 2).trimmed();
}

// Qt 5 has no PostScript output: the plot is drawn into an image at the requested resolution
// and written as one level 2 page showing that image at the requested size.
bool writePostScript(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMM, int dpi,
                     QwtPlotRenderer& renderer) {
    const QSize pixels = (sizeMM / MM_PER_INCH * dpi).toSize();
    if (pixels.isEmpty()) {
        return false;
    }
    QImage image(pixels, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(dpi * 1000.0 / MM_PER_INCH);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        renderer.render(plot, &painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    }

    const QSizeF points = sizeMM / MM_PER_INCH * 72.0;
    const int w = pixels.width();
    const int h = pixels.height();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray head;
    head += "%!PS-Adobe-3.0\n%%Creator: Kalder\n";
    head += QStringLiteral("%%BoundingBox: 0 0 %1 %2\n")
                .arg(qCeil(points.width()))
                .arg(qCeil(points.height()))
                .toLatin1();
    head += "%%Pages: 1\n%%EndComments\n%%Page: 1 1\ngsave\n";
    head += QStringLiteral("%1 %2 scale\n/line %3 string def\n")
                .arg(points.width(), 0, 'f', 2)
                .arg(points.height(), 0, 'f', 2)
                .arg(3 * w)
                .toLatin1();
    head += QStringLiteral("%1 %2 8 [%1 0 0 -%2 0 %2]\n").arg(w).arg(h).toLatin1();
    head += "{currentfile line readhexstring pop} false 3 colorimage\n";
    file.write(head);

    static const char HEX[] = "0123456789abcdef";
    QByteArray row;
    row.reserve(6 * w + 1);
    for (int y = 0; y < h; ++y) {
        const auto* pixel = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        row.clear();
        for (int x = 0; x < w; ++x) {
            for (const int value : {qRed(pixel[x]), qGreen(pixel[x]), qBlue(pixel[x])}) {
                row += HEX[value >> 4];
                row += HEX[value & 15];
            }
        }
        row += '\n';
        file.write(row);
    }
    file.write("grestore\nshowpage\n%%EOF\n");
    return file.commit();
}

}  // namespace

QString askFileName(QWidget* parent, const QString& start) {
    QString selected;
    QString name = QFileDialog::getSaveFileName(parent, QStringLiteral("Select File Name"), start,
                                                QString::fromLatin1(FILTER), &selected);
    if (name.isEmpty()) {
        return name;
    }
    static const QStringList KNOWN = {"pdf", "svg", "ps", "png", "bmp"};
    const QString extension = extensionOf(selected);
    if (!KNOWN.contains(QFileInfo(name).suffix().toLower()) && !extension.isEmpty()) {
        name += QLatin1Char('.') + extension;
    }
    return name;
}

bool toFile(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMM, int dpi,
            QwtPlotRenderer& renderer) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("ps")) {
        return writePostScript(plot, fileName, sizeMM, dpi, renderer);
    }
    // The renderer reports nothing: it writes a file beside the target, which replaces the
    // target only when it came out non-empty, so a failed render leaves an old file alone.
    QTemporaryFile part(fileName + QStringLiteral(".XXXXXX"));
    if (!part.open()) {
        return false;
    }
    part.close();
    renderer.renderDocument(plot, part.fileName(), suffix, sizeMM, dpi);
    if (QFileInfo(part.fileName()).size() <= 0) {
        return false;
    }
    QFile::setPermissions(part.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (std::rename(QFile::encodeName(part.fileName()).constData(),
                    QFile::encodeName(fileName).constData()) != 0) {
        return false;
    }
    part.setAutoRemove(false);
    return true;
}

bool toFile(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMM, int dpi) {
    QwtPlotRenderer renderer;
    return toFile(plot, fileName, sizeMM, dpi, renderer);
}

void reportFailure(QWidget* parent, const QString& fileName) {
    QMessageBox::warning(parent, QStringLiteral("Select File Name"),
                         QStringLiteral("The plot could not be written to %1.").arg(fileName));
}

}  // namespace plotRender
