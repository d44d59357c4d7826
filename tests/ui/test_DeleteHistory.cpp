// The management dialog over a database in a fresh data folder, with the simulator as the
// connected recorder: the texts, the database deletion, the device erase and which answers close
// the dialog, and a screenshot.
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <functional>
#include <thread>

#include "device/RecordNode.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "resources/resource.h"
#include "ui/DialogTestSupport.h"
#include "ui/QtMessageBoxService.h"

namespace {

class DeleteHistoryTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        for (const char* id : {"00123456", "00ABCDEF"}) {
            AddDevice(id);
            AddRecord(id, "2024-03-01 10:10:00", " 21.5", "40");
            AddRecord(id, "2024-03-01 10:20:00", " 22.5", "41");
        }
    }

    static QPushButton* Button(DeleteHistory& dlg, const char* name)
    {
        return dlg.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QPushButton* DatabaseButton(DeleteHistory& dlg) { return Button(dlg, QV_ID_NAME(IDC_MANAGE_DELETE_DATABASE)); }
    static QPushButton* DeviceButton(DeleteHistory& dlg) { return Button(dlg, QV_ID_NAME(IDC_MANAGE_DELETE_DEVICE)); }
    static QString CurrentId(DeleteHistory& dlg)
    {
        return dlg.findChild<QLabel*>(QStringLiteral(QV_ID_NAME(IDC_MANAGE_CURRENT_ID)))->text();
    }

    // Queues one downloaded record of the device, as a download under way would.
    // The record queue's head, as the view allocates it.
    static void EnsureQueue()
    {
        std::lock_guard<std::mutex> lock(theDeviceState.m_csQueue);
        if (!theDeviceState.m_pQueueHead) theDeviceState.m_pQueueHead = AllocRecordNode();
    }
    static void QueueRecord(std::uint32_t id)
    {
        EnsureQueue();
        theDeviceState.QueueRecord(id, 0, 88, 60, 635, 45, 1, OleDateTime(2024, 3, 1, 10, 30, 0));
    }
    static bool Queued() { return theDeviceState.HasQueuedRecords(); }

    // The record writer of the program, while the object lives.
    struct RecordWriter {
        std::thread thread{[] {
            while (theDeviceState.WaitForWriterWork()) theDeviceState.StoreQueuedRecords();
        }};
        ~RecordWriter()
        {
            theDeviceState.RequestQuit();
            JoinWithin(thread, "the record writer to end once asked to quit");
            theDeviceState.m_bQuit = 0;
        }
    };

    int Rows(const std::string& id) { return Count("SELECT count(*) FROM Records WHERE ID='" + id + "'"); }
    int DeviceRows(const std::string& id) { return Count("SELECT count(*) FROM Device WHERE DevID='" + id + "'"); }
};

TEST_F(DeleteHistoryTest, CurrentIdAndSelection)
{
    {
        DeleteHistory dlg;
        EXPECT_EQ(CurrentId(dlg), QStringLiteral("--------"));  // ID 0
        EXPECT_FALSE(DeviceButton(dlg)->isEnabled());            // no recorder
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00123456"));  // first when none connected
    }
    // A connected recorder whose ID is 0 is looked for as "00000000".
    AddDevice("00000000");
    Connect(0);
    {
        DeleteHistory dlg;
        EXPECT_EQ(CurrentId(dlg), QStringLiteral("--------"));
        EXPECT_TRUE(DeviceButton(dlg)->isEnabled());
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00000000"));
    }
    theDeviceState.m_Link.Close();
    Connect(0x00ABCDEF);
    {
        DeleteHistory dlg;
        EXPECT_EQ(CurrentId(dlg), QStringLiteral("00ABCDEF"));
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00ABCDEF"));
    }
}

