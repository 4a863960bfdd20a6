// The export dialog: file type (CSV, Matlab or HDF5), the CSV delimiter and how much data goes
// into a CSV file. Its choices live in the settings group "exportOptions"; the writers take them as
// a plain exportChoices value.
#ifndef KALDER_UI_EXPORTOPTIONS_H
#define KALDER_UI_EXPORTOPTIONS_H

#include <QButtonGroup>
#include <QDialog>
#include <memory>

#include "data/exportchoices.h"

namespace Ui {
class exportOptions;
}

class exportOptions : public QDialog {
    Q_OBJECT

public:
    explicit exportOptions(QWidget* parent = nullptr);
    ~exportOptions() override;

    // Writes the three settings, then closes with acceptance.
    void accept() override;

    QChar separator() const;
    bool isCSV() const;
    bool isMatlab() const;
    bool isHdf5() const;
    bool onlyResults() const;
    bool includeAveraged() const;
    bool includeAll() const;
    // The current choices as the writers take them.
    exportChoices choices() const;

    // Shows or hides the "Data" group (hidden for aspect-ratio data, where it has no effect).
    void setDataChoiceVisible(bool visible);
    // Loads the saved choices into the form.
    void readSettings();

private:
    std::unique_ptr<Ui::exportOptions> ui;
    QButtonGroup fileType;
    QButtonGroup dataChoice;
};

#endif  // KALDER_UI_EXPORTOPTIONS_H
