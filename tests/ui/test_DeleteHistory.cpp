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
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "device/RecordNode.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "resources/resource.h"
#include "support/DeviceRig.h"
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
    static QPushButton* DatabaseButton(DeleteHistory& dlg)
    {
        return Button(dlg, QV_ID_NAME(IDC_MANAGE_DELETE_DATABASE));
    }
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

    int Rows(const std::string& id) { return Count("SELECT count(*) FROM Records WHERE ID='" + id + "'"); }
    int DeviceRows(const std::string& id) { return Count("SELECT count(*) FROM Device WHERE DevID='" + id + "'"); }
};

TEST_F(DeleteHistoryTest, CurrentIdAndSelection)
{
    {
        DeleteHistory dlg;
        EXPECT_EQ(CurrentId(dlg), QStringLiteral("--------"));                 // ID 0
        EXPECT_FALSE(DeviceButton(dlg)->isEnabled());                          // no recorder
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
    // IDs that differ only in letter case are one recorder: listed once, and chosen for it.
    theDeviceState.m_Link.Close();
    ExecSql("INSERT INTO Device(DevID) VALUES ('0012ab34'), ('00aaaaaa'), ('0012AB34')");
    Connect(0x0012AB34);
    {
        DeleteHistory dlg;
        QStringList listed;
        for (int i = 0; i < dlg.m_cbDevice->count(); ++i) listed << dlg.m_cbDevice->itemText(i);
        EXPECT_EQ(listed, QStringList({"00000000", "00123456", "0012ab34", "00aaaaaa", "00ABCDEF"}));
        EXPECT_EQ(dlg.m_cbDevice->currentText(), QStringLiteral("0012ab34"));
    }
}

TEST_F(DeleteHistoryTest, NothingToDeleteOrAnIdThatCannotBeUsedIsSaidAndNothingIsDeleted)
{
    // A user's file may hold IDs the program cannot ask the database about; an empty list holds
    // nothing to delete. Neither is reported as a success, nor confirmed, nor does it stop a download.
    const std::string longId(300, 'A');
    struct Case {
        const char* name;
        std::string devId;  // the only Device row, or "" for none
        std::string box;
    };
    const Case cases[] = {
        {"empty table", "", "The database holds no device: there is nothing to delete."},
        {"not hexadecimal", "abc",
         "The device ID \"abc\" cannot be used: a device ID has eight hexadecimal digits (0-9, A-F). Nothing was "
         "deleted."},
        {"300 characters", longId,
         "The device ID \"" + longId +
             "\" cannot be used: a device ID has eight hexadecimal digits (0-9, A-F). Nothing was deleted."},
        {"trailing space", "00ABCDEF ",
         "The device ID \"00ABCDEF \" cannot be used: a device ID has eight hexadecimal digits (0-9, A-F). "
         "Nothing was deleted."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes->Clear();
        ExecSql("DELETE FROM Device");
        if (!c.devId.empty()) ExecSql("INSERT INTO Device(DevID) VALUES ('" + c.devId + "')");
        theDeviceState.m_bDbCleared = 0;
        DeleteHistory dlg;
        ASSERT_EQ(dlg.m_cbDevice->count(), c.devId.empty() ? 0 : 1);
        EXPECT_FALSE(PressCloses(dlg, DatabaseButton(dlg)));
        const auto boxes = m_boxes->Entries();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.box);
        EXPECT_EQ(boxes[0].buttons, MsgButtons::Ok);
        EXPECT_EQ(theDeviceState.m_bDbCleared.load(), 0);
        EXPECT_EQ(Rows("00123456"), 2);
        EXPECT_EQ(Rows("00ABCDEF"), 2);
    }
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
    ASSERT_TRUE(ReadConfigForDownload(theDeviceState));
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
    ASSERT_TRUE(ReadConfigForDownload(theDeviceState));
    EnsureQueue();
    device->FillRing(0, 100);

    // The download before the erase cannot store its records (the database refuses them):
    // nothing is sent, the user is told why, the records stay queued, the dialog stays open.
    ExecSql("CREATE TRIGGER full BEFORE INSERT ON Records BEGIN SELECT RAISE(FAIL, 'full'); END");
    {
        AcquisitionThreads threads(theDeviceState);
        DeleteHistory dlg;
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_FALSE(PressCloses(dlg, DeviceButton(dlg)));
        // The confirmation, the record writer's failure, then the refusal.
        ASSERT_TRUE(WaitUntil([&] { return m_boxes->Count() >= 3; }));
        const auto boxes = m_boxes->Entries();
        ASSERT_EQ(boxes.size(), 3u);
        EXPECT_EQ(boxes[2].text,
                  "The downloaded records cannot be stored in the database, so the device records were not "
                  "deleted. Try again once the database stores them.");
        EXPECT_EQ(device->Counters().erases, 0);
        EXPECT_EQ(device->Records().size(), 100u);
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
        EXPECT_TRUE(Queued());
        EXPECT_TRUE(DeviceButton(dlg)->isEnabled());
    }
    // Once the database takes them the erase goes ahead, after every record is stored.
    ExecSql("DROP TRIGGER full");
    m_boxes->Clear();
    {
        AcquisitionThreads threads(theDeviceState);
        DeleteHistory dlg;
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
        ASSERT_EQ(m_boxes->Count(), 2u);
        EXPECT_EQ(m_boxes->Entries()[1].text, "Successfully Delete device records");
        EXPECT_FALSE(Queued());
        EXPECT_EQ(Rows("00123456"), 2 + 100);
        EXPECT_TRUE(device->Records().empty());
        EXPECT_EQ(device->Counters().erases, 1);
    }
    theDeviceState.m_bDeviceErased = 0;
    device->FillRing(0, 100);

    // Refused by the recorder (every retry): 1110, the dialog stays open, no flag; its records
    // are stored all the same.
    m_boxes->Clear();
    {
        AcquisitionThreads threads(theDeviceState);
        DeleteHistory dlg;
        device->RefuseCommand(CMD_ERASE_RECORDS);
        m_boxes->PushAnswer(MsgAnswer::Ok);
        EXPECT_FALSE(PressCloses(dlg, DeviceButton(dlg)));
        device->ClearFaults();
        ASSERT_EQ(m_boxes->Count(), 2u);
        EXPECT_EQ(m_boxes->Entries()[1].text, "Failed Delete device records");
        EXPECT_EQ(theDeviceState.m_bDeviceErased.load(), 0);
        EXPECT_EQ(device->Records().size(), 100u);
        EXPECT_EQ(Rows("00123456"), 2 + 100 + 100);
    }
    // The recorder went away after the dialog opened: 1111, no confirmation, stays open.
    m_boxes->Clear();
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
        // The erase waits for the download it asks for, which stores the recorder's records again.
        ASSERT_TRUE(ReadConfigForDownload(theDeviceState));
        EnsureQueue();
        AcquisitionThreads threads(theDeviceState);
        DeleteHistory dlg;
        EXPECT_TRUE(PressCloses(dlg, DeviceButton(dlg)));
    }
    EXPECT_EQ(Rows("00123456"), 100);
    EXPECT_TRUE(device->Records().empty());
    EXPECT_EQ(device->Counters().erases, 1);
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
        {[] { return std::make_unique<Grapsh>(); }, QV_ID_NAME(IDC_GRAPH_DEVICE), QV_ID_NAME(IDC_GRAPH_EXIT),
         QDialog::Rejected, 0},
        {[] { return std::make_unique<Main>(); }, QV_ID_NAME(IDC_HISTORY_DEVICE), QV_ID_NAME(IDC_HISTORY_EXIT),
         QDialog::Rejected, 0},
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
