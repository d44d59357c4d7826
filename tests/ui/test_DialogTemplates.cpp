// Every dialog's controls where its template puts them (dialog units) when it opens and, for the
// two dialogs that anchor their controls, after the window has been sized.
#include <gtest/gtest.h>

#include <QDialog>
#include <QRegularExpression>

#include <functional>
#include <memory>
#include <vector>

#include "app/CAboutDlg.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"
#include "settings/CUpload.h"
#include "ui/DialogTestSupport.h"
#include "ui/DialogUnits.h"

namespace {

// How a control follows a change of the dialog's size: not at all, with both its right and bottom
// edges (the list, the chart), or keeping its distance to the bottom edge.
enum Anchor { kStays, kStretches, kFollowsBottom };
// A drop-down list's template height is that of its open list; the closed box is one line high.
constexpr int kOneLine = 1;
// An icon is as large as its picture.
constexpr int kPositionOnly = 2;
// A group box around group boxes rises above its template place as far as the style needs to keep
// their titles clear of its own frame line.
constexpr int kTitleRoom = 4;

struct Control {
    const char* name;
    int x, y, w, h;
    Anchor anchor = kStays;
    int flags = 0;
};

// Where a control stands, compared as far as its flags allow.
void ExpectAt(QWidget* w, const QRect& expected, int flags)
{
    const QRect r = w->geometry();
    EXPECT_EQ(r.topLeft().x(), expected.x());
    if (flags & kPositionOnly) {
        EXPECT_EQ(r.y(), expected.y());
        return;
    }
    EXPECT_EQ(r.width(), expected.width());
    if (flags & kTitleRoom) {
        EXPECT_LE(r.y(), expected.y());
        EXPECT_EQ(r.bottom(), expected.bottom());
    } else {
        EXPECT_EQ(r.y(), expected.y());
        if (!(flags & kOneLine)) {
            EXPECT_EQ(r.height(), expected.height());
        }
    }
}

// Where the controls whose names match a pattern lie, for a template given by its areas.
struct Area {
    const char* pattern;
    int x, y, w, h;
};

struct Template {
    const char* name;
    std::function<std::unique_ptr<QDialog>()> open;
    int w, h;    // client size in dialog units; 0: the template's is not fixed
    bool sized;  // the user may size the window
    std::vector<Control> controls;
    std::vector<Area> areas;  // the first one whose pattern matches
};

}  // namespace

