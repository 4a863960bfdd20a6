// The Kalder program: one main window, one sensor.
#include <QApplication>
#include <QSettings>
#include <QTimer>

#include "data/recovery.h"
#include "ui/mainwindow.h"
#include "ui/singleinstance.h"

int main(int argc, char** argv) {
    // Sizes in device-independent pixels on high-density screens, with images to match.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    // A 150 % screen keeps 150 % (rounding it up to 200 % would leave the window too little
    // room).
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("corvane.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Kalder"));

    singleInstanceGuard guard;
    if (!guard.acquire()) {
        return 0;
    }
    mainWindow window;
    window.restoreLayout();
    window.show();
    // Measurements of runs that never ended are offered once the window is up.
    QTimer::singleShot(0, &window, [&window] {
        QSettings settings;
        window.offerRecovery(recovery::searchDirectories(settings));
    });
    return app.exec();
}
