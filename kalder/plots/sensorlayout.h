// Where the sensors of a carrier disc sit. The table is compiled in, one record per disc, and
// ends with a record of zero sensors. Positions are in disc units (the disc edge lies at about
// 1.35 from the centre).
#ifndef KALDER_PLOTS_SENSORLAYOUT_H
#define KALDER_PLOTS_SENSORLAYOUT_H

#include <QPointF>
#include <QVector>

struct sensorLayout {
    int count;  // sensors on the disc; 0 ends the table
    int discDiameterMm;
    QPointF cable;         // centre of the cable's square
    QPointF cableLabel;    // where "Cable" is written
    double cableRotation;  // radians
    QVector<QPointF> positions;
};

// The table, terminating record included.
const QVector<sensorLayout>& sensorLayouts();

// The record to show a data set with: a sensor code inside the table names its record (the
// terminating one included); otherwise the first record with as many sensors as the data set
// has channels (4 channels or fewer count as 13), record 0 when there is none. A code beyond
// the table is logged and treated like a negative one.
int chooseSensorLayout(int sensorCode, int nChannels);

#endif  // KALDER_PLOTS_SENSORLAYOUT_H
