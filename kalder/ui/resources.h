// The program's images are compiled into the widget library; a static library's resources
// must be registered explicitly before the first widget that shows one is made.
#ifndef KALDER_UI_RESOURCES_H
#define KALDER_UI_RESOURCES_H

#include <QPixmap>
#include <QString>

namespace kalderResources {
// Registers the images once per process.
void init();
// The image at this resource path; on screens with more device pixels than pixels its
// double-size drawing ("@2x" before the extension) where there is one, so it stays sharp.
QPixmap pixmap(const QString& path);
}  // namespace kalderResources

#endif  // KALDER_UI_RESOURCES_H
