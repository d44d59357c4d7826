#include "ui/GdiText.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <QTextOption>

QFont CellHeightFont(int cellHeight)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(QFont::Normal);
    for (int px = cellHeight; px > 1; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).height() <= cellHeight) break;
    }
    return font;
}

void LayoutGdiText(QTextLayout& layout, const QString& text, const QRect& rect, const QFont& font, bool wordBreak)
{
    QString lines = text;
    lines.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(lines);
    layout.setFont(font);
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(wordBreak ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    const QFontMetricsF metrics(font);
    qreal baseline = rect.top() + metrics.ascent();
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(rect.left(), baseline - line.ascent()));
        baseline += metrics.height();
    }
    layout.endLayout();
}
