#include "ui/scansettingsdialog.h"

#include <QDoubleValidator>
#include <QIntValidator>
#include <cmath>
#include <limits>

#include "data/tarvodataset.h"
#include "ui/resources.h"
#include "ui_scansettingsdialog.h"

namespace {

const QString GROUP = QStringLiteral("scansettingdialog");

QString threeDecimals(double v) {
    return QString::number(v, 'f', 3);
}

QDoubleValidator* voltageValidator(QObject* parent) {
    auto* validator = new QDoubleValidator(-1000.0, 1000.0, 1, parent);
    validator->setNotation(QDoubleValidator::StandardNotation);
    return validator;
}

QVariantList variantList(const QVector<double>& values) {
    QVariantList list;
    for (double v : values) list << v;
    return list;
}

QVariantList variantList(const QVector<bool>& values) {
    QVariantList list;
    for (bool v : values) list << v;
    return list;
}

}  // namespace

scanSettingsDialog::scanSettingsDialog(QWidget* parent)
    : QDialog(parent),
      ui(std::make_unique<Ui::scanSettingsDialog>()),
      electrodeVoltage(std::numeric_limits<double>::quiet_NaN()) {
    ui->setupUi(this);
    ui->sensorGridsImage->setPixmap(
        kalderResources::pixmap(QStringLiteral(":/images/images/SensorGrids.png")));
    fields = {{QStringLiteral("simpleEnergyRange"), ui->simpleEnergyRange, QStringLiteral("100")},
              {QStringLiteral("simpleEnergyRes"), ui->simpleEnergyRes, QStringLiteral("1")},
              {QStringLiteral("eVOverride"), ui->electrodeVoltageOverrideVal, QStringLiteral("0")},
              {QStringLiteral("aspectRatioStart"), ui->arStart, QStringLiteral("1")},
              {QStringLiteral("aspectRatioStep"), ui->arStep, QStringLiteral("5")},
              {QStringLiteral("aspectRatioStepCount"), ui->arStepsCount, QStringLiteral("10")},
              {QStringLiteral("supGrid"), ui->supGrid, QStringLiteral("-60")},
              {QStringLiteral("biasStart"), ui->biasStart, QStringLiteral("-10")},
              {QStringLiteral("biasEnd"), ui->biasEnd, QStringLiteral("100")},
              {QStringLiteral("biasStep"), ui->biasStep, QStringLiteral("1")},
              {QStringLiteral("secElSup"), ui->secElSup, QStringLiteral("-70")},
              {QStringLiteral("collector"), ui->collector, QStringLiteral("-60")},
              {QStringLiteral("zeroStep"), ui->zeroStep, QStringLiteral("1000")},
              {QStringLiteral("firstStep"), ui->firstStep, QStringLiteral("50")},
              {QStringLiteral("nextStep"), ui->nextStep, QStringLiteral("100")},
              {QStringLiteral("ivAcc"), ui->ivAcc, QStringLiteral("2000")},
              {QStringLiteral("kalderFirstStep"), ui->kalderFirstStep, QStringLiteral("1")},
              {QStringLiteral("kalderNextStep"), ui->kalderNextStep, QStringLiteral("1")},
              {QStringLiteral("kalderIvAcc"), ui->kalderIvAcc, QStringLiteral("10000")},
              {QStringLiteral("syncDelay"), ui->syncDelay, QStringLiteral("0")}};

    for (QLineEdit* e :
         {ui->biasStart, ui->biasEnd, ui->biasStep, ui->collector, ui->supGrid, ui->secElSup,
          ui->simpleEnergyRange, ui->simpleEnergyRes, ui->electrodeVoltageOverrideVal}) {
        e->setValidator(voltageValidator(e));
    }
    for (QLineEdit* e : {ui->arStart, ui->arStep}) {
        auto* validator = new QDoubleValidator(0.5, 20.0, 2, e);
        validator->setNotation(QDoubleValidator::StandardNotation);
        e->setValidator(validator);
    }
    ui->arStepsCount->setValidator(new QIntValidator(1, 100, ui->arStepsCount));
    for (QLineEdit* e : {ui->zeroStep, ui->firstStep, ui->nextStep, ui->ivAcc, ui->kalderFirstStep,
                         ui->kalderNextStep, ui->kalderIvAcc, ui->syncDelay}) {
        e->setValidator(new QIntValidator(0, 1000000, e));
    }
    for (QLineEdit* e : {ui->biasStart, ui->biasEnd, ui->simpleEnergyRange, ui->collector,
                         ui->supGrid, ui->secElSup}) {
        connect(e, &QLineEdit::editingFinished, this, &scanSettingsDialog::validateScanVals);
    }

    connect(ui->switchMode, &QPushButton::clicked, this, &scanSettingsDialog::switchMode);
    connect(ui->reSyncButton, &QPushButton::clicked, this, &scanSettingsDialog::resync);
    connect(ui->prev, &QPushButton::clicked, this, [this] { done(PREVIOUS); });
    connect(ui->cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->runScan, &QPushButton::clicked, this, &scanSettingsDialog::acceptDial);
    readSettings();
}

