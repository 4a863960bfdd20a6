// Second step of the scan wizard: the scan type (time averaged, time resolved or a temperature
// record), single or repeated scans, and the time-resolved window.
#ifndef KALDER_UI_SCANMODEDIALOG_H
#define KALDER_UI_SCANMODEDIALOG_H

#include <QButtonGroup>
#include <QDialog>
#include <memory>
#include <vector>

#include "ui/settingsfields.h"

namespace Ui {
class scanModeDialog;
}

class scanModeDialog : public QDialog {
    Q_OBJECT

public:
    explicit scanModeDialog(QWidget* parent = nullptr);
    ~scanModeDialog() override;

    int scanType() const { return group.checkedId(); }
    bool multipleScans() const;
    int tracesPerScan() const;
    double scanLengthMs() const;
    double intervalMs() const;
    unsigned trStart() const;
    unsigned trEnd() const;
    double trRes() const;

    void readSettings();
    void writeSettings();

public slots:
    void changeType(int id);
    void toggleMultiScan(bool on);
    void validateTREntries();

private slots:
    void next();

private:
    std::unique_ptr<Ui::scanModeDialog> ui;
    QButtonGroup group;
    std::vector<textField> fields;
};

#endif  // KALDER_UI_SCANMODEDIALOG_H
