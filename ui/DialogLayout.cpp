#include "ui/DialogLayout.h"

#include <QDateEdit>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLocale>
#include <QPushButton>
#include <QStyle>
#include <QTimeEdit>
#include <QWidget>

#include <algorithm>
#include <utility>

DialogLayout::DialogLayout(QWidget* dialog, QWidget* mainControl, std::vector<QWidget*> others, QWidget* reference)
    : m_pDialog(dialog), m_pMain(mainControl), m_others(std::move(others)), m_pReference(reference)
{}

int DialogLayout::ReferenceRight() const
{
    if (!m_pReference) return 0;
    const QRect r = m_pReference->geometry();
    return r.x() + r.width();
}

void DialogLayout::Record()
{
    const int W = m_pDialog->width(), H = m_pDialog->height();
    m_table.clear();
    const QRect m = m_pMain->geometry();
    m_table.push_back({m.x(), W - (m.x() + m.width()), m.y(), H - (m.y() + m.height())});
    const int refRight = ReferenceRight();
    for (QWidget* w : m_others) {
        const QRect r = w->geometry();
        m_table.push_back({r.x() - refRight, r.height(), r.width(), H - (r.y() + r.height())});
    }
    m_bRecorded = true;
    m_pDialog->update();
}

void DialogLayout::Apply()
{
    if (!m_bRecorded) return;
    const int W = m_pDialog->width(), H = m_pDialog->height();
    const Entry& m = m_table[0];
    m_pMain->setGeometry(m.a, m.c, W - m.b - m.a, H - m.d - m.c);
    const int refRight = ReferenceRight();
    for (std::size_t i = 0; i < m_others.size(); ++i) {
        const Entry& e = m_table[i + 1];
        m_others[i]->setGeometry(e.a + refRight, H - e.d - e.b, e.c, e.b);
    }
    m_pDialog->update();
}

void ApplyMinimumWindowSize(QWidget* dialog)
{
    // The frame is known only once the window manager has decorated the window (none offscreen).
    const QRect frame = dialog->frameGeometry(), client = dialog->geometry();
    const int extraW = dialog->isVisible() ? frame.width() - client.width() : 0;
    const int extraH = dialog->isVisible() ? frame.height() - client.height() : 0;
    dialog->setMinimumSize(std::max(0, kMinWindowWidth - extraW), std::max(0, kMinWindowHeight - extraH));
}

namespace {

// The locale's short date, always with a four-digit year so that no century is guessed.
QString ShortDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy"))) format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

}  // namespace

QDateEdit* CreateDatePicker(QWidget* parent, const QString& objectName, const QRect& rect, DatePickerStyle style)
{
    auto* picker = new QDateEdit(parent);
    picker->setObjectName(objectName);
    picker->setGeometry(rect);
    picker->setDisplayFormat(ShortDateFormat());
    picker->setCalendarPopup(style == DatePickerStyle::DropDownCalendar);
    picker->setMinimumDate(QDate(1601, 1, 1));
    picker->setMaximumDate(QDate(9999, 12, 31));
    return picker;
}

QTimeEdit* CreateTimePicker(QWidget* parent, const QString& objectName, const QRect& rect)
{
    auto* picker = new QTimeEdit(parent);
    picker->setObjectName(objectName);
    picker->setGeometry(rect);
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    return picker;
}

void ExchangeDate(QDateEdit* picker, OleDateTime& value, bool save)
{
    if (save) {
        const QDate d = picker->date();
        value = OleDateTime(d.year(), d.month(), d.day(), 0, 0, 0);
        return;
    }
    OleDateTimeFields f;
    if (!value.IsValid() || !value.GetFields(f)) return;
    picker->setDate(QDate(f.year, f.month, f.day));
}

void ExchangeTime(QTimeEdit* picker, OleDateTime& value, bool save)
{
    if (save) {
        const QTime t = picker->time();
        value = OleDateTime(1899, 12, 30, t.hour(), t.minute(), t.second());
        return;
    }
    OleDateTimeFields f;
    if (!value.IsValid() || !value.GetFields(f)) return;
    picker->setTime(QTime(f.hour, f.minute, f.second));
}

namespace {

// Sees the Enter keys that reach the dialog: those its controls leave to it.
class EnterKeyFilter : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        auto* dialog = static_cast<QDialog*>(watched);
        if (auto* button = qobject_cast<QPushButton*>(dialog->focusWidget())) {
            if (button->isEnabled()) button->click();
        } else {
            dialog->accept();
        }
        return true;
    }
};

}  // namespace

void EnterEndsDialog(QDialog* dialog) { dialog->installEventFilter(new EnterKeyFilter(dialog)); }

void OnBnClickedExit(QDialog* dialog) { dialog->reject(); }

int NestedTitleOverlap(QGroupBox* outer, const QGroupBox* inner)
{
    outer->ensurePolished();  // the style's margins of the box, title included
    // Some styles (Fusion) let the contents begin on the frame's top line itself: a frame's width
    // below that is clear of it in every style.
    const int line = outer->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, outer);
    return std::max(0, outer->y() + outer->contentsRect().top() + line - inner->y());
}
