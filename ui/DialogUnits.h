#pragma once
// Dialog templates place controls in dialog units of an 8-point dialog font, whose base units are
// 6 x 13 pixels at 96 dpi: one horizontal unit is 1.5 px, one vertical unit 1.625 px.
#include <QFont>
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

// The font the dialog units are measured in: 8-point "MS Shell Dlg" at 96 dpi, for which Arial
// (fontconfig's Liberation Sans) at 11 pixels is the metric match. Dialogs laid out in dialog
// units set it, so that their texts fit the template's rectangles.
inline QFont DialogFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    return font;
}
