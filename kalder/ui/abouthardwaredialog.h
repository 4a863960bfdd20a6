// Instrument information: the connected unit's product name and description, which the user
// can copy to the clipboard.
#ifndef KALDER_UI_ABOUTHARDWAREDIALOG_H
#define KALDER_UI_ABOUTHARDWAREDIALOG_H

#include <QDialog>
#include <memory>

namespace Ui {
class aboutHardwareDialog;
}

class aboutHardwareDialog : public QDialog {
    Q_OBJECT

public:
    explicit aboutHardwareDialog(QWidget* parent = nullptr);
    ~aboutHardwareDialog() override;

    QString sensorTitle() const;
    QString description() const;

public slots:
    void setSensorTitle(const QString& title);
    void setDesc(const QString& text);
    void copyToClipboard();

private:
    std::unique_ptr<Ui::aboutHardwareDialog> ui;
};

#endif  // KALDER_UI_ABOUTHARDWAREDIALOG_H