TEST_F(DialogTest, ControlsStandWhereTheirTemplatesPutThem)
{
    const Template templates[] = {
        {"history",
         [] { return std::make_unique<Main>(); },
         526,
         288,
         true,
         {{"IDC_HISTORY_LIST", 7, 18, 512, 206, kStretches},
          {"IDC_HISTORY_START_LABEL", 12, 239, 117, 8, kFollowsBottom},
          {"IDC_HISTORY_END_LABEL", 150, 239, 119, 8, kFollowsBottom},
          {"IDC_HISTORY_SEARCH", 390, 252, 50, 14, kFollowsBottom},
          {"IDC_HISTORY_DEVICE_LABEL", 293, 239, 51, 8, kFollowsBottom},
          {"IDC_HISTORY_DEVICE", 293, 253, 78, 38, kFollowsBottom, kOneLine},
          {"IDC_HISTORY_START_DATE", 13, 252, 62, 15, kFollowsBottom},
          {"IDC_HISTORY_START_TIME", 80, 252, 56, 15, kFollowsBottom},
          {"IDC_HISTORY_END_DATE", 151, 252, 62, 15, kFollowsBottom},
          {"IDC_HISTORY_END_TIME", 219, 252, 56, 15, kFollowsBottom},
          {"IDC_HISTORY_GROUP", 7, 229, 512, 52, kFollowsBottom},
          {"IDC_HISTORY_STATUS", 7, 7, 235, 8, kStays},
          {"IDC_HISTORY_EXIT", 458, 252, 50, 14, kFollowsBottom},
          {"IDC_HISTORY_NOTE", 294, 266, 214, 8, kFollowsBottom},
          {"IDC_HISTORY_EXPORT", 390, 235, 118, 14, kFollowsBottom}},
         {}},
        {"graph",
         [] { return std::make_unique<Grapsh>(); },
         623,
         323,
         true,
         {{"IDC_GRAPH_CHART", 7, 26, 609, 235, kStretches},
          {"IDC_GRAPH_GROUP", 7, 263, 609, 53, kFollowsBottom},
          {"IDC_GRAPH_START_LABEL", 14, 276, 100, 8, kFollowsBottom},
          {"IDC_GRAPH_START_DATE", 14, 289, 62, 15, kFollowsBottom},
          {"IDC_GRAPH_START_TIME", 81, 289, 56, 15, kFollowsBottom},
          {"IDC_GRAPH_END_LABEL", 154, 276, 109, 8, kFollowsBottom},
          {"IDC_GRAPH_END_DATE", 154, 289, 62, 15, kFollowsBottom},
          {"IDC_GRAPH_END_TIME", 222, 289, 56, 15, kFollowsBottom},
          {"IDC_GRAPH_DEVICE_LABEL", 288, 277, 58, 8, kFollowsBottom},
          {"IDC_GRAPH_DEVICE", 287, 290, 78, 38, kFollowsBottom, kOneLine},
          {"IDC_GRAPH_TYPE_LABEL", 385, 277, 34, 8, kFollowsBottom},
          {"IDC_GRAPH_TYPE", 384, 290, 62, 45, kFollowsBottom, kOneLine},
          {"IDC_GRAPH_EXPORT", 468, 274, 122, 14, kFollowsBottom},
          {"IDC_GRAPH_SEARCH", 468, 289, 50, 14, kFollowsBottom},
          {"IDC_GRAPH_EXIT", 540, 289, 50, 14, kFollowsBottom},
          {"IDC_GRAPH_NOTE", 289, 304, 298, 8, kFollowsBottom},
          {"IDC_GRAPH_TITLE", 7, 11, 67, 15, kStays}},
         {}},
        {"management",
         [] { return std::make_unique<DeleteHistory>(); },
         0,
         0,
         false,
         {{"IDC_MANAGE_GROUP", 7, 7, 201, 88, kStays, kTitleRoom},
          {"IDC_MANAGE_DEVICE_GROUP", 9, 16, 96, 76},
          {"IDC_MANAGE_DEVICE", 15, 29, 78, 30, kStays, kOneLine},
          {"IDC_MANAGE_DELETE_DATABASE", 10, 54, 91, 35},
          {"IDC_MANAGE_CURRENT_GROUP", 110, 16, 95, 76},
          {"IDC_MANAGE_CURRENT_ID", 124, 31, 74, 8},
          {"IDC_MANAGE_DELETE_DEVICE", 114, 54, 88, 35}},
         {}},
        {"About",
         [this] { return std::make_unique<CAboutDlg>(m_dir.File("Main.ini")); },
         191,
         63,
         false,
         {{"IDR_MAINFRAME", 14, 14, 0, 0, kStays, kPositionOnly},
          {"IDC_ABOUT_PRODUCT", 42, 14, 114, 8},
          {"IDC_ABOUT_COPYRIGHT", 42, 26, 114, 8},
          {"IDC_ABOUT_EXIT", 134, 42, 50, 14},
          {"IDC_ABOUT_VISIT", 10, 36, 73, 8},
          {"IDC_ABOUT_LINK", 21, 44, 104, 10}},
         {}},
        // In segmented mode, at its full size. The display, interval, offset and button area lies
        // above y 209 and left of x 368, the four periods below it: the window without them
        // (outside segmented mode) shows the rest.
        {"settings",
         [] { return std::make_unique<CSetupParam>(); },
         414,
         404,
         false,
         {},
         {{"^IDC_SETUP_(PERIOD|START_|END_|DATE_CAPTION|TIME_CAPTION)", 0, 209, 414, 404 - 209}, {"", 0, 0, 368, 209}}},
        {"upload", [this] { return std::make_unique<CUpload>(m_dir.Path(), nullptr); }, 316, 193, false, {}, {}},
    };
    theDeviceState.m_nMode = 2;
    theDeviceState.m_nScreenWidth = 1920;
    theDeviceState.m_nScreenHeight = 1080;

    for (const Template& t : templates) {
        SCOPED_TRACE(t.name);
        const std::unique_ptr<QDialog> dlg = t.open();
        dlg->show();
        if (t.w > 0) {
            EXPECT_EQ(dlg->size(), DluSize(t.w, t.h));
        }
        // Every control lies inside the window, in its area.
        for (QWidget* w : dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (w->isHidden()) continue;  // shown only in a state of their own (an erase's wait)
            const std::string name = w->objectName().toStdString();
            EXPECT_TRUE(dlg->rect().contains(w->geometry())) << name;
            for (const Area& a : t.areas) {
                if (!QRegularExpression(QLatin1String(a.pattern)).match(w->objectName()).hasMatch()) continue;
                EXPECT_TRUE(DluRect(a.x, a.y, a.w, a.h).contains(w->geometry())) << name << " outside " << a.pattern;
                break;
            }
        }
        // As opened, sized larger and smaller, and back.
        const QSize opened = dlg->size();
        for (QSize change : {QSize(0, 0), QSize(200, 150), QSize(-100, -60), QSize(0, 0)}) {
            if (!t.sized && !change.isNull()) continue;
            dlg->resize(opened + change);
            for (const Control& c : t.controls) {
                SCOPED_TRACE(testing::Message() << c.name << " sized by " << change.width() << ", " << change.height());
                QWidget* w = dlg->findChild<QWidget*>(QLatin1String(c.name));
                ASSERT_NE(w, nullptr);
                const QRect at = DluRect(c.x, c.y, c.w, c.h);
                ExpectAt(w,
                         c.anchor == kStretches       ? at.adjusted(0, 0, change.width(), change.height())
                         : c.anchor == kFollowsBottom ? at.translated(0, change.height())
                                                      : at,
                         c.flags);
            }
        }
    }
}
