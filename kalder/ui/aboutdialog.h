// The program's about box: logo, caption and version.
#ifndef KALDER_UI_ABOUTDIALOG_H
#define KALDER_UI_ABOUTDIALOG_H

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

class AboutDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr int VERSION_MAJOR = 4;
    static constexpr int VERSION_MINOR = 5;
    static constexpr int VERSION_PATCH = 1;
    static constexpr int BUILD = 392;

    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    QString versionText() const;
    QString caption() const;

private:
    std::unique_ptr<Ui::AboutDialog> ui;
};

#endif  // KALDER_UI_ABOUTDIALOG_H
