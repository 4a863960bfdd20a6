// The trace plot: curves per channel and mode with their colours, copies of the samples, reuse
// of the curve objects, axis modes, legend, prescan view, rendering to files.
#include <gtest/gtest.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_legenditem.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_scale_draw.h>

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <mutex>

#include "datasetmaker.h"
#include "plots/curvepalette.h"
#include "plots/kalderdisplayv2.h"
#include "plots/kalderplot.h"
#include "plots/tarvoplot.h"
#include "tempdir.h"

namespace {

QList<int> range(int n) {
    QList<int> list;
    for (int i = 0; i < n; ++i) {
        list << i;
    }
    return list;
}

QString title(const QwtPlotCurve* c) {
    return c->title().text();
}

class PlotTest : public ::testing::Test {
protected:
    tarvoPlot plot;
};

TEST_F(PlotTest, TwentyChannelsGetOnePairEachWithTitlesAndWrappedColours) {
    auto data = makeDataSet(20, 40);
    plot.setDataSet(data.get());
    plot.setCurrentChannel(range(20));
    ASSERT_EQ(plot.attachedCurveCount(), 40);
    const QList<QwtPlotCurve*> curves = plot.shownCurves();
    ASSERT_EQ(curves.size(), 40);
    for (int c = 0; c < 20; ++c) {
        const QwtPlotCurve* iv = curves[2 * c];
        const QwtPlotCurve* dide = curves[2 * c + 1];
        EXPECT_EQ(title(iv), QString("IV Ch%1").arg(c + 1));
        EXPECT_EQ(title(dide), QString("dI/dE Ch%1").arg(c + 1));
        EXPECT_EQ(iv->pen().color(), curvePalette::color((2 * c) % 26)) << c;
        EXPECT_EQ(dide->pen().color(), curvePalette::color((2 * c + 1) % 26)) << c;
        EXPECT_EQ(iv->yAxis(), QwtPlot::yLeft);
        EXPECT_EQ(dide->yAxis(), QwtPlot::yRight);
    }
    EXPECT_EQ(curves[26]->pen().color(), QColor(255, 0, 0));  // channel 14's IV
    EXPECT_EQ(plot.legendItem()->plotItems().size(), 40);
}

TEST_F(PlotTest, CurvesHoldCopiesOfTheCroppedSamples) {
    auto data = makeDataSet(1, 30);
    data->setCrop(2, 1);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    const QList<QwtPlotCurve*> curves = plot.shownCurves();
    ASSERT_EQ(curves.size(), 2);
    const QwtPlotCurve* iv = curves[0];
    const QwtPlotCurve* dide = curves[1];
    ASSERT_EQ(iv->dataSize(), 27u);
    ASSERT_EQ(dide->dataSize(), 21u);  // six points fewer than the cropped trace
    const ivTrace* average = data->sweepScans[0]->average;
    for (int i = 0; i < 27; ++i) {
        EXPECT_DOUBLE_EQ(iv->sample(i).y(), knownCurrent(0, 0, i + 2)) << i;
        EXPECT_DOUBLE_EQ(iv->sample(i).x(), average->energy[i + 2]) << i;
    }
    // dI/dE starts three points into the cropped trace, on the same energies.
    EXPECT_DOUBLE_EQ(dide->sample(0).x(), average->energy[5]);
    EXPECT_DOUBLE_EQ(dide->sample(0).y(), average->dIdERow(0)[5]);

    // Changing the trace afterwards (as the acquisition thread does) does not reach what the
    // plot paints until the next redraw.
    {
        std::lock_guard<std::mutex> lock(data->mutex);
        data->sweepScans[0]->average->currents[0][2] = 42.0;
    }
    EXPECT_DOUBLE_EQ(iv->sample(0).y(), knownCurrent(0, 0, 2));
    plot.updateDisplay();
    EXPECT_DOUBLE_EQ(plot.shownCurves()[0]->sample(0).y(), 42.0);
}

TEST_F(PlotTest, CurveObjectsAreReusedAcrossRedraws) {
    auto data = makeDataSet(13, 20);
    plot.setDataSet(data.get());
    plot.setCurrentChannel(range(13));
    const QList<QwtPlotCurve*> first = plot.shownCurves();
    plot.updateDisplay();
    EXPECT_EQ(plot.shownCurves(), first);
    plot.setCurrentChannel({4});
    EXPECT_EQ(plot.shownCurves(), first.mid(0, 2));
    plot.setCurrentChannel(range(13));
    EXPECT_EQ(plot.shownCurves(), first);
}

TEST_F(PlotTest, DisplayModesChooseTheTraces) {
    // Three sweeps in one scan (t = 0, 1, 2).
    auto data = makeDataSet(7, 20, 1, 3);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({1, 5});

    struct Case {
        int mode;
        int curves;
        int listed;
        int sweep;  // the sweep shown first for channel 1, -1 for the average
    };
    for (const Case& c :
         {Case{tarvoPlot::AverageTrace, 4, 4, -1}, Case{tarvoPlot::AllTraces, 12, 4, 0},
          Case{tarvoPlot::LatestTrace, 4, 4, 2}}) {
        plot.setCurrentMode(c.mode);
        const QList<QwtPlotCurve*> curves = plot.shownCurves();
        ASSERT_EQ(curves.size(), c.curves) << c.mode;
        int listed = 0;
        for (const QwtPlotCurve* curve : curves) {
            listed += curve->testItemAttribute(QwtPlotItem::Legend) ? 1 : 0;
        }
        EXPECT_EQ(listed, c.listed) << c.mode;
        EXPECT_EQ(plot.legendItem()->plotItems().size(), c.listed) << c.mode;
        if (c.sweep >= 0) {
            EXPECT_DOUBLE_EQ(curves[0]->sample(4).y(), knownCurrent(1, c.sweep, 4)) << c.mode;
        }
    }
    // Every trace of the scan: the unlisted pairs carry no title.
    plot.setCurrentMode(tarvoPlot::AllTraces);
    EXPECT_EQ(title(plot.shownCurves()[0]), "IV Ch2");
    EXPECT_EQ(title(plot.shownCurves()[2]), "");
}

TEST_F(PlotTest, ChannelListAndShowFlagsDecideWhatIsAttached) {
    auto data = makeDataSet(9, 20);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0, 3});
    EXPECT_EQ(plot.attachedCurveCount(), 4);
    plot.toggleIV(false);
    EXPECT_EQ(plot.attachedCurveCount(), 2);
    EXPECT_EQ(title(plot.shownCurves()[0]), "dI/dE Ch1");
    plot.toggleIEDF(false);
    EXPECT_EQ(plot.attachedCurveCount(), 0);
    EXPECT_TRUE(plot.legendItem()->plotItems().isEmpty());
    plot.toggleIV(true);
    plot.toggleIEDF(true);
    plot.setCurrentChannel({});
    EXPECT_EQ(plot.attachedCurveCount(), 0);
    EXPECT_TRUE(plot.shownCurves().isEmpty());
}

