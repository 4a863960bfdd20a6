// The Kalder program: one main window, one sensor.
#include <QApplication>

#include "ui/mainwindow.h"
#include "ui/singleinstance.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("corvane.com"));
    QCoreApplication::setApplicationName(QStringLiteral("Kalder"));

    singleInstanceGuard guard;
    if (!guard.acquire()) {
        return 0;
    }
    mainWindow window;
    window.show();
    return app.exec();
}