TEST_F(DeleteHistoryTest, EmptyTableDeletesTheEmptyIdAndStillReportsSuccess)
{
    ExecSql("DELETE FROM Device");
    DeleteHistory dlg;
    EXPECT_EQ(dlg.m_cbDevice->count(), 0);
    m_boxes->PushAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    const auto boxes = m_boxes->Entries();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Are you sure to delete device information from database of the ID ?");
    EXPECT_EQ(boxes[0].caption, "Notice");
    EXPECT_EQ(boxes[0].buttons, MsgButtons::OkCancel);
    EXPECT_EQ(boxes[0].icon, MsgIcon::Warning);
    EXPECT_EQ(boxes[0].defaultButton, MsgDefault::Second);
    EXPECT_EQ(boxes[1].text, "Successfully deleted information and history data from database");
    EXPECT_EQ(boxes[1].icon, MsgIcon::Information);
    EXPECT_EQ(boxes[1].caption, AppDisplayName());
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);
    EXPECT_EQ(Rows("00123456"), 2);
    EXPECT_EQ(Rows("00ABCDEF"), 2);
}

TEST_F(DeleteHistoryTest, DeletingTheConnectedDeviceEmptiesItsRowsAndRaisesTheFlags)
{
    Connect(0x00123456);
    theDeviceState.m_bDeviceKnown = 1;
    QueueRecord(0x00123456);  // downloaded before the deletion, not yet stored
    const unsigned generation = theDeviceState.m_nGeneration;
    DeleteHistory dlg;
    ASSERT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00123456"));
    m_boxes->PushAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    ASSERT_EQ(m_boxes->Count(), 2u);
    EXPECT_EQ(m_boxes->Entries()[0].text,
              "Are you sure to delete device information from database of the ID 00123456?");
    EXPECT_EQ(m_boxes->Entries()[1].text, "Successfully deleted information and history data from database");
    EXPECT_EQ(Rows("00123456"), 0);
    EXPECT_EQ(DeviceRows("00123456"), 0);
    EXPECT_EQ(Rows("00ABCDEF"), 2);
    EXPECT_EQ(DeviceRows("00ABCDEF"), 1);
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);
    // What was queued would continue rows that are gone; a walk under way is overtaken.
    EXPECT_FALSE(Queued());
    EXPECT_NE(theDeviceState.m_nGeneration.load(), generation);
    // The next walk reads the Device table again itself: nothing here changes what it will find.
    EXPECT_EQ(theDeviceState.m_bDeviceKnown.load(), 1);
    // The list is rebuilt from the table.
    ASSERT_EQ(dlg.m_cbDevice->count(), 1);
    EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("00ABCDEF"));
}

TEST_F(DeleteHistoryTest, DeletingAnotherDevicesIdRaisesTheFlagsToo)
{
    Connect(0x00123456);
    theDeviceState.m_bDeviceKnown = 1;
    QueueRecord(0x00123456);
    const unsigned generation = theDeviceState.m_nGeneration;
    DeleteHistory dlg;
    dlg.m_cbDevice->setCurrentIndex(dlg.m_cbDevice->findText(QStringLiteral("00ABCDEF")));
    m_boxes->PushAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    EXPECT_EQ(Rows("00ABCDEF"), 0);
    EXPECT_EQ(DeviceRows("00ABCDEF"), 0);
    EXPECT_EQ(Rows("00123456"), 2);
    EXPECT_EQ(DeviceRows("00123456"), 1);
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);
    // The connected device's records and its walk are no concern of this deletion.
    EXPECT_TRUE(Queued());
    EXPECT_EQ(theDeviceState.m_nGeneration.load(), generation);
    EXPECT_EQ(theDeviceState.m_bDeviceKnown.load(), 1);
}

