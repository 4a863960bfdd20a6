// Rendering a plot into a document or image file, shared by every plot of the program.
#ifndef KALDER_UI_PLOTRENDER_H
#define KALDER_UI_PLOTRENDER_H

#include <QSizeF>
#include <QString>

class QWidget;
class QwtPlot;
class QwtPlotRenderer;

namespace plotRender {

// The file types offered, as the file dialog's filter.
extern const char* const FILTER;

// Asks for a file name with the dialog titled "Select File Name", starting at `start`. A name
// without one of the offered extensions gets the extension of the chosen filter. Empty when
// the user cancelled.
QString askFileName(QWidget* parent, const QString& start);

// Renders the plot on a page of sizeMM at `dpi`; the format follows the file's extension: pdf,
// svg, ps (PostScript, a level 2 page holding the plot as an image), or any image format Qt
// writes (png, bmp, ...). False when nothing usable was written.
bool toFile(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMM, int dpi,
            QwtPlotRenderer& renderer);
bool toFile(QwtPlot* plot, const QString& fileName, const QSizeF& sizeMM, int dpi);

// Reports a failed render to the user.
void reportFailure(QWidget* parent, const QString& fileName);

}  // namespace plotRender

#endif  // KALDER_UI_PLOTRENDER_H
