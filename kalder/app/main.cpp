// The Kalder program: one main window, one sensor. `kalder [FILE.kdf]` opens a data file at
// start; with the program already running the file goes to that window instead.
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
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

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs scans on the sensor and shows, stores "
                       "and exports the measurements."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE.kdf"),
                                 QStringLiteral("A data file to open (the first one given)."),
                                 QStringLiteral("[FILE.kdf]"));
    parser.process(app);
    const QStringList files = parser.positionalArguments();
    const QString file = files.isEmpty() ? QString() : files.first();

    singleInstanceGuard guard;
    if (!guard.acquire(singleInstanceGuard::askUser, file)) {
        return 0;
    }
    mainWindow window;
    window.restoreLayout();
    window.show();
    // Files from later starts open here, except during a scan (Load is disabled then: the
    // data shown is the scan's own); the later start then asks as before and opens the file
    // in a window of its own.
    guard.listen([&window](const QString& path) {
        if (!window.action(QStringLiteral("actionLoad"))->isEnabled()) {
            return false;
        }
        QTimer::singleShot(0, &window, [&window, path] {
            window.raise();
            window.activateWindow();
            // Unsaved data shown is offered for saving first.
            window.openFile(path);
        });
        return true;
    });
    // Measurements of runs that never ended are offered once the window is up, then the file
    // named on the command line opens (and stays the one shown).
    QTimer::singleShot(0, &window, [&window, file] {
        QSettings settings;
        window.offerRecovery(recovery::searchDirectories(settings));
        if (!file.isEmpty()) {
            window.loadFile(file);
        }
    });
    return app.exec();
}