TEST_F(DeleteHistoryTest, DeletingAnotherDevicesRowsWhileAWalkLooksAtItsResumePointStoresEachRecordOnce)
{
    // The connected recorder's walk has loaded its Device row and not yet looked at it when the
    // user deletes another device's rows: the walk resumes from that row or stops, and never
    // takes the recorder for a new one (which would store its records a second time).
    ExecSql("DELETE FROM Records WHERE ID='00123456'");
    ExecSql("DELETE FROM Device WHERE DevID='00123456'");
    auto device = Connect(0x00123456);
    EnsureQueue();
    theDeviceState.m_nNewDeviceWaitMs = 0;
    device->FillRing(0, 1000);
    ASSERT_EQ(theDeviceState.ReadConfig(), 1);
    ASSERT_EQ(theDeviceState.DownloadHistory(), 1);
    theDeviceState.FlushRecordQueue();
    ASSERT_EQ(Rows("00123456"), 1000);
    device->TakeRecords(500);

    std::mutex m;
    std::condition_variable cv;
    bool loaded = false, go = false;
    theDeviceState.m_fnTestHook = [&](CDeviceState::TestPoint point) {
        if (point != CDeviceState::TestPoint::WalkLoadedDeviceRow) return;
        std::unique_lock<std::mutex> lock(m);
        loaded = true;
        cv.notify_all();
        EXPECT_TRUE(cv.wait_for(lock, kWaitBound, [&] { return go; })) << "the walk was never let go on";
    };
    std::thread walk([] { theDeviceState.DownloadHistory(); });
    {
        std::unique_lock<std::mutex> lock(m);
        EXPECT_TRUE(cv.wait_for(lock, kWaitBound, [&] { return loaded; })) << "the walk never loaded the Device row";
    }
    {
        DeleteHistory dlg;
        dlg.m_cbDevice->setCurrentIndex(dlg.m_cbDevice->findText(QStringLiteral("00ABCDEF")));
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    }
    {
        std::lock_guard<std::mutex> lock(m);
        go = true;
    }
    cv.notify_all();
    JoinWithin(walk, "the download to end");
    theDeviceState.m_fnTestHook = nullptr;
    theDeviceState.FlushRecordQueue();
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(theDeviceState.DownloadHistory(), 1);
        theDeviceState.FlushRecordQueue();
    }
    EXPECT_EQ(Rows("00123456"), 1500);
    EXPECT_EQ(Rows("00ABCDEF"), 0);
}

TEST_F(DeleteHistoryTest, CancelOnEitherConfirmationClosesAndChangesNothing)
{
    auto device = Connect(0x00123456);
    {
        DeleteHistory dlg;
        m_boxes->PushAnswer(MsgAnswer::Cancel);
        EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    }
    {
        DeleteHistory dlg;
        m_boxes->PushAnswer(MsgAnswer::Cancel);
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
    }
    const auto boxes = m_boxes->Entries();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Are you sure to delete device history record of the ID 00123456?");
    EXPECT_EQ(boxes[1].caption, "Notice");
    EXPECT_EQ(boxes[1].defaultButton, MsgDefault::Second);
    EXPECT_EQ(Rows("00123456"), 2);
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 0);
    EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
    EXPECT_EQ(device->Counters().erases, 0);
}

