// Rendering a plot into an image or document file, shared by the plots that offer it.
#ifndef KALDER_PLOTS_PLOTRENDER_H
#define KALDER_PLOTS_PLOTRENDER_H

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QWidget;
class QwtPlot;

namespace plotRender {

// The file types a plot can be written as, for the file dialog.
extern const char* const FILE_FILTER;
constexpr int RESOLUTION_DPI = 85;

// Asks for the file to write, starting at startPath; a name without one of the offered
// extensions gets that of the chosen filter. Empty when the user cancels.
QString askFileName(QWidget* parent, const QString& startPath);

// The start path kept under settings group/"screenshot" (default "./").
QString screenshotPath(const QString& group);
// Asks for the file to write, starting at lastPath; a chosen file becomes lastPath and is
// kept under the settings group. Empty when the user cancels (nothing is stored then).
QString chooseFile(QWidget* parent, QString& lastPath, const QString& group);

// Renders the plot at sizeMm and RESOLUTION_DPI; the format follows the file name's suffix
// (pdf, svg, ps, png, bmp; PostScript holds the plot as an image). Without background and canvas
// frame when `bare` is set. False when the file could not be written.
bool render(QwtPlot* plot, const QString& path, const QSizeF& sizeMm, bool bare = false);

// Renders several plots on one page of sizeMm, each into its rectangle given as fractions of the
// page (0 to 1); same formats and failure rule as render().
struct panel {
    QwtPlot* plot;
    QRectF place;
};
bool renderPanels(const QList<panel>& panels, const QString& path, const QSizeF& sizeMm);

// Tells the user that the plot could not be written to path.
void reportFailure(QWidget* parent, const QString& path);

}  // namespace plotRender

#endif  // KALDER_PLOTS_PLOTRENDER_H
