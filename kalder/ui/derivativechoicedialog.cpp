#include "ui/derivativechoicedialog.h"

#include "data/ivtrace.h"
#include "ui_derivativechoicedialog.h"

derivativeChoiceDialog::derivativeChoiceDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::derivativeChoiceDialog>()) {
    ui->setupUi(this);
    const QList<QRadioButton*> buttons = {ui->method1, ui->method2, ui->method3, ui->method4,
                                          ui->method5};
    for (int id = 0; id < buttons.size(); ++id) {
        methods.addButton(buttons[id], id);
    }
    QAbstractButton* current = methods.button(ivTrace::derivativeMethod());
    (current ? current : ui->method2)->setChecked(true);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

derivativeChoiceDialog::~derivativeChoiceDialog() = default;
