// Pictures of the main window in each language, without a recorder and with a simulated recorder
// after its first download. Written to $QUORVANTIS_SCREENSHOT_DIR; skipped when it is not set.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QPixmap>

#include <cstdlib>
#include <memory>

#include "app/CMainFrame.h"
#include "app/CQuorvantisApp.h"
#include "app/CQuorvantisView.h"
#include "app/Language.h"
#include "device/CDeviceState.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "ui/ViewTestSupport.h"

namespace {

// One period slot of the device's period block: BCD year, month, BCD day, hour, minute.
void PutSlot(std::uint8_t* block, int slot, int year, int month, int day, int hour, int minute)
{
    std::uint8_t* b = block + 5 * slot;
    b[0] = BcdEncode(year - 2000);
    b[1] = static_cast<std::uint8_t>(month);
    b[2] = BcdEncode(day);
    b[3] = BcdEncode(hour);
    b[4] = BcdEncode(minute);
}

QString PaneText(CMainFrame& frame)
{
    for (QLabel* label : frame.statusBar()->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            return label->text();
    return {};
}

class ViewScreenshots : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(ViewScreenshots, MainWindow)
{
    const char* out = std::getenv("QUORVANTIS_SCREENSHOT_DIR");
    if (!out || !*out)
        GTEST_SKIP() << "QUORVANTIS_SCREENSHOT_DIR not set";
    QDir().mkpath(QString::fromLocal8Bit(out));
    const int language = GetParam();
    const QString code = QLatin1String(kLanguageCodes[language]);

    TempDir dir;
    setenv("QUORVANTIS_DATA_DIR", dir.Path().c_str(), 1);
    theDeviceState.InitDataFolder(BuildDir(), dir.Path());
    ASSERT_TRUE(LoadTestLanguage(language));
    sim::SimulatorTransport transport;
    theDeviceState.m_Link.SetTransport(&transport);
    theDeviceState.m_nNewDeviceWaitMs = 0;

    auto frame = std::make_unique<CMainFrame>();
    CQuorvantisView* view = frame->GetActiveView();
    // The size the application gives its main window.
    frame->setFixedSize(708, 522 + frame->menuBar()->sizeHint().height());
    view->OnInitialUpdate();
    frame->show();
    // The first monitor tick has reported the missing device.
    const QString unconnected = QString::fromStdString(LoadString(IDS_UNCONNECT));
    ASSERT_TRUE(WaitUntil([&] { return PaneText(*frame) == unconnected; }));
    QCoreApplication::processEvents();
    ASSERT_TRUE(frame->grab().save(QString::fromLocal8Bit(out) + "/main_" + code + "_no_recorder.png"));

    // A segmented recorder with two periods, records and a reading.
    auto rec = transport.Attach("/dev/hidraw3");
    rec->SetDeviceId(0x0A1B2C3D);
    rec->SetInterval(90);
    std::uint8_t block[40];
    std::fill(std::begin(block), std::end(block), 0xFF);
    PutSlot(block, 0, 2026, 1, 2, 8, 0);
    PutSlot(block, 1, 2026, 1, 2, 17, 30);
    PutSlot(block, 2, 2026, 1, 3, 8, 0);
    PutSlot(block, 3, 2026, 1, 3, 17, 30);
    for (int slot = 4; slot < 8; ++slot)
        PutSlot(block, slot, 2026, 1, 4, 0, 0);
    block[1] |= 0x30;  // periods 1 and 2 enabled
    rec->SetPeriodBlock(block);
    rec->FillRing(2, 150);
    rec->SetMaxMin(750, 90, 400, 40);
    rec->SetLive(65, 615);
    view->OnDeviceChange(DBT_DEVICEARRIVAL, "/dev/hidraw3");
    const QString connected = QString::fromStdString(LoadString(IDS_CONNECT));
    ASSERT_TRUE(WaitUntil([&] {
        const DisplayStrings s = view->GetDisplayStrings();
        if (PaneText(*frame) != connected)
            return false;
        return s.info[2] == "150" && s.temp != kNoValue && s.status[2] == view->m_strRes[17];
    }));
    view->update();
    QCoreApplication::processEvents();
    ASSERT_TRUE(frame->grab().save(QString::fromLocal8Bit(out) + "/main_" + code + "_recorder.png"));

    view->StopWorkerThreads();
}

INSTANTIATE_TEST_SUITE_P(Languages, ViewScreenshots, ::testing::Range(0, 5));
