#include "plots/plotrender.h"

#include <qwt_plot.h>
#include <qwt_plot_renderer.h>

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSettings>
#include <QSvgGenerator>
#include <QtMath>
#include <functional>

namespace plotRender {

const char* const FILE_FILTER =
    "PDF (*.pdf);; SVG (*.svg);; PostScript (*.ps);; png (*.png) ;; Bitmap (*.bmp)";

namespace {

constexpr double MM_PER_INCH = 25.4;
const QStringList KNOWN{"pdf", "svg", "ps", "png", "bmp"};

// The extension a filter entry such as " png (*.png) " offers.
QString extensionOf(const QString& filter) {
    const int star = filter.indexOf(QLatin1String("*."));
    if (star < 0) {
        return QString();
    }
    const int close = filter.indexOf(QLatin1Char(')'), star);
    return filter.mid(star + 2, close - star - 2).trimmed();
}

// Draws the page's content into a painter, over the page's rectangle in device units.
using pagePainter = std::function<void(QPainter*, const QRectF&)>;

// The page as an image at the resolution (null when the size is empty).
QImage pageImage(const QSizeF& sizeMm, const pagePainter& paint) {
    const QSize pixels = (sizeMm / MM_PER_INCH * RESOLUTION_DPI).toSize();
    if (pixels.isEmpty()) {
        return QImage();
    }
    QImage image(pixels, QImage::Format_RGB32);
    const int dotsPerMeter = qRound(RESOLUTION_DPI * 1000.0 / MM_PER_INCH);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.fill(Qt::white);
    QPainter painter(&image);
    paint(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    return image;
}

// Qt 5 has no PostScript output: the page is drawn into an image at the resolution and
// written as one level 2 page that shows the image at the page size.
bool writePostScript(const QString& path, const QSizeF& sizeMm, const pagePainter& paint) {
    const QImage image = pageImage(sizeMm, paint);
    if (image.isNull()) {
        return false;
    }
    const QSize pixels = image.size();

    const QSizeF points = sizeMm / MM_PER_INCH * 72.0;
    const int w = pixels.width();
    const int h = pixels.height();
    // Written whole or not at all: an existing file stays until the new one is complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    QByteArray head = "%!PS-Adobe-3.0\n%%Creator: Kalder\n";
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

QString askFileName(QWidget* parent, const QString& startPath) {
    QString selected;
    QString path =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Select File Name"), startPath,
                                     QString::fromLatin1(FILE_FILTER), &selected);
    // A name typed without one of the offered extensions takes that of the chosen filter.
    const QString extension = extensionOf(selected);
    if (!path.isEmpty() && !KNOWN.contains(QFileInfo(path).suffix().toLower()) &&
        !extension.isEmpty()) {
        path += QLatin1Char('.') + extension;
    }
    return path;
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
    if (!KNOWN.contains(format)) {
        return false;
    }
    QwtPlotRenderer renderer;
    if (bare) {
        renderer.setDiscardFlag(QwtPlotRenderer::DiscardBackground, true);
        renderer.setDiscardFlag(QwtPlotRenderer::DiscardCanvasFrame, true);
    }
    if (format == QLatin1String("ps")) {
        return writePostScript(path, sizeMm, [&](QPainter* painter, const QRectF& page) {
            renderer.render(plot, painter, page);
        });
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

bool renderPanels(const QList<panel>& panels, const QString& path, const QSizeF& sizeMm) {
    const QString format = QFileInfo(path).suffix().toLower();
    if (panels.isEmpty() || path.isEmpty() || !KNOWN.contains(format) || sizeMm.isEmpty()) {
        return false;
    }
    QwtPlotRenderer renderer;
    const pagePainter paint = [&](QPainter* painter, const QRectF& page) {
        for (const panel& p : panels) {
            const QRectF place(page.left() + p.place.left() * page.width(),
                               page.top() + p.place.top() * page.height(),
                               p.place.width() * page.width(), p.place.height() * page.height());
            renderer.render(p.plot, painter, place);
        }
    };
    if (format == QLatin1String("ps")) {
        return writePostScript(path, sizeMm, paint);
    }
    // Written beside the target first, as render() does.
    const QString scratch = path + QStringLiteral(".part");
    QFile::remove(scratch);
    bool written = false;
    if (format == QLatin1String("pdf")) {
        QPdfWriter writer(scratch);
        writer.setPageSize(QPageSize(sizeMm, QPageSize::Millimeter));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(RESOLUTION_DPI);
        QPainter painter;
        if (painter.begin(&writer)) {
            paint(&painter, QRectF(QPointF(0, 0), QSizeF(writer.width(), writer.height())));
            written = painter.end();
        }
    } else if (format == QLatin1String("svg")) {
        const QSizeF pixels = sizeMm / MM_PER_INCH * RESOLUTION_DPI;
        QSvgGenerator generator;
        generator.setFileName(scratch);
        generator.setResolution(RESOLUTION_DPI);
        generator.setSize(pixels.toSize());
        generator.setViewBox(QRectF(QPointF(0, 0), pixels));
        QPainter painter;
        if (painter.begin(&generator)) {
            paint(&painter, QRectF(QPointF(0, 0), pixels));
            written = painter.end();
        }
    } else {
        const QImage image = pageImage(sizeMm, paint);
        written = !image.isNull() && image.save(scratch, format.toLatin1().constData());
    }
    if (!written || QFileInfo(scratch).size() <= 0) {
        QFile::remove(scratch);
        return false;
    }
    QFile::remove(path);
    return QFile::rename(scratch, path);
}

void reportFailure(QWidget* parent, const QString& path) {
    QMessageBox::warning(parent, QStringLiteral("Select File Name"),
                         QStringLiteral("The plot could not be written to %1.").arg(path));
}

}  // namespace plotRender
