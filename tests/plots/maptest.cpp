// The map's values, scale and labels against hand arithmetic, its file output read back;
// which disc layout a data set is drawn with.
#include <gtest/gtest.h>
#include <qwt_plot_canvas.h>

#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <cmath>

#include "data/tarvodataset.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/spectrogramdata.h"
#include "qttestsupport.h"
#include "tempdir.h"

namespace {

using sensor = SpectrogramData::sensor;

TEST(SpectrogramData, ValuesAgainstHandArithmetic) {
    const sensor active1{{0, 0}, 10.0, true}, active2{{1, 0}, 20.0, true};
    const sensor inactive{{0, 1}, 30.0, false};
    struct Case {
        QVector<sensor> sensors;
        double x, y, interpolated, plain;
    } cases[] = {
        // Outside the disc (1.44 + 0.64 > 1.84): the bottom of the scale.
        {{active1, active2, inactive}, 1.2, 0.8, -4.0, -4.0},
        // Within 0.1 of a sensor: its own value, interpolation or not.
        {{active1, active2, inactive}, 0.05, 0.0, 10.0, 10.0},
        // On the inactive sensor: far below every scale.
        {{active1, active2, inactive}, 0.0, 0.95, -1000000.0, -1000000.0},
        // Half way: equal weights (the inactive sensor, 1.118 away, has none).
        {{active1, active2, inactive}, 0.5, 0.0, 15.0, -4.0},
        // A quarter of the way: weights 4^8 and (4/3)^8, a ratio of 3^8 = 6561.
        {{active1, active2, inactive}, 0.25, 0.0, 65630.0 / 6562.0, -4.0},
        // Out of reach (1.6 away from the one sensor): the bottom of the scale.
        {{active2}, -0.6, 0.0, -4.0, -4.0},
        // Nothing weighs in between inactive sensors: no division by zero.
        {{sensor{{0, 0}, 10.0, false}, sensor{{1, 0}, 20.0, false}}, 0.5, 0.0, -4.0, -4.0},
        // A value that is not a number counts as zero.
        {{sensor{{0, 0}, std::nan(""), true}, active2}, 0.5, 0.0, 10.0, -4.0},
    };
    for (const Case& c : cases) {
        for (const bool interpolate : {true, false}) {
            SpectrogramData d;
            d.setInterval(Qt::ZAxis, QwtInterval(-4.0, 20.0));
            d.setSensors(c.sensors);
            d.setInterpolation(interpolate);
            EXPECT_NEAR(d.value(c.x, c.y), interpolate ? c.interpolated : c.plain, 1e-9)
                << c.x << "," << c.y << " " << interpolate;
        }
    }
}

// A temperature recording of `n` thermistors, one row with the given values.
std::unique_ptr<tarvoDataSet> temperatures(const QVector<double>& values) {
    auto ds = std::make_unique<tarvoDataSet>(values.size(), 0, 2);
    ds->addTemperatureRow(values.constData(), 1.0, values.size(), 0);
    return ds;
}

TEST(MultiSensorMap, TemperatureLabelsScaleAndContours) {
    QVector<double> t(13, 25.0);
    t[2] = 31.26;   // centre
    t[7] = 21.5;    // coldest
    t[11] = 99.99;  // switched off below, not part of the scale
    auto ds = temperatures(t);
    MultiSensorSpectrogramDisplay display;
    display.resetDataSource(ds.get());
    ASSERT_EQ(display.nodes().size(), 13);
    EXPECT_EQ(display.dataType(), MultiSensorSpectrogramDisplay::Temperature);
    EXPECT_EQ(display.colourBarTitle(), QString::fromUtf8("Temperature °C"));

    display.toggleSensor(11);

    EXPECT_EQ(display.nodes()[2]->fluxLabel(), "T:31.3");
    EXPECT_EQ(display.nodes()[0]->fluxLabel(), "T:25");
    EXPECT_EQ(display.nodes()[11]->fluxLabel(), "OFF");

    // Minimum 21.5, maximum 31.26: the scale starts a fifth of the span lower.
    const double lower = 21.5 - 0.2 * 9.76;
    EXPECT_NEAR(display.zInterval().minValue(), lower, 1e-12);
    EXPECT_NEAR(display.zInterval().maxValue(), 31.26, 1e-12);
    const QList<double> levels = display.contourLevels();
    ASSERT_EQ(levels.size(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_NEAR(levels[i], 21.5 + i * 0.976, 1e-9) << i;
    }
    // The map: the centre sensor's value on it, the switched-off one far below.
    const SpectrogramData* data = display.rasterData();
    EXPECT_EQ(data->value(0.0, 0.0), 31.26);
    EXPECT_EQ(data->value(0.0, 1.2), SpectrogramData::INACTIVE_VALUE);

    // A fixed scale replaces minimum and maximum.
    display.setFixedScale(true, 50.0, 0.0);
    EXPECT_NEAR(display.zInterval().minValue(), -10.0, 1e-12);
    EXPECT_NEAR(display.zInterval().maxValue(), 50.0, 1e-12);
    display.setFixedScale(false, 50.0, 0.0);

    // All sensors alike still have a scale.
    auto alike = temperatures(QVector<double>(13, 25.0));
    display.resetDataSource(alike.get());
    EXPECT_LT(display.zInterval().minValue(), 25.0);
    EXPECT_EQ(display.zInterval().maxValue(), 25.0);
}

TEST(MultiSensorMap, RendersToFilesAndReportsAFailure) {
    QVector<double> t(13, 20.0);
    t[2] = 60.0;
    auto ds = temperatures(t);
    MultiSensorSpectrogramDisplay display;
    display.resize(600, 600);
    display.resetDataSource(ds.get());
    display.toggleInterpolation(true);
    TempDir dir;
    const QString base = QString::fromStdString(dir.path());

    const QString png = base + "/map.png";
    ASSERT_TRUE(display.renderToFile(png));
    QImage image(png);
    ASSERT_FALSE(image.isNull());
    const QSizeF page = MultiSensorSpectrogramDisplay::pageSize(600, 600);
    EXPECT_NEAR(image.width(), page.width() / 25.4 * 85, 1.0);
    EXPECT_NEAR(image.height(), page.height() / 25.4 * 85, 1.0);
    // The hot centre in the top colour, red; the cold edge in the low colours, blue.
    int reddish = 0, bluish = 0;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QColor c = image.pixelColor(x, y);
            reddish += c.red() > 200 && c.green() < 140 && c.blue() < 140;
            bluish += c.blue() > 180 && c.red() < 140;
        }
    }
    EXPECT_GT(reddish, 20);
    EXPECT_GT(bluish, 20);

