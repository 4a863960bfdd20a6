#include "ui/curvepalette.h"

namespace curvePalette {

namespace {
constexpr unsigned char RGB[SIZE][3] = {
    {255, 0, 0},   {0, 0, 0},      {102, 153, 0},   {0, 0, 255},  {100, 130, 100}, {75, 138, 140},
    {255, 0, 255}, {128, 0, 0},    {128, 128, 0},   {0, 158, 0},  {128, 0, 128},   {0, 128, 128},
    {178, 34, 34}, {0, 0, 128},    {230, 115, 0},   {62, 124, 0}, {0, 100, 0},     {75, 0, 130},
    {139, 69, 19}, {110, 80, 110}, {123, 104, 238}, {47, 79, 79}, {46, 139, 87},   {218, 165, 32},
    {205, 92, 92}, {129, 123, 47}};
}

QColor entry(int i) {
    const int k = ((i % SIZE) + SIZE) % SIZE;
    return QColor(RGB[k][0], RGB[k][1], RGB[k][2]);
}

QColor ivColour(int channel) {
    return entry(2 * channel);
}

QColor dIdEColour(int channel) {
    return entry(2 * channel + 1);
}

}  // namespace curvePalette
