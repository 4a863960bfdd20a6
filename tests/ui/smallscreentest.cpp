// The main window and the dialogs on a 1280 x 720 screen: least sizes, the instrument panel's
// controls in view, the trace plot's share of the window, and the window layout kept from one
// start to the next (moved back onto the screen when it no longer fits).
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <memory>
#include <vector>

#include "datasetmaker.h"
#include "plots/tarvoplot.h"
#include "tempdir.h"
#include "ui/aboutdialog.h"
#include "ui/abouthardwaredialog.h"
#include "ui/datapropertiesdialog.h"
#include "ui/derivativechoicedialog.h"
#include "ui/graphcontrols.h"
#include "ui/instrumentpanel.h"
#include "ui/instrumentsettingsdialog.h"
#include "ui/maindataview.h"
#include "ui/mainwindow.h"
#include "ui/scanwizard.h"

namespace {

bool fitsSmallScreen(const QWidget* w) {
    const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
    return least.width() <= 1280 && least.height() <= 720;
}

class SmallScreen : public ::testing::Test {
protected:
    void SetUp() override { QSettings().clear(); }

    QList<int> splitterSizes(const mainWindow& w, const char* name) {
        return w.findChild<QSplitter*>(name)->sizes();
    }

    TempDir dir{true};  // the controller writes its log in the working directory
};

TEST_F(SmallScreen, EveryDialogFits) {
    mainWindow window(nullptr, false);
    // The largest forms: the time-resolved settings of the aspect-ratio family, a record of the
    // most probes, a data set of the most sensors with their temperature factors.
    scanWizard& wizard = window.panel()->wizard();
    wizard.settingsDialog().setAspectRatioFamily(true);
    wizard.settingsDialog().setTimeResolved(true);
    window.controller().nExtProbes = TolmarCntrl::MAX_TEMP_ROWS;
    instrumentSettingsDialog instrument(&window.controller());
    auto data = makeDataSet(1, 20);
    QVariantList factors;
    for (int i = 0; i < dataPropertiesDialog::MAX_FACTORS; ++i) {
        factors << 1.0;
    }
    for (const char* key : {"ionFluxFactor", "tempBeta", "tempRo", "tempRs"}) {
        data->settingsMap[key] = factors;
    }
    dataPropertiesDialog properties(data.get());
    AboutDialog about;
    aboutHardwareDialog hardware;
    derivativeChoiceDialog derivative;
    const std::vector<QWidget*> dialogs = {&wizard.selectionDialog(),
                                           &wizard.modeDialog(),
                                           &wizard.settingsDialog(),
                                           &wizard.preferences(),
                                           &window.panel()->idleDialog(),
                                           &instrument,
                                           &properties,
                                           &about,
                                           &hardware,
                                           &derivative,
                                           &window.exportDialog(),
                                           window.graphicControls()};
    for (QWidget* dialog : dialogs) {
        EXPECT_TRUE(fitsSmallScreen(dialog))
            << dialog->metaObject()->className() << " " << dialog->minimumSizeHint().width()
            << " x " << dialog->minimumSizeHint().height();
    }
}

TEST_F(SmallScreen, TheWindowFitsWithItsControlsInView) {
    mainWindow window(nullptr, false);
    EXPECT_TRUE(fitsSmallScreen(&window));
    window.resize(1280, 720);
    window.show();
    QApplication::processEvents();
    for (const char* name :
         {"idleVoltages", "enableHV", "setScanButton", "scanButton", "stopScanButton"}) {
        auto* control = window.panel()->findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr) << name;
        const QRect inWindow(control->mapTo(&window, QPoint(0, 0)), control->size());
        EXPECT_TRUE(window.rect().contains(inWindow)) << name;
        // Whole, not scrolled or clipped away.
        EXPECT_EQ(control->visibleRegion(), QRegion(control->rect())) << name;
    }

    // The trace plot has half the central area at least; with the monitor maximised it keeps
    // the height its axis titles need.
    QWidget* plot = window.dataView()->plot();
    EXPECT_GE(2 * plot->height(), window.centralWidget()->height());
    window.dataView()->switchPlotMode();
    QApplication::processEvents();
    EXPECT_GE(plot->height(), plot->minimumSizeHint().height());

    // The map keeps its square shape inside the low page, whole.
    window.dataView()->displayContour();
    QApplication::processEvents();
    auto* map = window.dataView()->findChild<QWidget*>("contourMap");
    EXPECT_EQ(map->width(), map->height());
    EXPECT_TRUE(map->parentWidget()->rect().contains(map->geometry()));

    // The tall service box scrolls within the panel instead of making the window taller.
    QMetaObject::invokeMethod(window.panel(), "toggleSecretDisplay");
    QApplication::processEvents();
    EXPECT_TRUE(fitsSmallScreen(&window));
}

TEST(WindowPlacement, FitOnScreen) {
    const QRect laptop(0, 0, 1366, 738);
    struct Case {
        QRect saved;
        QRect available;
        QRect fitted;
    };
    const Case cases[] = {
        {{100, 100, 800, 600}, laptop, {100, 100, 800, 600}},   // fits: unchanged
        {{0, 0, 1920, 1050}, laptop, {0, 0, 1366, 738}},        // from a larger monitor
        {{2000, 100, 800, 600}, laptop, {566, 100, 800, 600}},  // the second monitor gone
        {{-300, -50, 800, 600}, laptop, {0, 0, 800, 600}},      // above and left of it
        {{100, 0, 800, 800}, QRect(0, 30, 1366, 738), {100, 30, 800, 738}},  // task bar on top
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mainWindow::fitOnScreen(c.saved, c.available), c.fitted) << c.saved.x();
    }
}

TEST_F(SmallScreen, TheLayoutIsKeptFromOneStartToTheNext) {
    QList<int> work, plots;
    {
        mainWindow first(nullptr, false);
        first.restoreLayout();
        // The test screen is smaller than the size a first start asks for.
        EXPECT_TRUE(first.windowState() & Qt::WindowMaximized);
        first.show();
        QApplication::processEvents();
        first.findChild<QSplitter*>("workSplitter")->setSizes({600, 500});
        first.findChild<QSplitter*>("plotSplitter")->setSizes({300, 150});
        work = splitterSizes(first, "workSplitter");
        plots = splitterSizes(first, "plotSplitter");
        first.close();
    }
    EXPECT_TRUE(QSettings().contains("mainwindow/geometry"));
    {
        mainWindow second(nullptr, false);
        second.restoreLayout();
        second.show();
        QApplication::processEvents();
        EXPECT_TRUE(second.windowState() & Qt::WindowMaximized);
        EXPECT_EQ(splitterSizes(second, "workSplitter"), work);
        EXPECT_EQ(splitterSizes(second, "plotSplitter"), plots);
        // Left far outside the screen (a monitor since unplugged).
        second.setWindowState(Qt::WindowNoState);
        second.setGeometry(3000, 2000, 1150, 560);
        second.close();
    }
    mainWindow third(nullptr, false);
    third.restoreLayout();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(third.geometry().topLeft())) << third.geometry().x();
}

}  // namespace
