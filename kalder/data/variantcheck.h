// Bounded check of a QVariantMap in Qt's data-stream form, before Qt's own reader sees it.
#ifndef KALDER_DATA_VARIANTCHECK_H
#define KALDER_DATA_VARIANTCHECK_H

#include <QByteArray>

// True when `bytes` starts with a QVariantMap whose every count fits into the bytes and whose
// values are of the plain types a settings map holds (numbers, bools, strings, byte arrays,
// lists and maps of these). Unknown types give false.
bool isSerializedVariantMap(const QByteArray& bytes, int streamVersion);

#endif  // KALDER_DATA_VARIANTCHECK_H
