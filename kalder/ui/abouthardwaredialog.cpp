#include "ui/abouthardwaredialog.h"

#include <QApplication>
#include <QClipboard>

#include "ui/resources.h"
#include "ui_abouthardwaredialog.h"

aboutHardwareDialog::aboutHardwareDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::aboutHardwareDialog>()) {
    kalderResources::init();
    ui->setupUi(this);
    ui->logo->setPixmap(kalderResources::pixmap(QStringLiteral(":/images/images/corvane.png")));
    connect(ui->pbClipBoard, &QPushButton::clicked, this, &aboutHardwareDialog::copyToClipboard);
    connect(ui->pbClose, &QPushButton::clicked, this, &QDialog::accept);
}

aboutHardwareDialog::~aboutHardwareDialog() = default;

QString aboutHardwareDialog::sensorTitle() const {
    return ui->productLabel->text();
}

QString aboutHardwareDialog::description() const {
    return ui->descLabel->text();
}

void aboutHardwareDialog::setSensorTitle(const QString& title) {
    ui->productLabel->setText(title);
}

void aboutHardwareDialog::setDesc(const QString& text) {
    ui->descLabel->setText(text);
}

void aboutHardwareDialog::copyToClipboard() {
    QApplication::clipboard()->setText(ui->descLabel->text());
}
