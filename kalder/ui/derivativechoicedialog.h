// The choice of the dI/dE method shared by every trace: five methods, ids 0 to 4.
#ifndef KALDER_UI_DERIVATIVECHOICEDIALOG_H
#define KALDER_UI_DERIVATIVECHOICEDIALOG_H

#include <QButtonGroup>
#include <QDialog>
#include <memory>

namespace Ui {
class derivativeChoiceDialog;
}

class derivativeChoiceDialog : public QDialog {
    Q_OBJECT

public:
    // Starts with the program's current method checked.
    explicit derivativeChoiceDialog(QWidget* parent = nullptr);
    ~derivativeChoiceDialog() override;

    int checkedId() const { return methods.checkedId(); }

private:
    std::unique_ptr<Ui::derivativeChoiceDialog> ui;
    QButtonGroup methods;
};

#endif  // KALDER_UI_DERIVATIVECHOICEDIALOG_H
