#include "ui/scanmodeselectiondialog.h"

#include <QSettings>

#include "ui_scanmodeselectiondialog.h"

namespace {
const QString GROUP = QStringLiteral("scanmodeselectiondialog");
}

scanModeSelectionDialog::scanModeSelectionDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::scanModeSelectionDialog>()) {
    ui->setupUi(this);
    group.addButton(ui->standard, Standard);
    group.addButton(ui->aspectRatio, AspectRatio);
    connect(ui->nextButton, &QPushButton::clicked, this, &scanModeSelectionDialog::next);
    connect(ui->cancelButton, &QPushButton::clicked, this, &scanModeSelectionDialog::cancel);
    readSettings();
}

scanModeSelectionDialog::~scanModeSelectionDialog() = default;

void scanModeSelectionDialog::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    QAbstractButton* button =
        group.button(settings.value(QStringLiteral("selectionmode"), 1).toInt());
    (button ? button : ui->aspectRatio)->setChecked(true);
}

void scanModeSelectionDialog::writeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    settings.setValue(QStringLiteral("selectionmode"), group.checkedId());
}

void scanModeSelectionDialog::next() {
    writeSettings();
    accept();
}

void scanModeSelectionDialog::cancel() {
    readSettings();
    reject();
}