TEST_F(PlotTest, NoDataSetOrAnEmptyOneKeepsTheCurves) {
    auto data = makeDataSet(1, 20);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    tarvoDataSet empty(1, 4, -1);
    plot.setDataSet(&empty);
    plot.setCurrentChannel({0});
    EXPECT_EQ(plot.shownCurves().size(), 2);
    plot.setDataSet(nullptr);
    EXPECT_EQ(plot.shownCurves().size(), 2);
}

QString lastDebug;
void recordDebug(QtMsgType, const QMessageLogContext&, const QString& message) {
    lastDebug = message;
}

TEST_F(PlotTest, AScanWithoutAverageRemovesTheCurvesAndSaysSo) {
    auto data = makeDataSet(1, 20);
    // A second scan that has only prescan points so far: its average is still empty.
    const double currents[5] = {1e-9, 0, 0, 0, 0};
    data->addPrescanPoint(-5.0, 99.0, currents, 5);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    ASSERT_EQ(plot.attachedCurveCount(), 2);
    lastDebug.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordDebug);
    plot.setCurrentScan(1);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(lastDebug.contains("No Avg trace")) << lastDebug.toStdString();
    EXPECT_TRUE(plot.shownCurves().isEmpty());
}

TEST_F(PlotTest, EnergyAxisModesToggleAndResample) {
    struct Step {
        void (tarvoPlot::*toggle)();
        int mode;
        bool resampled;
        QString title;
    };
    // The bottom axis says when it counts samples instead of energies.
    const QString energy = "Ion Energy [eV]", index = "Sample Index";
    const std::vector<Step> steps = {
        {&tarvoPlot::toggleSimpleMode, tarvoPlot::EvenEnergy, true, energy},
        {&tarvoPlot::toggleSimpleMode, tarvoPlot::MeasuredEnergy, false, energy},
        {&tarvoPlot::toggleCheatingMode, tarvoPlot::SampleIndex, true, index},
        {&tarvoPlot::toggleCheatingMode, tarvoPlot::MeasuredEnergy, false, energy},
        {&tarvoPlot::toggleSimpleMode, tarvoPlot::EvenEnergy, true, energy},
        {&tarvoPlot::toggleCheatingMode, tarvoPlot::MeasuredEnergy, false, energy}};
    for (const Step& s : steps) {
        (plot.*s.toggle)();
        EXPECT_EQ(plot.energyAxisMode(), s.mode);
        EXPECT_EQ(plot.resampledAxis(), s.resampled);
        EXPECT_EQ(plot.axisTitle(QwtPlot::xBottom).text(), s.title);
    }

    auto data = makeDataSet(1, 21);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    const ivTrace* average = data->sweepScans[0]->average;
    const double first = average->energy[0];
    const double last = average->energy[20];
    plot.toggleSimpleMode();
    const QwtPlotCurve* iv = plot.shownCurves()[0];
    for (int i = 0; i < 21; ++i) {
        EXPECT_NEAR(iv->sample(i).x(), first + i * (last - first) / 21, 1e-9) << i;
    }
    plot.toggleSimpleMode();
    plot.toggleCheatingMode();
    iv = plot.shownCurves()[0];
    for (int i = 0; i < 21; ++i) {
        EXPECT_DOUBLE_EQ(iv->sample(i).x(), i);
    }
}

