#include "ui/instrumentsettingsdialog.h"

#include <QDoubleValidator>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "tolmar2/TolmarCntrl.h"
#include "ui/scrolling.h"
#include "ui_instrumentsettingsdialog.h"

namespace {

// Columns of the table in the order of the record's rows: tempBeta, tempRo, tempRs,
// ionFluxFactor; shown as flux, beta, Ro, Rs.
constexpr int FLUX = 3, BETA = 0, RO = 1, RS = 2;

QLineEdit* valueEdit(double value, double top, QWidget* parent) {
    auto* edit = new QLineEdit(QString::number(value, 'g'), parent);
    auto* validator = new QDoubleValidator(0.0, top, 3, edit);
    // The values show in general format (a factor of a million reads "1e+06"): the validator
    // takes exponents, or such a field could not be edited at all.
    validator->setNotation(QDoubleValidator::ScientificNotation);
    edit->setValidator(validator);
    return edit;
}

}  // namespace

instrumentSettingsDialog::instrumentSettingsDialog(TolmarCntrl* cntrl, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::instrumentSettingsDialog>()), cntrl(cntrl) {
    ui->setupUi(this);
    const int rows = std::clamp(static_cast<int>(cntrl->nExtProbes), 0, TolmarCntrl::MAX_TEMP_ROWS);
    for (int r = 0; r < rows; ++r) {
        const double* coef = cntrl->tempCoef[r];
        ui->tableLayout->addWidget(new QLabel(QString::number(r + 1), this), r + 1, 0);
        ionFlux << valueEdit(coef[FLUX], 10000000.0, this);
        tempBeta << valueEdit(coef[BETA], 1000000.0, this);
        tempRo << valueEdit(coef[RO], 100000000.0, this);
        tempRs << valueEdit(coef[RS], 1000000.0, this);
        ui->tableLayout->addWidget(ionFlux.last(), r + 1, 1);
        ui->tableLayout->addWidget(tempBeta.last(), r + 1, 2);
        ui->tableLayout->addWidget(tempRo.last(), r + 1, 3);
        ui->tableLayout->addWidget(tempRs.last(), r + 1, 4);
    }
    // Up to 20 rows: the table scrolls where the screen is too low for it.
    scrollVerticallyOnly(ui->tableScroll);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

instrumentSettingsDialog::~instrumentSettingsDialog() = default;

int instrumentSettingsDialog::writeRecord() {
    for (int r = 0; r < ionFlux.size(); ++r) {
        double* coef = cntrl->tempCoef[r];
        coef[FLUX] = ionFlux[r]->text().toDouble();
        coef[BETA] = tempBeta[r]->text().toDouble();
        coef[RO] = tempRo[r]->text().toDouble();
        coef[RS] = tempRs[r]->text().toDouble();
    }
    return cntrl->writeTolmarConfigParameters(nullptr, nullptr);
}
