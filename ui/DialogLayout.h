#pragma once
// What the dialogs share besides the time range: the anchoring of their
// controls on resize, the minimum window size, the date and time pickers and their value exchange,
// and, with the management dialog, the Enter key and the one-line handlers.
#include <QRect>
#include <QString>

#include <vector>

#include "platform/OleDateTime.h"

class QDateEdit;
class QDialog;
class QGroupBox;
class QTimeEdit;
class QWidget;

// The anchoring: the main control (the list, the chart) keeps its left and top edges and its
// distances to the right and bottom of the client area; every other control keeps its x
// position, its size and its distance to the bottom. Positions are recorded when the dialog
// opens and applied on every size change.
class DialogLayout {
public:
    // reference: the history dialog measures x positions from the right edge of its status line,
    // which never moves; nullptr keeps each control's own left edge (the graph dialog).
    DialogLayout(QWidget* dialog, QWidget* mainControl, std::vector<QWidget*> others, QWidget* reference = nullptr);

    void Record();
    void Apply();
    bool IsRecorded() const { return m_bRecorded; }

    // One entry per control, in table order (the main control first), four integers as stored.
    struct Entry {
        int a = 0, b = 0, c = 0, d = 0;
    };
    const std::vector<Entry>& Table() const { return m_table; }

private:
    int ReferenceRight() const;

    QWidget* m_pDialog;
    QWidget* m_pMain;
    std::vector<QWidget*> m_others;
    QWidget* m_pReference;
    std::vector<Entry> m_table;
    bool m_bRecorded = false;
};

// A window sized by dragging stays at least this large (frame included).
constexpr int kMinWindowWidth = 280;
constexpr int kMinWindowHeight = 250;
// Sets the minimum size of a top-level dialog so that its window, frame included, keeps
// 280 x 250 pixels. Call it again once the window is shown and the frame is known.
void ApplyMinimumWindowSize(QWidget* dialog);

// Nested group boxes as a dialog template places them assume frames whose top line runs through
// the middle of their title, as on Windows. A style that draws the title above the line (Fusion)
// needs more room: how many pixels the top of inner (a sibling inside outer) lies above the place
// below outer's top line where its contents may begin; 0 when the title of inner is clear of it.
int NestedTitleOverlap(QGroupBox* outer, const QGroupBox* inner);

// The pickers of the time range: a short-date picker with a four-digit year and a time-of-day
// picker with seconds, both with up-down arrows, placed at rect. The settings dialog's date
// pickers open a calendar instead.
enum class DatePickerStyle { UpDown, DropDownCalendar };
QDateEdit* CreateDatePicker(QWidget* parent, const QString& objectName, const QRect& rect,
                            DatePickerStyle style = DatePickerStyle::UpDown);
QTimeEdit* CreateTimePicker(QWidget* parent, const QString& objectName, const QRect& rect);
// Value exchange between a picker and its member (save = from the control into the value).
// A date picker's value is the date at 00:00:00, a time picker's 30 December 1899 at the time
// of day. An invalid value leaves the control unchanged.
void ExchangeDate(QDateEdit* picker, OleDateTime& value, bool save);
void ExchangeTime(QTimeEdit* picker, OleDateTime& value, bool save);

// The Enter key of the history, graph and management dialogs, as the Windows dialog manager takes
// it: on a push button it presses that button, anywhere else it ends the dialog as OK does.
void EnterEndsDialog(QDialog* dialog);

// The shared one-line handlers: Exit ends the dialog as Cancel does; a combo choice does nothing
// until Search is pressed.
void OnBnClickedExit(QDialog* dialog);
inline void OnDoNothing() {}
