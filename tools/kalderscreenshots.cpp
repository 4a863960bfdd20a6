// Takes screenshots of the program for the documentation and for checking how it looks: the
// main window after a scan on the virtual sensor, the scan wizard's dialogs and every other
// dialog, as PNG files in the directory given.
//   kalder-screenshots <directory>
// With --first-start NAME only the main window, placed on the screen as at a first start of the
// program: NAME-first-start.png once the sensor is connected, NAME-scan.png after a scan.
//   kalder-screenshots <directory> --first-start <name>
// It runs with a private settings store, so the user's settings stay as they are.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "acquisition/sensorhandler.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/exportoptions.h"
#include "ui/graphcontrols.h"
#include "ui/idlevoltagesdialog.h"
#include "ui/instrumentpanel.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/preferencesdialog.h"
#include "ui/scanwizard.h"

namespace {

QString outputDir;
int failures = 0;

// Processes events until done() or the time is up.
bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return true;
}

void settle() {
    waitFor([] { return false; }, 300);
}

void save(QWidget* w, const QString& name) {
    settle();
    const QString path = QDir(outputDir).filePath(name + QStringLiteral(".png"));
    if (!w->grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

// Shows a dialog without running its own event loop, takes its picture and closes it.
void shoot(QDialog& dialog, const QString& name) {
    dialog.show();
    dialog.raise();
    save(&dialog, name);
    dialog.close();
}

// The panel's message boxes go to the standard error stream instead of waiting for a click.
struct printingNotifier : userNotifier {
    void warning(QWidget*, const QString& title, const QString& text) override {
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(text));
    }
    void critical(QWidget* parent, const QString& title, const QString& text) override {
        warning(parent, title, text);
    }
};

// Closes the window; the measurement the pictures were taken of is not kept, so the question
// about unsaved data is answered "Discard".
void closeDiscarding(mainWindow& window) {
    QTimer::singleShot(0, &window, [&window] {
        if (auto* box = window.findChild<QMessageBox*>(QStringLiteral("unsavedDataBox"))) {
            box->button(QMessageBox::Discard)->click();
        }
    });
    window.close();
}

// Runs the scan a newcomer's first click on the instrument panel's Re-Scan button runs: the
// settings a first start gives (nothing stored), and waits for its end.
bool runScan(mainWindow& window) {
    bool done = false;
    QObject::connect(window.panel(), &instrumentPanel::scanDone, [&] { done = true; });
    window.panel()->findChild<QPushButton*>(QStringLiteral("scanButton"))->click();
    return window.dataView()->dataSet() != nullptr && waitFor([&] { return done; }, 300000);
}

// The main window as a first start shows it on this screen, before and after a scan.
int firstStart(const QString& name) {
    mainWindow window;
    printingNotifier notifier;
    window.panel()->setNotifier(&notifier);
    window.restoreLayout();
    window.show();
    if (!waitFor([&] { return window.handler()->isConnected(); }, 30000)) {
        std::fprintf(stderr, "no sensor connected\n");
        return 1;
    }
    save(&window, name + QStringLiteral("-first-start"));
    if (!runScan(window)) {
        std::fprintf(stderr, "the scan did not finish\n");
        return 1;
    }
    save(&window, name + QStringLiteral("-scan"));
    closeDiscarding(window);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool firstStartOnly = argc == 4 && qstrcmp(argv[2], "--first-start") == 0;
    if (argc != 2 && !firstStartOnly) {
        std::fprintf(stderr, "usage: %s <directory> [--first-start <name>]\n", argv[0]);
        return 2;
    }
    outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outputDir);

    QTemporaryDir store;
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Kalder"));
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, store.path());
    if (firstStartOnly) {
        return firstStart(QString::fromLocal8Bit(argv[3]));
    }
    mainWindow window;
    printingNotifier notifier;
    window.panel()->setNotifier(&notifier);
    window.resize(1280, 800);
    window.show();
    if (!waitFor([&] { return window.handler()->isConnected(); }, 30000)) {
        std::fprintf(stderr, "no sensor connected\n");
        return 1;
    }
    settle();
    save(&window, QStringLiteral("main-window-connected"));
    if (!runScan(window)) {
        std::fprintf(stderr, "the scan did not finish\n");
        return 1;
    }
    window.findChild<QAction*>(QStringLiteral("actionMulti_Channel_Select"))->setChecked(true);
    window.dataView()->selectChannels({0, 1, 2, 3, 4, 5, 6});
    save(&window, QStringLiteral("main-window"));

    // The scan wizard of the panel, configured for the unit.
    scanWizard& wizard = window.panel()->wizard();
    wizard.readSettings();
    shoot(wizard.selectionDialog(), QStringLiteral("wizard-1-selection"));
    shoot(wizard.modeDialog(), QStringLiteral("wizard-2-mode"));
    // As the wizard shows it for a standard time-averaged scan.
    wizard.settingsDialog().setAspectRatioFamily(wizard.aspectRatioFamily());
    wizard.settingsDialog().setTimeResolved(false);
    wizard.settingsDialog().adjustSize();
    shoot(wizard.settingsDialog(), QStringLiteral("wizard-3-settings"));
    shoot(wizard.preferences(), QStringLiteral("preferences"));

    shoot(window.panel()->idleDialog(), QStringLiteral("idle-voltages"));
    instrumentSettingsDialog instrument(&window.controller());
    shoot(instrument, QStringLiteral("instrument-settings"));
    aboutHardwareDialog hardware;
    hardware.setSensorTitle(window.controller().kalderSensor ? QStringLiteral("Kalder Sensor")
                                                             : QStringLiteral("Tarvo Sensor"));
    hardware.setDesc(window.description());
    shoot(hardware, QStringLiteral("instrument-information"));
    AboutDialog about;
    shoot(about, QStringLiteral("about"));
    dataPropertiesDialog properties(window.dataView()->dataSet());
    shoot(properties, QStringLiteral("data-properties"));
    derivativeChoiceDialog derivative;
    shoot(derivative, QStringLiteral("derivative-options"));
    exportOptions exportDialog;
    shoot(exportDialog, QStringLiteral("export-options"));
    graphControls* graphics = window.graphicControls();
    graphics->show();
    save(graphics, QStringLiteral("graphical-options"));
    graphics->hide();

    closeDiscarding(window);
    return failures == 0 ? 0 : 1;
}
