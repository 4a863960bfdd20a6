// Line edits whose text is kept in the settings store under a key, with a default text.
#ifndef KALDER_UI_SETTINGSFIELDS_H
#define KALDER_UI_SETTINGSFIELDS_H

#include <QLineEdit>
#include <QSettings>
#include <QString>
#include <vector>

struct textField {
    QString key;
    QLineEdit* edit;
    QString defaultText;
};

inline void loadFields(QSettings& settings, const std::vector<textField>& fields) {
    for (const textField& f : fields) {
        f.edit->setText(settings.value(f.key, f.defaultText).toString());
    }
}

inline void storeFields(QSettings& settings, const std::vector<textField>& fields) {
    for (const textField& f : fields) {
        settings.setValue(f.key, f.edit->text());
    }
}

// Numbers typed into a line edit; 0 when the text is not a number.
inline double numberOf(const QLineEdit* edit) {
    return edit->text().toDouble();
}

// A count or delay typed into a line edit, as an unsigned integer (negative and non-numbers
// give 0).
inline unsigned countOf(const QLineEdit* edit) {
    const double value = edit->text().toDouble();
    return value > 0.0 ? static_cast<unsigned>(value) : 0u;
}

#endif  // KALDER_UI_SETTINGSFIELDS_H
