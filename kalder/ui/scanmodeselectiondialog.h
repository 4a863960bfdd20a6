// First step of the scan wizard: a standard ion-energy scan or an aspect-ratio scan.
#ifndef KALDER_UI_SCANMODESELECTIONDIALOG_H
#define KALDER_UI_SCANMODESELECTIONDIALOG_H

#include <QButtonGroup>
#include <QDialog>
#include <memory>

namespace Ui {
class scanModeSelectionDialog;
}

class scanModeSelectionDialog : public QDialog {
    Q_OBJECT

public:
    enum Mode { Standard = 0, AspectRatio = 1 };

    explicit scanModeSelectionDialog(QWidget* parent = nullptr);
    ~scanModeSelectionDialog() override;

    int selectionMode() const { return group.checkedId(); }
    void readSettings();
    void writeSettings();

private slots:
    void next();
    void cancel();

private:
    std::unique_ptr<Ui::scanModeSelectionDialog> ui;
    QButtonGroup group;
};

#endif  // KALDER_UI_SCANMODESELECTIONDIALOG_H
