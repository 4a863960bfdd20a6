// Beside the multi-sensor map: how uniform the average energy and the ion flux are across the
// disc (mean, standard deviation, non-uniformity over the sensors the map counts as active).
#ifndef KALDER_PLOTS_MAPSTATISTICS_H
#define KALDER_PLOTS_MAPSTATISTICS_H

#include <QLabel>

class MultiSensorSpectrogramDisplay;

class mapStatistics : public QLabel {
    Q_OBJECT

public:
    // Follows the map's values from now on.
    explicit mapStatistics(MultiSensorSpectrogramDisplay* map, QWidget* parent = nullptr);

public slots:
    void refresh();

private:
    MultiSensorSpectrogramDisplay* map;
};

#endif  // KALDER_PLOTS_MAPSTATISTICS_H