    // The other types, recognised by how their files begin.
    const struct {
        const char* suffix;
        const char* magic;
    } types[] = {{"pdf", "%PDF"}, {"svg", "<?xml"}, {"bmp", "BM"}, {"ps", "%!PS-Adobe-3.0"}};
    for (const auto& t : types) {
        const QString path = base + "/map." + t.suffix;
        ASSERT_TRUE(display.renderToFile(path)) << t.suffix;
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.read(16).startsWith(t.magic)) << t.suffix;
    }
    EXPECT_FALSE(display.renderToFile(base + "/missing/dir/map.png"));

    // Saved from its own Save action to a place that cannot be written: the user
    // is told.
    const QString target = base + "/missing/dir/view.png";
    modalScript script;
    script.on([](QWidget* w) { return qobject_cast<QFileDialog*>(w) != nullptr; },
              [target](QWidget* w) {
                  auto* dialog = qobject_cast<QFileDialog*>(w);
                  dialog->selectFile(target);
                  QMetaObject::invokeMethod(dialog, "accept");
              });
    QString told;
    script.on([](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; },
              [&told](QWidget* w) {
                  told = qobject_cast<QMessageBox*>(w)->text();
                  qobject_cast<QMessageBox*>(w)->accept();
              });
    display.renderToFile();
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(told.contains(target)) << told.toStdString();
}

// The disc layout a data set is drawn with: its sensor code names it, whatever the channels;
// without a code, the channel count chooses.
TEST(SensorLayout, ChoiceByCodeAndChannelCount) {
    const struct { int code, channels, sensors; } cases[] = {{1, 17, 9}, {-1, 17, 17}};
    MultiSensorSpectrogramDisplay display;
    for (const auto& c : cases) {
        tarvoDataSet ds(c.channels, 4, c.code);
        display.resetDataSource(&ds);
        ASSERT_EQ(display.nodes().size(), c.sensors) << c.code;
        EXPECT_EQ(display.nodes()[c.sensors - 1]->sensorLabel(),
                  QStringLiteral("Snsr%1").arg(c.sensors));
        display.resetDataSource(nullptr);
    }
}

}  // namespace
