// Properties of one data set: what kind of scan, when it started, its channels and voltages,
// the ion-flux factors (editable: a change is applied to the data set at once), the
// temperature factors and the file it came from.
#ifndef KALDER_UI_DATAPROPERTIESDIALOG_H
#define KALDER_UI_DATAPROPERTIESDIALOG_H

#include <QDialog>
#include <QList>
#include <QVariantMap>
#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QVBoxLayout;
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
    struct scanFacts;

    // The constructor's steps: the groups of the left column, then the factors beside them.
    static scanFacts readFacts(tarvoDataSet& dataSet);
    void addScanInfo(QVBoxLayout* layout, const scanFacts& facts);
    void addSensorInfo(QVBoxLayout* layout, const tarvoDataSet& dataSet, const QVariantMap& map);
    void addFileInfo(QVBoxLayout* layout, const QString& path);
    QWidget* buildFactorsColumn(const QVariantMap& map);
    QGroupBox* buildFluxFactors(const QVariantMap& map);
    QLabel* addLine(QWidget* group, const QString& text);

    QList<QLabel*> lines;
    QList<QLineEdit*> factorEdits;
    std::array<double, MAX_FACTORS> factors{};
};

#endif  // KALDER_UI_DATAPROPERTIESDIALOG_H
