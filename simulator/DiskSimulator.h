#pragma once
// A disk for tests and benchmarks: while a SimDisk exists, SQLite's default file system is one
// that passes everything on to the real one, except that its syncs can be slowed (a busy laptop
// disk, an SD card) and its writes and syncs can be made to fail (a full disk, an I/O error).
// Connections opened meanwhile use it; close them before the SimDisk goes. One at a time.
#include <atomic>

namespace sim {

class SimDisk {
public:
    SimDisk();
    ~SimDisk();
    SimDisk(const SimDisk&) = delete;
    SimDisk& operator=(const SimDisk&) = delete;

    // Every sync takes this long (ms) before it is passed on.
    void SetSyncDelayMs(int ms);
    // From the n-th write (or sync) from now on (1 = the next one), `count` of them fail with the
    // SQLite result code given (SQLITE_FULL, SQLITE_IOERR_WRITE, ...); count 0: every one until
    // ClearFaults.
    void FailWrites(int n, int count, int code);
    void FailSyncs(int n, int count, int code);
    void ClearFaults();
    // Syncs passed on so far.
    int Syncs() const;
};

}  // namespace sim