TEST_F(DeleteHistoryTest, DeviceEraseAcknowledgedRefusedAndWithoutDevice)
{
    auto device = Connect(0x00123456);
    device->FillRing(0, 100);
    ASSERT_FALSE(device->Records().empty());

    // Downloaded records wait in the queue and the database refuses them: nothing is sent, the
    // user is told why, the records stay queued.
    ExecSql("CREATE TRIGGER full BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");
    QueueRecord(0x00123456);
    {
        const unsigned drainsBefore = theDeviceState.m_nDrains;
        RecordWriter writer;
        // The writer's first failure is told before the confirmation: the scripted answer below is
        // the confirmation's, not taken by the writer's box.
        ASSERT_TRUE(WaitUntil([&] { return theDeviceState.m_nDrains != drainsBefore; }));
        DeleteHistory dlg;
        const int erasesBefore = device->Counters().erases;
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_FALSE(PressCloses(dlg, DeviceButton(dlg)));
        // The confirmation, then the writer's failure and the refusal in either order.
        ASSERT_TRUE(WaitUntil([&] { return m_boxes->Count() >= 3; }));
        const auto boxes = m_boxes->Entries();
        ASSERT_EQ(boxes.size(), 3u);
        const std::string refusal =
            "The downloaded records cannot be stored in the database, so the device records were not "
            "deleted. Try again once the database stores them.";
        EXPECT_TRUE(boxes[1].text == refusal || boxes[2].text == refusal);
        EXPECT_EQ(device->Counters().erases, erasesBefore);
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
        EXPECT_TRUE(Queued());
        EXPECT_TRUE(DeviceButton(dlg)->isEnabled());
    }
    // Once the database takes them the erase goes ahead, after they are stored.
    ExecSql("DROP TRIGGER full");
    m_boxes->Clear();
    {
        RecordWriter writer;
        DeleteHistory dlg;
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
        ASSERT_EQ(m_boxes->Count(), 2u);
        EXPECT_EQ(m_boxes->Entries()[1].text, "Successfully Delete device records");
        EXPECT_FALSE(Queued());
        EXPECT_EQ(Rows("00123456"), 3);
        EXPECT_TRUE(device->Records().empty());
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 1);
    }
    theDeviceState.m_bDeviceErased = 0;
    device->FillRing(0, 100);
    m_boxes->Clear();

    // Refused (every retry): 1110, the dialog stays open, no flag.
    {
        DeleteHistory dlg;
        device->InjectFault(sim::Fault::Refusal, 100);
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_FALSE(PressCloses(dlg, DeviceButton(dlg)));
        ASSERT_EQ(m_boxes->Count(), 2u);
        EXPECT_EQ(m_boxes->Entries()[1].text, "Failed Delete device records");
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
        EXPECT_FALSE(device->Records().empty());
        device->ClearFaults();
    }
    // Acknowledged: the recorder is erased, the flag raised, 1109, closed.
    m_boxes->Clear();
    {
        DeleteHistory dlg;
        const int erasesBefore = device->Counters().erases;
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
        ASSERT_EQ(m_boxes->Count(), 2u);
        EXPECT_EQ(m_boxes->Entries()[1].text, "Successfully Delete device records");
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 1);
        EXPECT_EQ(device->Counters().erases, erasesBefore + 1);
        EXPECT_TRUE(device->Records().empty());
    }
    // The recorder went away after the dialog opened: 1111, no confirmation, stays open.
    m_boxes->Clear();
    theDeviceState.m_bDeviceErased = 0;
    {
        DeleteHistory dlg;
        theDeviceState.m_Link.Close();
        EXPECT_FALSE(PressCloses(dlg, DeviceButton(dlg)));
        ASSERT_EQ(m_boxes->Count(), 1u);
        EXPECT_EQ(m_boxes->Entries()[0].text, "The device ID does not match the current");
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
    }
}

TEST_F(DeleteHistoryTest, AFailedDeletionIsReportedNotSuccess)
{
    // A trigger that refuses the device row's deletion: the records' deletion is undone with it.
    ExecSql("CREATE TRIGGER keep BEFORE DELETE ON Device BEGIN SELECT RAISE(ABORT, 'kept'); END");
    DeleteHistory dlg;
    m_boxes->PushAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    const auto boxes = m_boxes->Entries();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].icon, MsgIcon::Stop);
    EXPECT_NE(boxes[1].text.find("Processing data failed"), std::string::npos);
    EXPECT_NE(boxes[1].text.find("kept"), std::string::npos);
    EXPECT_EQ(Rows("00123456"), 2);
    EXPECT_EQ(DeviceRows("00123456"), 1);
    // Nothing was deleted, but downloads are not left blocked.
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);

    // A database that cannot be opened: its box, then the same.
    m_boxes->Clear();
    theDeviceState.m_bDbCleared = 0;
    DeleteHistory again;
    theDeviceState.m_strDbPath = m_dir.Path() + "/missing/Quorvantis.db";
    m_boxes->PushAnswer(MsgAnswer::Ok);
    EXPECT_TRUE(PressCloses(again, DatabaseButton(again)));
    ASSERT_EQ(m_boxes->Count(), 2u);
    EXPECT_NE(m_boxes->Entries()[1].text, "Successfully deleted information and history data from database");
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);
}

