#pragma once
// Text drawn as the Windows drawing calls of the panel and the closing notice draw it: fonts given
// by their cell height, and texts laid out from the top of their rectangle.
#include <QFont>
#include <QRect>
#include <QString>

class QTextLayout;

// Arial given by its cell height (ascent plus descent), as a positive Windows font height is: the
// largest pixel size whose cell, measured unrounded, is no taller. A 17-pixel cell is a 15-pixel
// em; rounded metrics would take 16 pixels and draw every text wider than its place.
QFont CellHeightFont(int cellHeight);

// Lays text out as DrawText places it, left and top aligned in rect: lines one cell height apart,
// each on the baseline the font gives it, so that characters a fallback font draws (Chinese) sit on
// the line of the Latin text beside them. With wordBreak the lines wrap at words; a line feed
// always starts a new line. The caller draws the layout and clips it to rect.
void LayoutGdiText(QTextLayout& layout, const QString& text, const QRect& rect, const QFont& font, bool wordBreak);
