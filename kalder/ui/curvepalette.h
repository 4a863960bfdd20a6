// The fixed colours of the trace plots. Channel c draws its IV curve with entry 2c and its
// dI/dE curve with entry 2c+1; the palette has 26 entries, so from channel 13 on the entries
// wrap around to the start instead of reading past the end.
#ifndef KALDER_UI_CURVEPALETTE_H
#define KALDER_UI_CURVEPALETTE_H

#include <QColor>

namespace curvePalette {

constexpr int SIZE = 26;

// Entry i of the palette, taken modulo its size (negative indices wrap as well).
QColor entry(int i);
QColor ivColour(int channel);
QColor dIdEColour(int channel);

}  // namespace curvePalette

#endif  // KALDER_UI_CURVEPALETTE_H
