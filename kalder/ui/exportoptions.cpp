#include "ui/exportoptions.h"

#include <QSettings>

#include "ui_exportoptions.h"

namespace {
const QString GROUP = QStringLiteral("exportOptions");
}

exportOptions::exportOptions(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::exportOptions>()) {
    ui->setupUi(this);
    fileType.addButton(ui->useCSV, exportChoices::Csv);
    fileType.addButton(ui->useMatlab, exportChoices::Matlab);
    fileType.addButton(ui->useHdf5, exportChoices::Hdf5);
    dataChoice.addButton(ui->includeResults, exportChoices::OnlyResults);
    dataChoice.addButton(ui->includeAVG, exportChoices::IncludeAveraged);
    dataChoice.addButton(ui->includeEverything, exportChoices::IncludeAll);
    ui->separator->setMaxLength(1);
    connect(ui->useCSV, &QRadioButton::toggled, ui->separator, &QLineEdit::setEnabled);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &exportOptions::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    readSettings();
}

exportOptions::~exportOptions() = default;

void exportOptions::readSettings() {
    QSettings settings;
    const exportChoices saved = exportChoices::load(settings);
    settings.beginGroup(GROUP);
    ui->separator->setText(
        settings.value(QStringLiteral("separator"), QStringLiteral(",")).toString().left(1));
    // An id without a button (a damaged store) falls back to the first choice.
    QAbstractButton* type = fileType.button(saved.exportMode);
    (type ? type : ui->useCSV)->setChecked(true);
    QAbstractButton* data = dataChoice.button(saved.dataMode);
    (data ? data : ui->includeResults)->setChecked(true);
    ui->separator->setEnabled(ui->useCSV->isChecked());
}

void exportOptions::accept() {
    QSettings settings;
    settings.beginGroup(GROUP);
    settings.setValue(QStringLiteral("separator"), ui->separator->text());
    settings.setValue(QStringLiteral("exportMode"), fileType.checkedId());
    settings.setValue(QStringLiteral("dataMode"), dataChoice.checkedId());
    QDialog::accept();
}

QChar exportOptions::separator() const {
    const QString text = ui->separator->text();
    return text.isEmpty() ? QChar(0) : text.at(0);
}

bool exportOptions::isCSV() const {
    return fileType.checkedId() == exportChoices::Csv;
}

bool exportOptions::isMatlab() const {
    return fileType.checkedId() == exportChoices::Matlab;
}

bool exportOptions::isHdf5() const {
    return fileType.checkedId() == exportChoices::Hdf5;
}

bool exportOptions::onlyResults() const {
    return dataChoice.checkedId() == exportChoices::OnlyResults;
}

bool exportOptions::includeAveraged() const {
    return dataChoice.checkedId() == exportChoices::IncludeAveraged;
}

bool exportOptions::includeAll() const {
    return dataChoice.checkedId() == exportChoices::IncludeAll;
}

exportChoices exportOptions::choices() const {
    exportChoices c;
    c.separatorChar = separator();
    c.exportMode = fileType.checkedId();
    c.dataMode = dataChoice.checkedId();
    return c;
}

void exportOptions::setDataChoiceVisible(bool visible) {
    ui->dataBox->setVisible(visible);
}
