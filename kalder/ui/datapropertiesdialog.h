// Properties of one data set: what kind of scan, when it started, its channels and voltages,
// the ion-flux factors (editable: a change is applied to the data set at once), the
// temperature factors and the file it came from.
#ifndef KALDER_UI_DATAPROPERTIESDIALOG_H
#define KALDER_UI_DATAPROPERTIESDIALOG_H

#include <QDialog>
#include <QList>
#include <array>

class QLabel;
class QLineEdit;
class tarvoDataSet;

class dataPropertiesDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int MAX_FACTORS = 24;

    explicit dataPropertiesDialog(tarvoDataSet* dataSet, QWidget* parent = nullptr);

    // The lines of the dialog, for the read-outs (labels in order, group by group).
    QStringList texts() const;
    QList<QLineEdit*> fluxFactorEdits() const { return factorEdits; }

signals:
    void ionFluxUpdated(double* factors, int count);

public slots:
    void ionFluxValueChanged();

private:
    QLabel* addLine(QWidget* group, const QString& text);

    QList<QLabel*> lines;
    QList<QLineEdit*> factorEdits;
    std::array<double, MAX_FACTORS> factors{};
};

#endif  // KALDER_UI_DATAPROPERTIESDIALOG_H
