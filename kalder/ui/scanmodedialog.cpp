#include "ui/scanmodedialog.h"

#include <QIntValidator>

#include "acquisition/scansettings.h"
#include "ui_scanmodedialog.h"

namespace {
const QString GROUP = QStringLiteral("scanmodedialog");
// The time-resolved window needs at least this resolution and end, in microseconds.
constexpr int MIN_TR_TIME = 100;
}  // namespace

scanModeDialog::scanModeDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::scanModeDialog>()) {
    ui->setupUi(this);
    group.addButton(ui->temperatureScanButton, TemperatureScan);
    group.addButton(ui->timeAveragedScanButton, TimeAveragedScan);
    group.addButton(ui->timeResolvedScanButton, TimeResolvedScan);
    fields = {{QStringLiteral("tracesPerScan"), ui->tracesPerScan, QStringLiteral("0")},
              {QStringLiteral("interval"), ui->intervalBetweenScans, QStringLiteral("0")},
              {QStringLiteral("scanLength"), ui->scanLength, QStringLiteral("0")},
              {QStringLiteral("trEnd"), ui->trEnd, QStringLiteral("100")},
              {QStringLiteral("trStart"), ui->trStart, QStringLiteral("0")},
              {QStringLiteral("trRes"), ui->trRes, QStringLiteral("100")}};
    for (QLineEdit* e : {ui->tracesPerScan, ui->intervalBetweenScans, ui->scanLength}) {
        e->setValidator(new QIntValidator(0, 10000, e));
    }
    for (QLineEdit* e : {ui->trStart, ui->trEnd, ui->trRes}) {
        e->setValidator(new QIntValidator(0, 1000000, e));
        connect(e, &QLineEdit::editingFinished, this, &scanModeDialog::validateTREntries);
    }
    ui->sensorSelect->setValidator(new QIntValidator(0, 32, ui->sensorSelect));
    connect(&group, &QButtonGroup::idClicked, this, &scanModeDialog::changeType);
    connect(ui->multipleScanCB, &QCheckBox::toggled, this, &scanModeDialog::toggleMultiScan);
    connect(ui->nextButton, &QPushButton::clicked, this, &scanModeDialog::next);
    connect(ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    readSettings();
}

scanModeDialog::~scanModeDialog() = default;

bool scanModeDialog::multipleScans() const {
    return ui->multipleScanCB->isChecked();
}

int scanModeDialog::tracesPerScan() const {
    return static_cast<int>(countOf(ui->tracesPerScan));
}

double scanModeDialog::scanLengthMs() const {
    return numberOf(ui->scanLength) * 1000.0;
}

double scanModeDialog::intervalMs() const {
    return numberOf(ui->intervalBetweenScans) * 1000.0;
}

unsigned scanModeDialog::trStart() const {
    return countOf(ui->trStart);
}

unsigned scanModeDialog::trEnd() const {
    return countOf(ui->trEnd);
}

double scanModeDialog::trRes() const {
    return numberOf(ui->trRes);
}

void scanModeDialog::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    loadFields(settings, fields);
    QAbstractButton* button = group.button(settings.value(QStringLiteral("scanType"), 1).toInt());
    (button ? button : ui->timeAveragedScanButton)->setChecked(true);
    ui->multipleScanCB->setChecked(settings.value(QStringLiteral("multipleScans"), false).toBool());
    changeType(group.checkedId());
    toggleMultiScan(ui->multipleScanCB->isChecked());
}

void scanModeDialog::writeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    storeFields(settings, fields);
    settings.setValue(QStringLiteral("scanType"), group.checkedId());
    settings.setValue(QStringLiteral("multipleScans"), ui->multipleScanCB->isChecked());
}

void scanModeDialog::changeType(int id) {
    ui->normalBox->setVisible(id != TimeResolvedScan);
    ui->resolvedBox->setVisible(id == TimeResolvedScan);
    // A temperature record needs no further settings: this dialog starts it.
    ui->nextButton->setText(id == TemperatureScan ? QStringLiteral("Run Scan")
                                                  : QStringLiteral("Next"));
}

void scanModeDialog::toggleMultiScan(bool on) {
    ui->intervalBetweenScans->setEnabled(on);
    ui->scanLength->setEnabled(on);
}

void scanModeDialog::validateTREntries() {
    const QString minimum = QString::number(MIN_TR_TIME);
    if (numberOf(ui->trRes) < MIN_TR_TIME) {
        ui->trRes->setText(minimum);
    }
    if (numberOf(ui->trEnd) < MIN_TR_TIME) {
        ui->trEnd->setText(minimum);
    }
}

void scanModeDialog::next() {
    validateTREntries();
    writeSettings();
    accept();
}
