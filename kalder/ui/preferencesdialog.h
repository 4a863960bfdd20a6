// Automatic saving and export of finished scans: on/off (the export as CSV and, beside it, as
// HDF5), the target directory and a file prefix, kept in the settings group "prefDialog".
#ifndef KALDER_UI_PREFERENCESDIALOG_H
#define KALDER_UI_PREFERENCESDIALOG_H

#include <QDialog>
#include <QString>
#include <memory>

namespace Ui {
class preferencesDialog;
}

class preferencesDialog : public QDialog {
    Q_OBJECT

public:
    explicit preferencesDialog(QWidget* parent = nullptr);
    ~preferencesDialog() override;

    bool useAutosave() const;
    bool useAutoexport() const;
    bool useAutoexportHdf5() const;
    QString targetPath() const { return path; }
    QString filePrefix() const;

    void readSettings();
    void writeSettings();
    // Takes dir as the target path when it exists or can be made; otherwise reports it and
    // keeps the old one. False when refused.
    bool setTargetPath(const QString& dir);

public slots:
    void choosePath();
    void accept() override;

private:
    std::unique_ptr<Ui::preferencesDialog> ui;
    QString path;
};

#endif  // KALDER_UI_PREFERENCESDIALOG_H
