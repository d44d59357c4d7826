// The program's message-box service with real Qt boxes, answered as a user answers them: a click
// on every button of every button set, Escape, Enter on the default button and the window's
// close, each on the UI thread and from a worker thread.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <string>
#include <thread>

#include "ui/ModalHelper.h"
#include "ui/QtMessageBoxService.h"
#include "ui/ViewTestSupport.h"

namespace {

enum class Act { Click, Escape, Enter, Close };

struct Case {
    MsgButtons buttons;
    MsgDefault defaultButton;
    Act act;
    QMessageBox::StandardButton clicked;  // for Act::Click
    MsgAnswer expected;
};

QMessageBox::StandardButtons ButtonsOf(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

std::string Describe(const Case& c)
{
    static const char* const sets[] = {"Ok", "OkCancel", "YesNo"};
    static const char* const acts[] = {"click", "Escape", "Enter", "close"};
    std::string text = std::string(sets[static_cast<int>(c.buttons)]) +
                       (c.defaultButton == MsgDefault::Second ? " (second default) " : " ") +
                       acts[static_cast<int>(c.act)];
    if (c.act == Act::Click) {
        text += c.clicked == QMessageBox::Ok       ? " Ok"
                : c.clicked == QMessageBox::Cancel ? " Cancel"
                : c.clicked == QMessageBox::Yes    ? " Yes"
                                                   : " No";
    }
    return text;
}

// Answers the box as the case says; a box that stays open is a failure (and is then closed).
void Answer(QMessageBox* box, const Case& c)
{
    EXPECT_EQ(box->thread(), qApp->thread());
    EXPECT_EQ(box->text(), QStringLiteral("Question?"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("quorvantis"));
    EXPECT_EQ(box->icon(), QMessageBox::Question);
    EXPECT_EQ(box->standardButtons(), ButtonsOf(c.buttons));
    switch (c.act) {
    case Act::Click:
        ASSERT_NE(box->button(c.clicked), nullptr);
        QTest::mouseClick(box->button(c.clicked), Qt::LeftButton);
        break;
    case Act::Escape: QTest::keyClick(box, Qt::Key_Escape); break;
    case Act::Enter:
        // Where the keyboard focus is, as a key press goes.
        QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, Qt::Key_Return);
        break;
    case Act::Close: box->close(); break;
    }
    if (box->isVisible()) {
        ADD_FAILURE() << "the box is still open";
        box->buttons().constFirst()->click();
    }
}

}  // namespace

TEST(QtMessageBoxService, EveryButtonOfEverySetAnswersAsClicked)
{
    using B = QMessageBox;
    const MsgDefault first = MsgDefault::First, second = MsgDefault::Second;
    const MsgButtons ok = MsgButtons::Ok, okCancel = MsgButtons::OkCancel, yesNo = MsgButtons::YesNo;
    const Case cases[] = {
        {ok, first, Act::Click, B::Ok, MsgAnswer::Ok},
        {ok, first, Act::Escape, B::NoButton, MsgAnswer::Ok},
        {ok, first, Act::Enter, B::NoButton, MsgAnswer::Ok},
        {ok, first, Act::Close, B::NoButton, MsgAnswer::Ok},

        {okCancel, first, Act::Click, B::Ok, MsgAnswer::Ok},
        {okCancel, first, Act::Click, B::Cancel, MsgAnswer::Cancel},
        {okCancel, first, Act::Enter, B::NoButton, MsgAnswer::Ok},
        {okCancel, second, Act::Click, B::Ok, MsgAnswer::Ok},
        {okCancel, second, Act::Click, B::Cancel, MsgAnswer::Cancel},
        {okCancel, second, Act::Enter, B::NoButton, MsgAnswer::Cancel},
        {okCancel, second, Act::Escape, B::NoButton, MsgAnswer::Cancel},
        {okCancel, second, Act::Close, B::NoButton, MsgAnswer::Cancel},

        {yesNo, first, Act::Click, B::Yes, MsgAnswer::Yes},
        {yesNo, first, Act::Click, B::No, MsgAnswer::No},
        {yesNo, first, Act::Enter, B::NoButton, MsgAnswer::Yes},
        {yesNo, second, Act::Enter, B::NoButton, MsgAnswer::No},
        {yesNo, first, Act::Escape, B::NoButton, MsgAnswer::No},
        {yesNo, first, Act::Close, B::NoButton, MsgAnswer::No},
    };
    QtMessageBoxService service;
    for (const Case& c : cases) {
        for (bool fromWorker : {false, true}) {
            SCOPED_TRACE(Describe(c) + (fromWorker ? ", from a worker" : ", on the UI thread"));
            bool answered = false;
            WhenModal(QStringLiteral("MessageBox"), [&](QWidget* w) {
                answered = true;
                Answer(static_cast<QMessageBox*>(w), c);
            });
            auto show = [&] {
                return service.ShowWithDefault("Question?", "quorvantis", c.buttons, MsgIcon::Question,
                                               c.defaultButton);
            };
            MsgAnswer answer{};
            if (fromWorker) {
                std::atomic<bool> done{false};
                std::thread worker([&] {
                    answer = show();
                    done = true;
                });
                EXPECT_TRUE(WaitUntil([&] { return done.load(); })) << "the worker's box was never answered";
                JoinWithin(worker, "the worker to get its answer");
            } else {
                answer = show();
            }
            EXPECT_TRUE(answered);
            EXPECT_EQ(answer, c.expected);
        }
    }
}
