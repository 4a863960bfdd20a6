#include "ui/datapropertiesdialog.h"

#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <mutex>

#include "data/tarvodataset.h"
#include "ui/scrolling.h"

namespace {

QString plural(int n, const QString& one, const QString& many) {
    return (n == 1 ? one : many).arg(n);
}

QString entry(const QVariantMap& map, const char* key, const char* fallback) {
    const QVariant v = map.value(QLatin1String(key));
    return v.isValid() ? v.toString() : QString::fromLatin1(fallback);
}

QGroupBox* newGroup(QVBoxLayout* layout, const QString& title) {
    auto* box = new QGroupBox(title);
    box->setLayout(new QVBoxLayout);
    layout->addWidget(box);
    return box;
}

// The temperature factors of each sensor, read-only: a row per sensor, a column per factor.
QGroupBox* temperatureFactors(const QVariantMap& map) {
    auto* tempBox = new QGroupBox(QStringLiteral("Temperature Factors"));
    auto* tempGrid = new QGridLayout(tempBox);
    const QStringList keys = {QStringLiteral("tempBeta"), QStringLiteral("tempRo"),
                              QStringLiteral("tempRs")};
    const QStringList headers = {QStringLiteral("Sensor"), QStringLiteral("Beta"),
                                 QStringLiteral("Ro"), QStringLiteral("Rs")};
    for (int c = 0; c < headers.size(); ++c) {
        tempGrid->addWidget(new QLabel(QStringLiteral("<b>%1</b>").arg(headers[c])), 0, c);
    }
    int tempRows = 0;
    for (const QString& key : keys) {
        tempRows = std::max(tempRows, int(map.value(key).toList().size()));
    }
    tempRows = std::min(tempRows, dataPropertiesDialog::MAX_FACTORS);
    for (int r = 0; r < tempRows; ++r) {
        tempGrid->addWidget(new QLabel(QString::number(r + 1)), r + 1, 0);
        for (int c = 0; c < keys.size(); ++c) {
            const QVariantList values = map.value(keys[c]).toList();
            tempGrid->addWidget(
                new QLabel(r < values.size() ? QString::number(values[r].toDouble()) : "-"), r + 1,
                c + 1);
        }
    }
    return tempBox;
}

}  // namespace

// What the dialog shows of the data set's state, read under its lock.
struct dataPropertiesDialog::scanFacts {
    QVariantMap map;
    int kind = 0;
    int scans = 0;
    int traces = 0;
    bool multi = false;
};

dataPropertiesDialog::dataPropertiesDialog(tarvoDataSet* dataSet, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Scan Properties"));
    // Scan, sensor and file on the left, the per-sensor factors on the right.
    auto* outer = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    outer->addLayout(columns);
    auto* left = new QVBoxLayout;
    columns->addLayout(left);
    // Up to 24 sensors: the factors scroll where the screen is too low for them.
    auto* factorsArea = new QScrollArea;
    factorsArea->setFrameShape(QFrame::NoFrame);
    columns->addWidget(factorsArea);

    const scanFacts facts = readFacts(*dataSet);
    addScanInfo(left, facts);
    addSensorInfo(left, *dataSet, facts.map);
    addFileInfo(left, dataSet->filePath());
    left->addStretch(1);
    factorsArea->setWidget(buildFactorsColumn(facts.map));
    scrollVerticallyOnly(factorsArea);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    outer->addWidget(buttons);
}

dataPropertiesDialog::scanFacts dataPropertiesDialog::readFacts(tarvoDataSet& dataSet) {
    std::lock_guard<std::mutex> lock(dataSet.mutex);
    scanFacts facts;
    facts.map = dataSet.settingsMap;
    facts.kind = dataSet.dataKind;
    facts.scans = dataSet.scanCount();
    facts.traces = dataSet.traceCount();
    facts.multi = dataSet.multiScan || facts.scans > 1;
    return facts;
}

void dataPropertiesDialog::addScanInfo(QVBoxLayout* layout, const scanFacts& facts) {
    QGroupBox* info = newGroup(layout, QStringLiteral("Scan Info"));
    addLine(info, facts.kind == 2                      ? QStringLiteral("Kalder Scan")
                  : facts.kind == 3 || facts.kind == 1 ? QStringLiteral("Temperature Scan")
                                                       : QStringLiteral("Time Averaged IV Scan"));
    addLine(info, QStringLiteral("Scan started on : %1")
                      .arg(facts.map.value(QStringLiteral("scanDate")).toString()));
    addLine(info, facts.multi ? QStringLiteral("Multi Scan") : QStringLiteral("Single Scan"));
    addLine(info, plural(facts.scans, QStringLiteral("%1 scan"), QStringLiteral("%1 scans")));
    addLine(info, plural(facts.traces, QStringLiteral("%1 trace per scan"),
                         QStringLiteral("%1 traces per scan")));
}

