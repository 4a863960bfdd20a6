#include "ui/aboutdialog.h"

#include "ui/resources.h"
#include "ui_aboutdialog.h"

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AboutDialog>()) {
    kalderResources::init();
    ui->setupUi(this);
    ui->logo->load(QStringLiteral(":/images/images/Corvane KALDER System v1 white.svg"));
    ui->lbVersion->setText(QStringLiteral("Version %1.%2.%3 (Build %4)")
                               .arg(VERSION_MAJOR)
                               .arg(VERSION_MINOR)
                               .arg(VERSION_PATCH)
                               .arg(BUILD));
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

AboutDialog::~AboutDialog() = default;

QString AboutDialog::versionText() const {
    return ui->lbVersion->text();
}

QString AboutDialog::caption() const {
    return ui->caption->text();
}