scanSettingsDialog::~scanSettingsDialog() = default;

void scanSettingsDialog::setAspectRatioFamily(bool on) {
    aspectRatioFamily = on;
    ui->arBox->setVisible(on);
    ui->kalderTimings->setVisible(on);
}

void scanSettingsDialog::setTimeResolved(bool on) {
    ui->tabWidget->setTabEnabled(ui->tabWidget->indexOf(ui->syncTab), on);
}

void scanSettingsDialog::showInstrumentBoxes() {
    ui->arBox->setVisible(true);
    ui->kalderTimings->setVisible(true);
}

void scanSettingsDialog::setElectrodeVoltage(double ev) {
    electrodeVoltage = ev;
    ui->evValue->setText(std::isnan(ev) ? QStringLiteral("---")
                                        : QStringLiteral("%1").arg(ev, 0, 'f', 1));
}

void scanSettingsDialog::setRanges(const outputRanges& r) {
    ranges = r;
    const std::pair<QLineEdit*, int> outputs[] = {{ui->biasStart, 2},         {ui->biasEnd, 2},
                                                  {ui->simpleEnergyRange, 2}, {ui->collector, 1},
                                                  {ui->supGrid, 0},           {ui->secElSup, 0}};
    for (const auto& [edit, k] : outputs) {
        delete edit->validator();
        edit->setValidator(rangeValidator(ranges.output[k], edit));
    }
}

void scanSettingsDialog::setCurrentRanges(const QVector<double>& amperes) {
    ui->currentRange->clear();
    for (int i = 0; i < amperes.size(); ++i) {
        ui->currentRange->addItem(QStringLiteral("%1 uA").arg(amperes[i] * 1e6, 0, 'g'), i);
    }
}

void scanSettingsDialog::configureChannels(int nAdcChannels, int nProbes, int nVchan,
                                           int sensorCode) {
    ui->sensorActWidget->configure(nAdcChannels, nProbes, nVchan, sensorCode);
}

void scanSettingsDialog::updateSyncFreq(double freq, int code) {
    if (code > 0) {
        ui->syncFreq->setText(QStringLiteral("%1 hz").arg(freq, 0, 'g'));
    } else if (code < 0) {
        ui->syncFreq->setText(QStringLiteral("Signal not synced"));
    }
}

double scanSettingsDialog::biasStart() const {
    return numberOf(ui->biasStart);
}
double scanSettingsDialog::biasEnd() const {
    return numberOf(ui->biasEnd);
}
double scanSettingsDialog::biasStep() const {
    return numberOf(ui->biasStep);
}
double scanSettingsDialog::collector() const {
    return numberOf(ui->collector);
}
double scanSettingsDialog::supGrid() const {
    return numberOf(ui->supGrid);
}
double scanSettingsDialog::secElSup() const {
    return numberOf(ui->secElSup);
}
unsigned scanSettingsDialog::zeroStepDelay() const {
    return countOf(ui->zeroStep) * 1000;
}
unsigned scanSettingsDialog::firstStepDelay() const {
    return countOf(ui->firstStep) * 1000;
}
unsigned scanSettingsDialog::nextStepDelay() const {
    return countOf(ui->nextStep);
}
unsigned scanSettingsDialog::ivAcc() const {
    return countOf(ui->ivAcc);
}
unsigned scanSettingsDialog::kalderFirstStep() const {
    return countOf(ui->kalderFirstStep);
}
unsigned scanSettingsDialog::kalderNextStep() const {
    return countOf(ui->kalderNextStep);
}
unsigned scanSettingsDialog::kalderIvAcc() const {
    return countOf(ui->kalderIvAcc);
}
bool scanSettingsDialog::risingEdge() const {
    return ui->useRisingEdge->isChecked();
}
unsigned scanSettingsDialog::syncDelay() const {
    return countOf(ui->syncDelay);
}

unsigned scanSettingsDialog::currentRange() const {
    const QVariant data = ui->currentRange->currentData();
    return data.isValid() ? data.toUInt() : 0u;
}

bool scanSettingsDialog::collectorDiscriminator() const {
    return ui->discriminatorCollector->isChecked();
}

bool scanSettingsDialog::highResolutionKalderMode() const {
    return ui->highResMode->isChecked();
}

QVector<bool> scanSettingsDialog::enabledChannels() const {
    return ui->sensorActWidget->enabledChannels();
}

