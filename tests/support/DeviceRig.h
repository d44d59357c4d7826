#pragma once
#include <atomic>
#include <thread>

// A device state as the program sets it up, for tests that download into a database.
class CDeviceState;
class HidTransport;
class TempDir;

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
