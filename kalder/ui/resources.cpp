#include "ui/resources.h"

#include <QGuiApplication>
#include <QtGlobal>

static void registerImages() {
    Q_INIT_RESOURCE(kalder);
}

namespace kalderResources {

void init() {
    static const bool registered = (registerImages(), true);
    (void)registered;
}

QPixmap pixmap(const QString& path) {
    init();
    if (qGuiApp && qGuiApp->devicePixelRatio() > 1.0) {
        QString sharp = path;
        sharp.insert(sharp.lastIndexOf(QLatin1Char('.')), QStringLiteral("@2x"));
        // The image reader gives a "@2x" file a device pixel ratio of 2.
        const QPixmap image(sharp);
        if (!image.isNull()) {
            return image;
        }
    }
    return QPixmap(path);
}

}  // namespace kalderResources