QVector<double> scanSettingsDialog::aspectRatios() const {
    QVector<double> list;
    double a = numberOf(ui->arStart);
    const double step = numberOf(ui->arStep);
    const int count = static_cast<int>(countOf(ui->arStepsCount));
    for (int k = 0; k < count; ++k) {
        list.append(a);
        a += step;
        if (a >= MAX_ASPECT_RATIO) {
            break;
        }
    }
    if (extraRatios.isEmpty()) {
        list.append(1.0);
    } else {
        list += extraRatios;
    }
    return list;
}

void scanSettingsDialog::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    loadFields(settings, fields);
    const bool override = settings.value(QStringLiteral("override"), true).toBool();
    (override ? ui->useOverrideCB : ui->useMeasuredCB)->setChecked(true);
    const bool rising = settings.value(QStringLiteral("useRisingEdge"), true).toBool();
    (rising ? ui->useRisingEdge : ui->useFallingEdge)->setChecked(true);
    advanced = settings.value(QStringLiteral("useAdvancedMode"), false).toBool();
    ui->discriminatorCollector->setChecked(
        settings.value(QStringLiteral("collectorSweepMode"), false).toBool());
    ui->highResMode->setChecked(
        settings.value(QStringLiteral("highResolutionKalderMode"), false).toBool());
    extraRatios.clear();
    const int n = settings.beginReadArray(QStringLiteral("aspectRatios"));
    for (int i = 0; i < n; ++i) {
        settings.setArrayIndex(i);
        extraRatios.append(settings.value(QStringLiteral("val"), 0.5).toDouble());
    }
    settings.endArray();
    showPage();
}

void scanSettingsDialog::writeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    storeFields(settings, fields);
    settings.setValue(QStringLiteral("override"), ui->useOverrideCB->isChecked());
    settings.setValue(QStringLiteral("useRisingEdge"), ui->useRisingEdge->isChecked());
    settings.setValue(QStringLiteral("useAdvancedMode"), advanced);
    settings.setValue(QStringLiteral("collectorSweepMode"), collectorDiscriminator());
    settings.setValue(QStringLiteral("highResolutionKalderMode"), highResolutionKalderMode());
    settings.beginWriteArray(QStringLiteral("aspectRatios"), extraRatios.size());
    for (int i = 0; i < extraRatios.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("val"), extraRatios[i]);
    }
    settings.endArray();
    const QVector<bool> enabled = enabledChannels();
    settings.beginWriteArray(QStringLiteral("enabledSensors"), enabled.size());
    for (int i = 0; i < enabled.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("val"), enabled[i]);
    }
    settings.endArray();
}

void scanSettingsDialog::writeInto(tarvoDataSet* dataSet) const {
    QVariantMap& map = dataSet->settingsMap;
    QSettings settings;
    settings.beginGroup(GROUP);
    for (const QString& key : settings.allKeys()) {
        map.insert(key, settings.value(key));
    }
    for (const textField& f : fields) {
        map.insert(f.key, f.edit->text());
    }
    map.insert(QStringLiteral("override"), ui->useOverrideCB->isChecked());
    map.insert(QStringLiteral("useRisingEdge"), risingEdge());
    map.insert(QStringLiteral("useAdvancedMode"), advanced);
    map.insert(QStringLiteral("AspectRatios"), variantList(aspectRatios()));
    map.insert(QStringLiteral("enabledSensors"), variantList(enabledChannels()));
}

void scanSettingsDialog::acceptDial() {
    if (!advanced) {
        // Derive the sweep from the energy range around the electrode voltage.
        double ev = std::isnan(electrodeVoltage) ? 0.0 : electrodeVoltage;
        if (ui->useOverrideCB->isChecked()) {
            ev = numberOf(ui->electrodeVoltageOverrideVal);
        }
        ui->biasStart->setText(threeDecimals(ev));
        ui->biasEnd->setText(threeDecimals(numberOf(ui->simpleEnergyRange) + ev));
        ui->biasStep->setText(threeDecimals(numberOf(ui->simpleEnergyRes)));
        ui->collector->setText(threeDecimals(ev - 60.0));
        ui->secElSup->setText(threeDecimals(ev - 70.0));
    }
    writeSettings();
    accept();
}

void scanSettingsDialog::switchMode() {
    advanced = !advanced;
    showPage();
}

void scanSettingsDialog::showPage() {
    ui->stackedWidget->setCurrentWidget(advanced ? ui->advancedPage : ui->quickPage);
    ui->switchMode->setText(advanced ? QStringLiteral("Quick Settings")
                                     : QStringLiteral("Advanced Settings"));
}

void scanSettingsDialog::validateScanVals() {
    clampToRange(ui->biasStart, ranges.output[2]);
    clampToRange(ui->biasEnd, ranges.output[2]);
    clampToRange(ui->simpleEnergyRange, ranges.output[2]);
    clampToRange(ui->collector, ranges.output[1]);
    clampToRange(ui->supGrid, ranges.output[0]);
    clampToRange(ui->secElSup, ranges.output[0]);
}
