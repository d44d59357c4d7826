#pragma once
// A device state as the program sets it up, for tests that download into a database.
#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "device/CDeviceState.h"
#include "simulator/VT583Simulator.h"
#include "support/TempDir.h"

class HidTransport;

// Points st at a fresh copy of the shipped database in dir, gives it its record queue, opens its
// link over transport and leaves out the pause before a new device's first download.
void PrepareDeviceState(CDeviceState& st, const TempDir& dir, HidTransport& transport);

// Reads the recorder's configuration as the monitor does before a download may start: true when
// it was read and the read ended in the generation it began in.
bool ReadConfigForDownload(CDeviceState& st);

// What the view's threads do for the device state, for tests without the view: the record
// writer's loop, and a download whenever one is asked for (a deletion, an erase, or an erase
// that waits for one), as the monitor starts them. Both end with the object.
class AcquisitionThreads {
public:
    explicit AcquisitionThreads(CDeviceState& st);
    ~AcquisitionThreads();
    AcquisitionThreads(const AcquisitionThreads&) = delete;
    AcquisitionThreads& operator=(const AcquisitionThreads&) = delete;

private:
    CDeviceState& m_st;
    std::atomic<bool> m_bStop{false};
    std::thread m_writer, m_downloads;
};

// A simulated recorder and a device state as the program runs them: its own database, the record
// queue, the record writer and the downloads the monitor would start.
struct RunningDevice {
    TempDir dir;
    sim::SimulatorTransport transport;
    std::shared_ptr<sim::VT583Simulator> dev = transport.Attach("sim-0");
    CDeviceState st;
    std::unique_ptr<AcquisitionThreads> threads;

    RunningDevice();
    ~RunningDevice();
    // Deletes a device's rows as the management dialog does, committed.
    void DeleteRows(const std::string& deviceId);
    // A statement on the database, and the first column of a query's first row (-1 without one).
    void Exec(const std::string& sql);
    long long Count(const std::string& sql);
};
