#pragma once
// Fixture of the graph and management dialog tests: a fresh data folder with the shipped empty
// database, English texts, the simulator as the recorder and a message-box recorder.
#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "database/CDB.h"
#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"
#include "ui/ViewTestSupport.h"

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("QUORVANTIS_DATA_DIR", m_dir.Path().c_str(), 1);
        theDeviceState.InitDataFolder(BuildDir(), m_dir.Path());
        theDeviceState.Reset();
        ASSERT_TRUE(LoadTestLanguage(0));
        theDeviceState.m_Link.SetTransport(m_transport.get());
    }

    void TearDown() override { theDeviceState.m_Link.Close(); }

    // Plugs in the simulated recorder (ID 00123456) and opens it as the monitor would.
    std::shared_ptr<sim::VT583Simulator> Connect(std::uint32_t id = 0x00123456)
    {
        auto device = m_transport->Attach("/dev/hidraw3");
        device->SetDeviceId(id);
        theDeviceState.m_Link.Open();
        EXPECT_TRUE(theDeviceState.m_Link.IsDeviceOpen());
        theDeviceState.m_dwDeviceID = id;
        return device;
    }

    void AddDevice(const std::string& id)
    {
        CDB db;
        ASSERT_EQ(db.Open(theDeviceState.m_strDbPath), 0);
        ASSERT_EQ(db.SaveDevice(id, "2024-03-01 10:00:00", 1, 88, 0), 1);
    }

    void AddRecord(const std::string& id, const std::string& time, const std::string& temp, const std::string& humi)
    {
        CDB db;
        ASSERT_EQ(db.Open(theDeviceState.m_strDbPath), 0);
        ASSERT_EQ(db.InsertRecord(id, "0058", time, temp, humi), 1);
    }

    int Count(const std::string& sql)
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(theDeviceState.m_strDbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_busy_timeout(db, 2000);  // the record writer may be at work
        sqlite3_stmt* stmt = nullptr;
        int n = -1;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
            n = sqlite3_column_int(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return n;
    }

    void ExecSql(const std::string& sql)
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(theDeviceState.m_strDbPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }

    TempDir m_dir;
    std::unique_ptr<sim::SimulatorTransport> m_transport = std::make_unique<sim::SimulatorTransport>();
    ScopedMessageBoxRecorder m_boxes;
};

// Runs dialog modally, presses button once it is up, and tells whether the press closed it
// (a dialog still open afterwards is closed by the helper).
inline bool PressCloses(QDialog& dialog, QPushButton* button)
{
    bool closed = true;
    QTimer::singleShot(0, &dialog, [&] {
        button->click();
        if (dialog.isVisible()) {
            closed = false;
            dialog.reject();
        }
    });
    dialog.exec();
    return closed;
}