void dataPropertiesDialog::addSensorInfo(QVBoxLayout* layout, const tarvoDataSet& dataSet,
                                         const QVariantMap& map) {
    QGroupBox* sensor = newGroup(layout, QStringLiteral("Sensor Info"));
    addLine(sensor, QStringLiteral("Current Channels : %1").arg(dataSet.nChannels));
    addLine(sensor, QStringLiteral("Voltage Channels : %1").arg(dataSet.nVoltageChannels));
    addLine(sensor, QStringLiteral("Bias grid voltages, Start : %1 V, Step : %2 V, End : %3 V")
                        .arg(entry(map, "biasStart", "-10.0"), entry(map, "biasStep", "1"),
                             entry(map, "biasEnd", "100.0")));
    addLine(sensor, QStringLiteral("Collector voltage : %1 V").arg(entry(map, "collector", "-60")));
    addLine(sensor,
            QStringLiteral("Suppression grid voltage : %1 V").arg(entry(map, "supGrid", "-60")));
}

void dataPropertiesDialog::addFileInfo(QVBoxLayout* layout, const QString& path) {
    QGroupBox* file = newGroup(layout, QStringLiteral("File Info"));
    addLine(file, QStringLiteral("File Path :"));
    QLabel* pathLabel = addLine(file, path);
    pathLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    addLine(
        file,
        QStringLiteral("File Size : %1 bytes").arg(path.isEmpty() ? 0 : QFileInfo(path).size()));
}

QWidget* dataPropertiesDialog::buildFactorsColumn(const QVariantMap& map) {
    auto* column = new QWidget;
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildFluxFactors(map));
    layout->addWidget(temperatureFactors(map));
    layout->addStretch(1);
    return column;
}

QGroupBox* dataPropertiesDialog::buildFluxFactors(const QVariantMap& map) {
    // One line per sensor; the dialog holds at most MAX_FACTORS of them, whatever the file
    // claims.
    const QVariantList fluxList = map.value(QStringLiteral("ionFluxFactor")).toList();
    const int sensors = std::clamp(
        map.value(QStringLiteral("activeSensors"), fluxList.size()).toInt(), 0, MAX_FACTORS);
    auto* fluxBox = new QGroupBox(QStringLiteral("Ion Flux Factors"));
    auto* fluxGrid = new QGridLayout(fluxBox);
    for (int i = 0; i < sensors; ++i) {
        factors[i] = i < fluxList.size() ? fluxList[i].toDouble() : DEFAULT_FLUX_FACTOR;
        auto* edit = new QLineEdit(QString::number(factors[i], 'g', 10));
        auto* validator = new QDoubleValidator(0.0, 10000000.0, 3, edit);
        validator->setNotation(QDoubleValidator::StandardNotation);
        edit->setValidator(validator);
        edit->setObjectName(QStringLiteral("fluxFactor%1").arg(i));
        connect(edit, &QLineEdit::textChanged, this, &dataPropertiesDialog::ionFluxValueChanged);
        // Two sensors to a row.
        const int row = i / 2;
        const int column = 2 * (i % 2);
        fluxGrid->addWidget(new QLabel(QStringLiteral("Sensor %1").arg(i + 1)), row, column);
        fluxGrid->addWidget(edit, row, column + 1);
        factorEdits << edit;
    }
    return fluxBox;
}

QLabel* dataPropertiesDialog::addLine(QWidget* group, const QString& text) {
    auto* label = new QLabel(text);
    group->layout()->addWidget(label);
    lines << label;
    return label;
}

QStringList dataPropertiesDialog::texts() const {
    QStringList out;
    for (const QLabel* label : lines) {
        out << label->text();
    }
    return out;
}

void dataPropertiesDialog::ionFluxValueChanged() {
    // A line that does not parse (being edited, or empty) keeps its last good value.
    for (int i = 0; i < factorEdits.size(); ++i) {
        bool ok = false;
        const double value = factorEdits[i]->text().toDouble(&ok);
        if (ok) {
            factors[i] = value;
        }
    }
    emit ionFluxUpdated(factors.data(), factorEdits.size());
}