TEST(PlotZoom, ResetZoomReturnsToTheDataNotToTheEmptyPlot) {
    // Zoomed in before and after the data came: the right button goes back to the data's
    // extent (0 to 39 V here), never to the empty plot's 0 to 1000.
    for (const bool zoomFirst : {true, false}) {
        tarvoPlot fresh;
        fresh.resize(600, 400);
        auto data = makeDataSet(1, 40);
        if (zoomFirst) {
            fresh.primaryZoomer()->zoom(QRectF(100, 100, 50, 50));
        }
        fresh.setDataSet(data.get());
        fresh.setCurrentChannel({0});
        if (!zoomFirst) {
            fresh.primaryZoomer()->zoom(QRectF(5, 0, 10, 1e-8));
            EXPECT_LE(fresh.axisScaleDiv(QwtPlot::xBottom).upperBound(), 15.0);
        }
        QTest::mouseClick(fresh.canvas(), Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        const QwtScaleDiv x = fresh.axisScaleDiv(QwtPlot::xBottom);
        EXPECT_LE(x.lowerBound(), 0.0) << zoomFirst;
        EXPECT_GE(x.upperBound(), 39.0) << zoomFirst;
        EXPECT_LT(x.upperBound(), 100.0) << zoomFirst;
        EXPECT_LT(fresh.axisScaleDiv(QwtPlot::yLeft).upperBound(), 1e-6) << zoomFirst;
    }
}

TEST(EngineeringLabels, CurrentAxesUsePrefixes) {
    const struct {
        double value;
        const char* label;
    } cases[] = {{2e-7, "200n"}, {1.5e-6, "1.5\u00b5"}, {0.0, "0"},     {-3e-9, "-3n"},
                 {1e-12, "1p"},  {2.5, "2.5"},          {1500, "1.5k"}, {9.9996e-7, "1\u00b5"},
                 {4e-17, "0"},   {0.02, "20m"}};
    tarvoPlot plot;
    kalderDisplayV2 ar;
    kalderPlot single;
    const QwtScaleDraw* draws[] = {
        plot.axisScaleDraw(QwtPlot::yLeft), plot.axisScaleDraw(QwtPlot::yRight),
        ar.prescanPlot()->axisScaleDraw(QwtPlot::yLeft), single.axisScaleDraw(QwtPlot::yLeft)};
    for (const auto& c : cases) {
        for (const QwtScaleDraw* draw : draws) {
            EXPECT_EQ(draw->label(c.value).text(), QString::fromUtf8(c.label)) << c.value;
        }
    }
    // The titles stay as they are.
    EXPECT_EQ(plot.axisTitle(QwtPlot::yLeft).text(), "Ion Current [A]");
}

TEST_F(PlotTest, LegendSwitchesOffAndOn) {
    EXPECT_EQ(plot.legendItem()->plot(), &plot);
    plot.switchLegend();
    EXPECT_FALSE(plot.legendVisible());
    EXPECT_EQ(plot.legendItem()->plot(), nullptr);
    plot.switchLegend();
    EXPECT_TRUE(plot.legendVisible());
    EXPECT_EQ(plot.legendItem()->plot(), &plot);
}

TEST_F(PlotTest, GlobalScaleFixesTheLeftAxisToTheDataSetRange) {
    auto data = makeDataSet(1, 20, 2);
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    plot.toggleGlobalScale(true);
    EXPECT_FALSE(plot.axisAutoScale(QwtPlot::yLeft));
    EXPECT_FALSE(plot.axisAutoScale(QwtPlot::yRight));
    const QwtScaleDiv& left = plot.axisScaleDiv(QwtPlot::yLeft);
    // Smallest and largest current of every sweep: step 19 of the first, step 0 of the second.
    EXPECT_DOUBLE_EQ(left.lowerBound(), knownCurrent(0, 0, 19));
    EXPECT_DOUBLE_EQ(left.upperBound(), knownCurrent(0, 1, 0));
    plot.toggleGlobalScale(false);
    EXPECT_TRUE(plot.axisAutoScale(QwtPlot::yLeft));
}

TEST_F(PlotTest, PrescanViewShowsTheCurrentRowsOfThePrescan) {
    auto data = makeDataSet(1, 20);
    std::vector<double> currents(24, 0.0);
    for (int step = 0; step < 5; ++step) {
        for (int c = 0; c < 24; ++c) {
            currents[c] = (c + 1) * (step - 2) * 1e-9;
        }
        data->addPrescanPoint(step - 2.0, 0.0, currents.data(), 24);
    }
    plot.setDataSet(data.get());
    plot.setCurrentChannel({0});
    plot.showPreScan(true);
    // 24 prescan rows, the last four are voltages.
    ASSERT_EQ(plot.attachedCurveCount(), 20);
    const QwtPlotCurve* third = plot.shownCurves()[2];
    ASSERT_EQ(third->dataSize(), 5u);
    EXPECT_DOUBLE_EQ(third->sample(4).x(), 2.0);
    EXPECT_DOUBLE_EQ(third->sample(4).y(), 3 * 2 * 1e-9);
    plot.showPreScan(false);
    EXPECT_EQ(plot.attachedCurveCount(), 2);
}

TEST_F(PlotTest, RendersEachFormatWithItsMagic) {
    auto data = makeDataSet(13, 50);
    plot.setDataSet(data.get());
    plot.setCurrentChannel(range(13));
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> formats = {{"pdf", "%PDF-"},
                                                                      {"svg", "<?xml"},
                                                                      {"ps", "%!PS-Adobe-3.0"},
                                                                      {"png", "\x89PNG\r\n\x1a\n"},
                                                                      {"bmp", "BM"}};
    for (const auto& [suffix, magic] : formats) {
        const std::string path = dir.file("plot." + suffix);
        ASSERT_TRUE(plot.renderTo(QString::fromStdString(path))) << suffix;
        const std::string bytes = readWholeFile(path);
        ASSERT_GT(bytes.size(), 100u) << suffix;
        EXPECT_EQ(bytes.substr(0, magic.size()), magic) << suffix;
    }
    EXPECT_NE(readWholeFile(dir.file("plot.svg")).find("<svg"), std::string::npos);
    EXPECT_NE(readWholeFile(dir.file("plot.ps")).find("colorimage"), std::string::npos);
}

TEST_F(PlotTest, AFailedRenderLeavesAnExistingFileAlone) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.file("plot.nosuchformat"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old contents");
    file.close();
    EXPECT_FALSE(plot.renderTo(path));
    EXPECT_EQ(readWholeFile(path.toStdString()), "old contents");
    EXPECT_FALSE(plot.renderTo(QString::fromStdString(dir.file("missing/dir/plot.png"))));
}

}  // namespace
