#include "plots/mapstatistics.h"

#include <cmath>

#include "data/iedfanalysis.h"
#include "plots/multisensorspectrogramdisplay.h"

namespace {

QString number(double v, const QString& unit) {
    return std::isfinite(v) ? QStringLiteral("%1 %2").arg(v, 0, 'g', 4).arg(unit)
                            : QStringLiteral("-");
}

QString rows(const QString& title, const uniformity& u, const QString& unit) {
    const QString row = QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td></tr>");
    return QStringLiteral("<tr><td colspan=\"2\"><b>%1</b></td></tr>").arg(title) +
           row.arg(QStringLiteral("Mean"), number(u.mean, unit)) +
           row.arg(QStringLiteral("Std. deviation"), number(u.standardDeviation, unit)) +
           row.arg(QStringLiteral("Non-uniformity"),
                   std::isfinite(u.nonUniformity)
                       ? QStringLiteral("%1 %").arg(100 * u.nonUniformity, 0, 'f', 1)
                       : QStringLiteral("-"));
}

}  // namespace

mapStatistics::mapStatistics(MultiSensorSpectrogramDisplay* map, QWidget* parent)
    : QLabel(parent), map(map) {
    setObjectName(QStringLiteral("mapStatistics"));
    setAlignment(Qt::AlignTop | Qt::AlignLeft);
    setTextFormat(Qt::RichText);
    connect(map, &MultiSensorSpectrogramDisplay::valuesUpdated, this, &mapStatistics::refresh);
    refresh();
}

void mapStatistics::refresh() {
    const discUniformity d = map->statistics();
    if (d.energy.sensors == 0) {
        clear();
        return;
    }
    setText(
        QStringLiteral("<b>Across the disc</b><br>%1 active sensors<table>").arg(d.energy.sensors) +
        rows(QStringLiteral("Average Energy"), d.energy, QStringLiteral("eV")) +
        rows(QStringLiteral("Ion Flux"), d.flux, QString::fromUtf8("A/m\u00b2")) +
        QStringLiteral("</table><br>Non-uniformity: (max - min) / (2 mean)"));
}
