#include "ui/preferencesdialog.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

#include "ui_preferencesdialog.h"

namespace {
const QString GROUP = QStringLiteral("prefDialog");
}

preferencesDialog::preferencesDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::preferencesDialog>()) {
    ui->setupUi(this);
    connect(ui->setPathButton, &QPushButton::clicked, this, &preferencesDialog::choosePath);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &preferencesDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    readSettings();
}

preferencesDialog::~preferencesDialog() = default;

bool preferencesDialog::useAutosave() const {
    return ui->useAutosave->isChecked();
}

bool preferencesDialog::useAutoexport() const {
    return ui->useAutoexport->isChecked();
}

bool preferencesDialog::useAutoexportHdf5() const {
    return ui->useAutoexportHdf5->isChecked();
}

QString preferencesDialog::filePrefix() const {
    return ui->filePrefix->text();
}

void preferencesDialog::readSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    ui->useAutosave->setChecked(settings.value(QStringLiteral("useAutosave"), false).toBool());
    ui->useAutoexport->setChecked(settings.value(QStringLiteral("useAutoexport"), false).toBool());
    ui->useAutoexportHdf5->setChecked(
        settings.value(QStringLiteral("useAutoexportHdf5"), false).toBool());
    path = settings.value(QStringLiteral("targetPath"), QStringLiteral("./autosave")).toString();
    ui->targetDir->setText(path);
    ui->filePrefix->setText(settings.value(QStringLiteral("filePrefix"), QString()).toString());
}

void preferencesDialog::writeSettings() {
    QSettings settings;
    settings.beginGroup(GROUP);
    settings.setValue(QStringLiteral("useAutosave"), useAutosave());
    settings.setValue(QStringLiteral("useAutoexport"), useAutoexport());
    settings.setValue(QStringLiteral("useAutoexportHdf5"), useAutoexportHdf5());
    settings.setValue(QStringLiteral("targetPath"), path);
    settings.setValue(QStringLiteral("filePrefix"), filePrefix());
}

bool preferencesDialog::setTargetPath(const QString& dir) {
    if (!QDir(dir).exists() && !QDir().mkpath(dir)) {
        QMessageBox::critical(
            this, QStringLiteral("Tarvo"),
            QStringLiteral("Failed create Directory\nError code: Cannot make path to '%1' "
                           "autosave directory\n")
                .arg(dir));
        return false;
    }
    path = dir;
    ui->targetDir->setText(path);
    writeSettings();
    return true;
}

void preferencesDialog::choosePath() {
    const QString dir = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Choose autosave directory"), path, QFileDialog::ShowDirsOnly);
    if (!dir.isEmpty()) {
        setTargetPath(dir);
    }
}

void preferencesDialog::accept() {
    writeSettings();
    QDialog::accept();
}
