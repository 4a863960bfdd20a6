#include "ui/idlevoltagesdialog.h"

#include <QDoubleValidator>
#include <QSettings>

#include "ui/settingsfields.h"
#include "ui_idlevoltagesdialog.h"

namespace {

const QString GROUP = QStringLiteral("IdleVoltagesDialog");

std::vector<textField> fieldsOf(Ui::idleVoltagesDialog& ui) {
    const QString zero = QStringLiteral("0.0");
    return {{QStringLiteral("biasGrid"), ui.biasGridEdit, zero},
            {QStringLiteral("suppressorGrid"), ui.supGridEdit, zero},
            {QStringLiteral("collector"), ui.collectorEdit, zero},
            {QStringLiteral("secondaryElectronSuppression"), ui.secElSupEdit, zero}};
}

}  // namespace

idleVoltagesDialog::idleVoltagesDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::idleVoltagesDialog>()) {
    ui->setupUi(this);
    // Until an instrument tells its ranges.
    for (auto& out : ranges.output) {
        out.low = -600.0;
        out.high = 600.0;
    }
    for (QLineEdit* e : {ui->biasGridEdit, ui->supGridEdit, ui->collectorEdit, ui->secElSupEdit}) {
        auto* validator = new QDoubleValidator(-600.0, 600.0, 2, e);
        validator->setNotation(QDoubleValidator::StandardNotation);
        e->setValidator(validator);
        connect(e, &QLineEdit::textChanged, this, &idleVoltagesDialog::validateIdleVals);
    }
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &idleVoltagesDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    readSettings();
}

idleVoltagesDialog::~idleVoltagesDialog() = default;

double idleVoltagesDialog::biasGrid() const {
    return numberOf(ui->biasGridEdit);
}
double idleVoltagesDialog::suppressorGrid() const {
    return numberOf(ui->supGridEdit);
}
double idleVoltagesDialog::collector() const {
    return numberOf(ui->collectorEdit);
}
double idleVoltagesDialog::secondaryElectronSuppression() const {
    return numberOf(ui->secElSupEdit);
}

std::array<double, 3> idleVoltagesDialog::instrumentVoltages() const {
    return {biasGrid(), collector(), secondaryElectronSuppression()};
}

void idleVoltagesDialog::setRanges(const outputRanges& r) {
    ranges = r;
    const std::pair<QLineEdit*, int> outputs[] = {
        {ui->supGridEdit, 0}, {ui->collectorEdit, 1}, {ui->biasGridEdit, 2}};
    for (const auto& [edit, k] : outputs) {
        delete edit->validator();
        edit->setValidator(rangeValidator(ranges.output[k], edit));
    }
}

void idleVoltagesDialog::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    loadFields(settings, fieldsOf(*ui));
}

void idleVoltagesDialog::writeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    storeFields(settings, fieldsOf(*ui));
}

void idleVoltagesDialog::validateIdleVals() {
    clampToRange(ui->biasGridEdit, ranges.output[2]);
    clampToRange(ui->secElSupEdit, ranges.output[0]);
    clampToRange(ui->collectorEdit, ranges.output[1]);
    clampToRange(ui->supGridEdit, ranges.output[0]);
}

void idleVoltagesDialog::accept() {
    writeSettings();
    QDialog::accept();
}
