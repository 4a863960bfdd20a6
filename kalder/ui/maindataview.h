// The central view of the main window: three pages (the trace plot with the ion-flux monitor,
// the multi-sensor contour map, the aspect-ratio view), the channel, scan and aspect-ratio
// selectors and the result labels. It owns the data set it shows, and saves and exports it.
#ifndef KALDER_UI_MAINDATAVIEW_H
#define KALDER_UI_MAINDATAVIEW_H

#include <QFrame>
#include <QList>
#include <QString>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLayout;
class QListWidget;
class QPushButton;
class QSplitter;
class QStackedWidget;
class MultiSensorSpectrogramDisplay;
class exportOptions;
class kalderDisplayV2;
class metaScanView;
class redrawLimiter;
class tarvoDataSet;
class tarvoPlot;
struct iedfPeaks;

class mainDataView : public QWidget {
    Q_OBJECT

public:
    enum Page { MainPlotPage = 0, ContourPage = 1, KalderPage = 2 };

    explicit mainDataView(QWidget* parent = nullptr);
    ~mainDataView() override;

    // Takes ownership of dataSet (deleting the one shown before), wires it and rebuilds the
    // selectors.
    void setDataSet(tarvoDataSet* dataSet);
    tarvoDataSet* dataSet() const { return data; }

    tarvoPlot* plot() const { return ivPlot; }
    metaScanView* fluxMonitor() const { return monitor; }
    MultiSensorSpectrogramDisplay* contourMap() const { return contour; }
    kalderDisplayV2* kalderView() const { return kalder; }
    int currentPage() const;
    QWidget* currentPageWidget() const;
    // The channels selected, zero-based, in list order.
    QList<int> selectedChannels() const;
    void selectChannels(const QList<int>& channels);
    bool singleChannelMode() const { return singleChannel; }
    void setChannelMode(bool single);
    int channelCount() const;
    int scanSelectorCount() const;
    QString averageEnergyText() const;
    QString ionFluxText() const;
    // The IEDF peaks of the channel shown in the results (rich text).
    QString peaksLabelText() const;
    static QString peaksText(const iedfPeaks& peaks);
    QString fluxUnitText() const;
    bool fluxMonitorMaximised() const { return plotView; }

    QString fileTarget() const { return saveTarget; }
    QString csvTarget() const { return csvPath; }
    QString matlabTarget() const { return matlabPath; }

    void readSettings();
    void storeSettings();

    // Runs the export options dialog, then asks for the target and writes CSV, MAT or HDF5.
    void exportData(exportOptions& options);
    // Saves to path (adds ".kdf" when the name has no extension); tells the user on failure.
    bool saveTo(const QString& path);

signals:
    void switchLegends();
    // The scan chosen in the scan selector (index into the data set's scans).
    void scanSelected(int index);

public slots:
    void displayContour();
    void displayMainPlot();
    void displayKalder();
    void updateCrop(int start, int end);
    void updateDisplays(bool newScan);
    void switchContourDataType(int type);
    void updateIonCorrectionFactor(double* factors, int chans);
    void updatePlotLabels(int channel);
    void selectMainScan(int index);
    void useGlobalScale(bool on);
    void spectrogramReleaseView();
    void renderToFile();
    void switchPlotMode();
    void switchAxisTitle(int title);

    // True when the data was written.
    bool saveASCurrentData();
    bool saveCurrentData();
    void toggleIVCurve(bool on);
    void toggleIEDFCurve(bool on);
    void changeDerivative(int method);
    void checkCurrentView();
    void useFixedContourScale(bool on, double maximum, double minimum);

    void nextChannel();
    void previousChannel();

private:
    // The constructor's steps: the controls column and the pages, each builder in the order
    // its widgets are laid out, then the wiring, the shortcuts and the state first shown.
    QLayout* buildControlColumn();
    QLayout* buildPageButtons();
    QGroupBox* buildResultsBox();
    QWidget* buildPages();
    QWidget* buildTracePage();
    QWidget* buildFluxMonitor();
    QWidget* buildContourPage();
    QLayout* buildContourBar();
    void connectControls();
    void connectViews();
    void addShortcuts();
    void showInitialState();

    void buildSelectors();
    void channelSelectionChanged();
    void applyPlotView();
    static int smallPaneHeight(QWidget* plot);
    // Redraws the views of the data now (the limiter calls it).
    void redrawViews();
    void showPage(Page page, QFrame::Shape frame);

    tarvoDataSet* data = nullptr;
    QString matlabPath;
    QString csvPath;
    QString hdf5Path;
    QString saveTarget;
    bool plotView = false;
    bool singleChannel = true;
    int contourDataType = 0;
    QString kalderScreenshot;

    QStackedWidget* stack;
    QButtonGroup* pageButtons;
    tarvoPlot* ivPlot;
    metaScanView* monitor;
    QWidget* monitorPane;
    QSplitter* plotSplitter;
    QPushButton* monitorToggle;
    QLabel* fluxUnitLabel;
    MultiSensorSpectrogramDisplay* contour;
    kalderDisplayV2* kalder;
    int arCount = 0;
    QListWidget* channelSelector;
    QComboBox* scanSelector;
    QComboBox* arSelector;
    QComboBox* contourTypeSelector;
    QComboBox* traceModeSelector;
    QComboBox* monitorValueSelector;
    QLabel* energyLabel;
    QLabel* fluxLabel;
    QLabel* peaksLabel;
    QCheckBox* peakMarkers;
    redrawLimiter* limiter;
};

#endif  // KALDER_UI_MAINDATAVIEW_H