TEST_F(DeleteHistoryTest, BothActionsWorkWithRealOkClicks)
{
    QtMessageBoxService service;
    IMessageBoxService* previous = SetMessageBoxService(&service);
    auto device = Connect(0x00123456);
    device->FillRing(0, 100);

    // Every box is answered with a click on its OK button.
    QStringList shown;
    QTimer answerer;
    answerer.setInterval(5);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        shown << box->text();
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    answerer.start();

    {
        DeleteHistory dlg;
        EXPECT_TRUE(PressCloses(dlg, DatabaseButton(dlg)));
    }
    EXPECT_EQ(Rows("00123456"), 0);
    EXPECT_EQ(DeviceRows("00123456"), 0);
    EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 1);
    {
        DeleteHistory dlg;
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
    }
    EXPECT_TRUE(device->Records().empty());
    EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 1);
    EXPECT_EQ(shown, QStringList({
        QStringLiteral("Are you sure to delete device information from database of the ID 00123456?"),
        QStringLiteral("Successfully deleted information and history data from database"),
        QStringLiteral("Are you sure to delete device history record of the ID 00123456?"),
        QStringLiteral("Successfully Delete device records"),
    }));
    SetMessageBoxService(previous);
}

// Enter as the Windows dialog manager takes it, in the three dialogs that share it: away from a
// push button it ends the dialog as OK does (no confirmation opens); on a push button it presses
// that button.
TEST_F(DeleteHistoryTest, EnterEndsTheDialogAsOkOrPressesTheFocusedButton)
{
    Connect(0x00123456);
    auto enter = [](QWidget* target) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(target, &key);
    };
    struct Case {
        std::function<std::unique_ptr<QDialog>()> make;
        const char* combo;
        const char* button;
        int buttonResult;  // what pressing the button ends the dialog with
        std::size_t buttonBoxes;
    };
    const Case cases[] = {
        {[] { return std::make_unique<DeleteHistory>(); }, QV_ID_NAME(IDC_MANAGE_DEVICE),
         QV_ID_NAME(IDC_MANAGE_DELETE_DEVICE), QDialog::Rejected, 1},  // the confirmation, cancelled
        {[] { return std::make_unique<Grapsh>(); }, QV_ID_NAME(IDC_GRAPH_DEVICE),
         QV_ID_NAME(IDC_GRAPH_EXIT), QDialog::Rejected, 0},
        {[] { return std::make_unique<Main>(); }, QV_ID_NAME(IDC_HISTORY_DEVICE),
         QV_ID_NAME(IDC_HISTORY_EXIT), QDialog::Rejected, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.combo);
        m_boxes->Clear();
        std::unique_ptr<QDialog> dlg = c.make();
        dlg->show();
        auto* combo = dlg->findChild<QWidget*>(QLatin1String(c.combo));
        combo->setFocus();
        enter(combo);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), QDialog::Accepted);
        EXPECT_EQ(m_boxes->Count(), 0u);

        dlg = c.make();
        dlg->show();
        auto* button = dlg->findChild<QPushButton*>(QLatin1String(c.button));
        button->setFocus();
        if (c.buttonBoxes) m_boxes->PushAnswer(MsgAnswer::Cancel);
        enter(button);
        EXPECT_FALSE(dlg->isVisible());
        EXPECT_EQ(dlg->result(), c.buttonResult);
        ASSERT_EQ(m_boxes->Count(), c.buttonBoxes);
        if (c.buttonBoxes) {
            EXPECT_EQ(m_boxes->Entries()[0].text.rfind("Are you sure to delete device history", 0), 0u);
        }
    }
}

}  // namespace
