#include "app/CloseDialo.h"

#include <QPainter>
#include <QTextLayout>
#include <QTimer>

#include "platform/StringTable.h"
#include "resources/resource.h"
#include "ui/GdiText.h"

CloseDialo::CloseDialo(QWidget* parent, int ms) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_nMs(ms)
{
    setObjectName(QStringLiteral(QV_ID_NAME(IDD_CLOSEDIALO)));
    OnInitDialog();
}

void CloseDialo::OnInitDialog()
{
    setFixedSize(477, 299);
    // Kept in the format the painter blends directly, so that painting converts nothing.
    m_background.load(QStringLiteral(":/images/%1.png").arg(IDB_CLOSING_BACKGROUND));
    if (!m_background.isNull()) m_background = m_background.convertToFormat(QImage::Format_RGB32);
}

void CloseDialo::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    QTimer::singleShot(m_nMs, this, &CloseDialo::OnTimer);
}

void CloseDialo::OnTimer() { accept(); }

// The text's place inside the one-pixel border, right and bottom edges exclusive.
QRect CloseDialo::TextRect() { return QRect(QPoint(1 + 45, 1 + 30), QPoint(1 + 400 - 1, 1 + 200 - 1)); }

QFont CloseDialo::TextFont() { return CellHeightFont(30); }

void CloseDialo::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // A thin border around the tiled picture, as a captionless pop-up has.
    const QRect client = rect().adjusted(1, 1, -1, -1);
    if (!m_background.isNull()) {
        painter.save();
        painter.setClipRect(client);
        for (int y = client.top(); y <= client.bottom(); y += m_background.height())
            for (int x = client.left(); x <= client.right(); x += m_background.width())
                painter.drawImage(x, y, m_background);
        painter.restore();
    } else {
        painter.fillRect(client, palette().window());
    }
    painter.setPen(Qt::black);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));

    painter.setPen(QColor(0x66, 0x66, 0x66));
    QTextLayout layout;
    LayoutGdiText(layout, QString::fromStdString(LoadString(IDS_PROGRAM_CLOSING)), TextRect(), TextFont(), false);
    painter.setClipRect(TextRect());
    layout.draw(&painter, QPointF());
}
