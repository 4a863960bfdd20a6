// Which disc layout a data set is drawn with, and the sensor nodes built from it.
#include <gtest/gtest.h>

#include <QStringList>
#include <cmath>

#include "data/tarvodataset.h"
#include "plots/multisensorspectrogramdisplay.h"
#include "plots/sensorlayout.h"

namespace {

// Collects the debug lines written while it lives.
class debugLog {
public:
    debugLog() { previous = qInstallMessageHandler(&debugLog::record); }
    ~debugLog() {
        qInstallMessageHandler(previous);
        lines().clear();
    }
    static QStringList& lines() {
        static QStringList l;
        return l;
    }

private:
    static void record(QtMsgType, const QMessageLogContext&, const QString& text) {
        lines().append(text);
    }
    QtMessageHandler previous;
};

TEST(SensorLayout, ChoiceByCodeAndChannelCount) {
    struct Case {
        int code, channels, record, sensors;
        bool logged;
    } cases[] =
        {
            {-1, 3, 2, 13, false},  // few channels: the first 13-sensor disc
            {-1, 4, 2, 13, false},
            {-1, 7, 0, 7, false},
            {-1, 9, 1, 9, false},
            {-1, 13, 2, 13, false},
            {-1, 17, 4, 17, false},
            {-1, 20, 0, 7, false},  // no disc with 20 sensors: record 0
            {-7, 5, 0, 7, false},
            {1, 3, 1, 9, false},  // a code names its record whatever the channels
            {1, 17, 1, 9, false},
            {3, 13, 3, 13, false},
            {5, 13, 5, 0, false},  // the terminating record: no sensors
            {6, 9, 1, 9, true},    // beyond the table: by channel count, logged
            {1000, 3, 2, 13, true},
            {6, 11, 0, 7, true},
        };
    for (const Case& c : cases) {
        debugLog log;
        const int record = chooseSensorLayout(c.code, c.channels);
        EXPECT_EQ(record, c.record) << c.code << " " << c.channels;
        ASSERT_GE(record, 0);
        ASSERT_LT(record, sensorLayouts().size());
        EXPECT_EQ(sensorLayouts()[record].count, c.sensors);
        EXPECT_EQ(!debugLog::lines().isEmpty(), c.logged) << c.code;
    }
}

TEST(SensorLayout, TableIsConsistent) {
    const QVector<sensorLayout>& table = sensorLayouts();
    ASSERT_EQ(table.size(), 6);
    EXPECT_EQ(table.last().count, 0);
    const int diameters[] = {150, 200, 300, 300, 450};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(table[i].positions.size(), table[i].count) << i;
        EXPECT_EQ(table[i].discDiameterMm, diameters[i]);
        // Every sensor lies on the disc, and no two share a place.
        for (int a = 0; a < table[i].count; ++a) {
            const QPointF p = table[i].positions[a];
            EXPECT_LT(p.x() * p.x() + p.y() * p.y(), 1.84) << i << " " << a;
            for (int b = a + 1; b < table[i].count; ++b) {
                const QPointF d = p - table[i].positions[b];
                EXPECT_GT(std::hypot(d.x(), d.y()), 0.3) << i << " " << a << " " << b;
            }
        }
    }
    // The 13-sensor discs have their third sensor in the centre.
    EXPECT_EQ(table[2].positions[2], QPointF(0, 0));
    EXPECT_EQ(table[3].positions[2], QPointF(0, 0));
    EXPECT_EQ(table[3].positions[5], QPointF(-1.25, 0));
}

TEST(SensorLayout, DisplayBuildsOneNodePerSensor) {
    struct Case {
        int code, channels, nodes;
    } cases[] = {{-1, 3, 13}, {1, 3, 9}, {5, 13, 0}, {-1, 7, 7}, {9, 17, 17}};
    MultiSensorSpectrogramDisplay display;
    for (const Case& c : cases) {
        tarvoDataSet ds(c.channels, 4, c.code);
        display.resetDataSource(&ds);
        ASSERT_EQ(display.nodes().size(), c.nodes) << c.code;
        for (int i = 0; i < c.nodes; ++i) {
            EXPECT_EQ(display.nodes()[i]->sensorLabel(), QStringLiteral("Snsr%1").arg(i + 1));
            EXPECT_EQ(display.nodes()[i]->position(),
                      sensorLayouts()[display.layoutIndex()].positions[i]);
        }
        display.resetDataSource(nullptr);
    }
}

}  // namespace
