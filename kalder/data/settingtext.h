// A value of a data set's settings map as one line of text.
#ifndef KALDER_DATA_SETTINGTEXT_H
#define KALDER_DATA_SETTINGTEXT_H

#include <QString>
#include <QVariant>

// Strings and numbers as they are, lists and maps as compact JSON.
QString settingText(const QVariant& value);

#endif  // KALDER_DATA_SETTINGTEXT_H
