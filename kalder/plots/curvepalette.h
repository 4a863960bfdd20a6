// The fixed colours of the trace plots. Channel c draws with entries 2c and 2c+1; the table
// has 26 entries, so the indices wrap around and channels 13 and up reuse the colours of
// channels 0, 1, ... instead of reading past the table.
#ifndef KALDER_PLOTS_CURVEPALETTE_H
#define KALDER_PLOTS_CURVEPALETTE_H

#include <QColor>
#include <array>

namespace curvePalette {

constexpr int SIZE = 26;

struct rgb {
    int r, g, b;
};

constexpr std::array<rgb, SIZE> ENTRIES{{
    {255, 0, 0},   {0, 0, 0},      {102, 153, 0},   {0, 0, 255},  {100, 130, 100}, {75, 138, 140},
    {255, 0, 255}, {128, 0, 0},    {128, 128, 0},   {0, 158, 0},  {128, 0, 128},   {0, 128, 128},
    {178, 34, 34}, {0, 0, 128},    {230, 115, 0},   {62, 124, 0}, {0, 100, 0},     {75, 0, 130},
    {139, 69, 19}, {110, 80, 110}, {123, 104, 238}, {47, 79, 79}, {46, 139, 87},   {218, 165, 32},
    {205, 92, 92}, {129, 123, 47},
}};

// Entry `index` of the palette, any integer taken modulo the table size.
inline QColor color(int index) {
    const int i = ((index % SIZE) + SIZE) % SIZE;
    return QColor(ENTRIES[i].r, ENTRIES[i].g, ENTRIES[i].b);
}

// First (IV) or second (dI/dE) colour of a zero-based channel.
inline QColor channelColor(int channel, bool second = false) {
    return color(2 * channel + (second ? 1 : 0));
}

}  // namespace curvePalette

#endif  // KALDER_PLOTS_CURVEPALETTE_H
