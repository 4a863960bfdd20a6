#include "ui/graphcontrols.h"

#include "ui_graphcontrols.h"

graphControls::graphControls(QWidget* parent)
    : QDialog(parent, Qt::Tool), ui(std::make_unique<Ui::graphControls>()) {
    ui->setupUi(this);
    setModal(false);
    connect(ui->startCrop, qOverload<int>(&QSpinBox::valueChanged), this,
            &graphControls::cropValueUpdated);
    connect(ui->endCrop, qOverload<int>(&QSpinBox::valueChanged), this,
            &graphControls::cropValueUpdated);
    connect(ui->useGlobalScale, &QCheckBox::toggled, this, &graphControls::useGlobalScale);
    connect(ui->useContourFixedScale, &QGroupBox::clicked, this,
            &graphControls::updateFixedScaleContour);
    connect(ui->fixedScaleMin, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &graphControls::updateFixedScaleContour);
    connect(ui->fixedScaleMax, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
            &graphControls::updateFixedScaleContour);
}

graphControls::~graphControls() = default;

void graphControls::cropValueUpdated() {
    emit setCrop(ui->startCrop->value(), ui->endCrop->value());
}

void graphControls::updateFixedScaleContour() {
    emit useFixedContourScale(ui->useContourFixedScale->isChecked(), ui->fixedScaleMax->value(),
                              ui->fixedScaleMin->value());
}
