#include "plots/sensorlayout.h"

#include <QDebug>

const QVector<sensorLayout>& sensorLayouts() {
    // The outer ring of the larger discs is the same eight positions at radius 1.2.
    static const QVector<sensorLayout> table = [] {
        const QVector<QPointF> outerRing{{-1.2, 0},         {-0.8485, -0.8485}, {0, -1.2},
                                         {0.8485, -0.8485}, {1.2, 0},           {0.8485, 0.8485},
                                         {0, 1.2},          {-0.8485, 0.8485}};
        QVector<sensorLayout> t;
        t.append({7,
                  150,
                  {1.35, 0.0},
                  {1.4, -0.7},
                  -0.4486,
                  {{0, 0},
                   {1.2, 0},
                   {0.6, 1.0392},
                   {-0.6, 1.0392},
                   {-1.2, 0},
                   {-0.6, -1.0392},
                   {0.6, -1.0392}}});
        t.append({9,
                  200,
                  {1.35, 0.0},
                  {1.4, -0.7},
                  -0.4486,
                  {{0, 0},
                   {1, 0},
                   {0.7071, 0.7071},
                   {0, 1},
                   {-0.7071, 0.7071},
                   {-1, 0},
                   {-0.7071, -0.7071},
                   {0, -1},
                   {0.7071, -0.7071}}});
        t.append({13,
                  300,
                  {-1.45, 0.0},
                  {-1.4, -0.7},
                  0.4486,
                  QVector<QPointF>{{0.8333, 0}, {0.4167, 0}, {0, 0}, {-0.4167, 0}, {-0.8333, 0}} +
                      outerRing});
        QVector<QPointF> second{{0.6, 0}, {0, 0.6}, {0, 0}, {0, -0.6}, {-0.6, 0}};
        second += outerRing;
        second[5] = QPointF(-1.25, 0);
        t.append({13, 300, {-1.45, 0.0}, {-1.4, -0.7}, 0.4486, second});
        t.append({17,
                  450,
                  {-1.45, 0.0},
                  {-1.4, -0.7},
                  0.4486,
                  {{0, 0},
                   {0.6, 0},
                   {0.4243, 0.4243},
                   {0, 0.6},
                   {-0.4243, 0.4243},
                   {-0.6, 0},
                   {-0.4243, -0.4243},
                   {0, -0.6},
                   {0.4243, -0.4243},
                   {1.2, 0},
                   {0.8485, 0.8485},
                   {0, 1.2},
                   {-0.8485, 0.8485},
                   {-1.2, 0},
                   {-0.8485, -0.8485},
                   {0, -1.2},
                   {0.8485, -0.8485}}});
        t.append({0, 0, {}, {}, 0.0, {}});
        return t;
    }();
    return table;
}

int chooseSensorLayout(int sensorCode, int nChannels) {
    const QVector<sensorLayout>& table = sensorLayouts();
    if (sensorCode >= table.size()) {
        qDebug() << Q_FUNC_INFO << "sensor code" << sensorCode
                 << "has no disc layout; choosing one by the channel count" << nChannels;
    } else if (sensorCode >= 0) {
        return sensorCode;
    }
    const int n = nChannels <= 4 ? 13 : nChannels;
    for (int i = 0; i < table.size(); ++i) {
        if (table[i].count == n) {
            return i;
        }
    }
    return 0;
}
