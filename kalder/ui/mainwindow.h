// The program's main window. It owns the one TolmarCntrl object of the program and wires the
// sensor handler, the instrument panel, the data view and the dialogs together: menus and
// actions, the banner, the status bar and the file actions.
#ifndef KALDER_UI_MAINWINDOW_H
#define KALDER_UI_MAINWINDOW_H

#include <QActionGroup>
#include <QMainWindow>
#include <QUrl>
#include <functional>
#include <memory>

#include "tolmar2/TolmarCntrl.h"
#include "ui/exportoptions.h"

namespace Ui {
class mainWindow;
}

class QFrame;
class QLabel;
class QMenu;
class graphControls;
class instrumentPanel;
class mainDataView;
class sensorHandler;
class tarvoDataSet;
class topBanner;

class mainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Opens documents and web pages (the desktop's default programs); tests replace it.
    using UrlOpener = std::function<bool(const QUrl&)>;
    static void setUrlOpener(UrlOpener opener);

    // The maker's web site.
    static const char* const WEB_SITE;

    // With pollSensor false no sensor handler is made (tests of the window alone).
    explicit mainWindow(QWidget* parent = nullptr, bool pollSensor = true);
    ~mainWindow() override;

    TolmarCntrl& controller() { return cntrl; }
    mainDataView* dataView() const;
    topBanner* banner() const;
    instrumentPanel* panel() const;
    sensorHandler* handler() const { return sensor.get(); }
    graphControls* graphicControls() const { return graphics; }
    exportOptions& exportDialog() { return exportOpts; }
    QString description() const { return systemDescription; }
    QString lastFile() const { return lastOpenFile; }
    // The status-bar labels, in the order they were added.
    QList<QLabel*> statusLabels() const;
    QAction* action(const QString& objectName) const;
    // The files opened last, newest first (at most RECENT_FILES; settings group "mainwindow").
    QStringList recentFiles() const;
    static constexpr int RECENT_FILES = 10;
    // True when nothing shown is lost by replacing it: the data was saved (or there is none),
    // or the user saved it now or chose to discard it. False when the user cancelled.
    bool confirmDiscard();
    // Asks about unsaved data first, then loads the file.
    bool openFile(const QString& path);
    // The user guide found by help(): the working directory, the installed documentation,
    // the program's own directory; empty when there is none.
    static QString userGuidePath();

    // Restores the window's geometry, state and splitter positions saved at the last close
    // (settings group "mainwindow"), moved and shrunk onto the screen when they no longer fit
    // it; on a first start sizes the window to the screen. Called before the window is shown.
    void restoreLayout();
    // The frame rectangle moved and, where larger, shrunk to lie inside the available area.
    static QRect fitOnScreen(const QRect& frame, const QRect& available);

    // Offers each run found in these directories that never ended (the program crashed or was
    // killed while scanning): "Yes" saves its data as an ordinary data file beside it
    // ("recovered_" and the recovery file's name, ending in .kdf), removes
    // the recovery file and shows the data; "Discard" removes it; "No" leaves it for the next
    // start. Runs whose process still runs are left alone. Returns the count recovered.
    int offerRecovery(const QStringList& directories);

public slots:
    void scanAdvancement(int percentage);
    void scanNumber(int nbr);
    void ARCounter(double ratio);
    // Loads a data file into the view; false (with the "Invalid File" warning) when it cannot
    // be read, leaving the data shown as it was. A file cut short shows what was complete
    // before the cut, after a "Truncated File" warning naming it and the scans recovered.
    bool loadFile(const QString& path);

private slots:
    void changeDerivative();
    void loadData();
    void saveASCurrentDataSet();
    void saveCurrentData();
    void sensorConnected();
    void newScanStarted(tarvoDataSet* dataSet);
    void scanDone();
    void exportData();
    void graphControlDisplay(bool b);
    void graphControlDisplay();
    void about();
    void aboutHw();
    void preferences();
    void sensorDisconnected();
    void corvaneWebsite();
    void aboutData();
    void help();
    void syncFreq(double freq, int code);
    void updateDuration(double seconds);
    void setChannelMode(bool);

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    bool acceptTruncated(const tarvoDataSet& data, const QString& path);
    void setFileActionsEnabled(bool on);
    void placeAccentLines();
    void storeLayout();
    QMargins frameMargins() const;
    void updateTitle(bool virtualSensor);
    // The title with the name of the file shown (or of unsaved measured data).
    void refreshTitle();
    void rememberRecent(const QString& path);
    void buildRecentMenu();

    // Wires the instrument panel (the column at the right) to the window, the banner and the
    // sensor handler.
    void connectInstrumentPanel();

    std::unique_ptr<Ui::mainWindow> ui;
    TolmarCntrl cntrl;
    std::unique_ptr<sensorHandler> sensor;
    exportOptions exportOpts;
    graphControls* graphics;
    QLabel* fileNameLabel;
    QLabel* syncLabel;
    QLabel* durationLabel;
    QLabel* progressLabel;
    QLabel* scanNumberLabel;
    QString systemDescription;
    QActionGroup channelModes;
    QString lastOpenFile;
    QFrame* topLine;
    QFrame* bottomLine;
    QMenu* recentMenu;
    bool virtualLink = false;
};

#endif  // KALDER_UI_MAINWINDOW_H
