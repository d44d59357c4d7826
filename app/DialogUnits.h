#pragma once
// Dialog templates place controls in dialog units of an 8-point dialog font, whose base units are
// 6 x 13 pixels at 96 dpi: one horizontal unit is 1.5 px, one vertical unit 1.625 px.
#include <QRect>
#include <QSize>

// One coordinate in dialog units to pixels, rounded to the nearest pixel (halves away from zero).
inline int DluToPxX(int x) { return x >= 0 ? (x * 6 + 2) / 4 : -((-x * 6 + 2) / 4); }
inline int DluToPxY(int y) { return y >= 0 ? (y * 13 + 4) / 8 : -((-y * 13 + 4) / 8); }

// A template rectangle (x, y, width, height in dialog units) as a pixel rectangle. The edges are
// mapped, not the size, so neighbouring controls stay flush as in the template.
inline QRect DluRect(int x, int y, int w, int h)
{
    const int left = DluToPxX(x), top = DluToPxY(y);
    return QRect(left, top, DluToPxX(x + w) - left, DluToPxY(y + h) - top);
}

// A template's client size in pixels.
inline QSize DluSize(int w, int h) { return QSize(DluToPxX(w), DluToPxY(h)); }
