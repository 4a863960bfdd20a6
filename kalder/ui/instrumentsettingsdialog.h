// The per-probe constants kept in the instrument's record: ion-flux factor and the three
// thermistor constants, one row per probe.
#ifndef KALDER_UI_INSTRUMENTSETTINGSDIALOG_H
#define KALDER_UI_INSTRUMENTSETTINGSDIALOG_H

#include <QDialog>
#include <QList>
#include <memory>

class QLineEdit;
class TolmarCntrl;

namespace Ui {
class instrumentSettingsDialog;
}

class instrumentSettingsDialog : public QDialog {
    Q_OBJECT

public:
    explicit instrumentSettingsDialog(TolmarCntrl* cntrl, QWidget* parent = nullptr);
    ~instrumentSettingsDialog() override;

    // Stores the edited values in the instrument's table and writes its record to the unit;
    // the record operation's result.
    int writeRecord();

private:
    std::unique_ptr<Ui::instrumentSettingsDialog> ui;
    TolmarCntrl* cntrl;
    QList<QLineEdit*> ionFlux;
    QList<QLineEdit*> tempBeta;
    QList<QLineEdit*> tempRo;
    QList<QLineEdit*> tempRs;
};

#endif  // KALDER_UI_INSTRUMENTSETTINGSDIALOG_H
