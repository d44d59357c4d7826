#include "simulator/DiskSimulator.h"

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace sim {

namespace {

struct DiskState {
    std::atomic<int> syncDelayMs{0};
    // Operations passed on before the fault, then operations that fail (0: all of them), and
    // the fault (0: none).
    std::atomic<int> writesLeft{0}, writesFailing{0}, writeFault{0};
    std::atomic<int> syncsLeft{0}, syncsFailing{0}, syncFault{0};
    std::atomic<int> syncs{0};
    sqlite3_vfs* real = nullptr;
};
DiskState g_disk;

// Counts one operation down; the fault's code while it is due, else SQLITE_OK.
int Due(std::atomic<int>& left, const std::atomic<int>& failing, const std::atomic<int>& fault)
{
    const int code = fault.load();
    if (code == 0) return SQLITE_OK;
    const int position = left.fetch_sub(1);  // 0 the first failing one, -1 the next, ...
    if (position > 0) return SQLITE_OK;
    const int count = failing.load();
    return count == 0 || -position < count ? code : SQLITE_OK;
}

// A file of the real file system behind ours; its own structure follows ours in memory.
struct SimFile {
    sqlite3_file base;
    sqlite3_io_methods methods;
    sqlite3_file* real;
};

sqlite3_file* Real(sqlite3_file* f) { return reinterpret_cast<SimFile*>(f)->real; }
const sqlite3_io_methods* RealMethods(sqlite3_file* f) { return Real(f)->pMethods; }

int Close(sqlite3_file* f) { return RealMethods(f)->xClose(Real(f)); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 off) { return RealMethods(f)->xRead(Real(f), p, n, off); }
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 off)
{
    if (const int rc = Due(g_disk.writesLeft, g_disk.writesFailing, g_disk.writeFault)) return rc;
    return RealMethods(f)->xWrite(Real(f), p, n, off);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return RealMethods(f)->xTruncate(Real(f), size); }
int Sync(sqlite3_file* f, int flags)
{
    if (const int rc = Due(g_disk.syncsLeft, g_disk.syncsFailing, g_disk.syncFault)) return rc;
    if (const int ms = g_disk.syncDelayMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ++g_disk.syncs;
    return RealMethods(f)->xSync(Real(f), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return RealMethods(f)->xFileSize(Real(f), size); }
int Lock(sqlite3_file* f, int level) { return RealMethods(f)->xLock(Real(f), level); }
int Unlock(sqlite3_file* f, int level) { return RealMethods(f)->xUnlock(Real(f), level); }
int CheckReservedLock(sqlite3_file* f, int* out) { return RealMethods(f)->xCheckReservedLock(Real(f), out); }
int FileControl(sqlite3_file* f, int op, void* arg) { return RealMethods(f)->xFileControl(Real(f), op, arg); }
int SectorSize(sqlite3_file* f) { return RealMethods(f)->xSectorSize(Real(f)); }
int DeviceCharacteristics(sqlite3_file* f) { return RealMethods(f)->xDeviceCharacteristics(Real(f)); }
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out)
{
    return RealMethods(f)->xShmMap(Real(f), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags)
{
    return RealMethods(f)->xShmLock(Real(f), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { RealMethods(f)->xShmBarrier(Real(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return RealMethods(f)->xShmUnmap(Real(f), deleteFlag); }
int Fetch(sqlite3_file* f, sqlite3_int64 off, int n, void** out)
{
    return RealMethods(f)->xFetch(Real(f), off, n, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 off, void* p) { return RealMethods(f)->xUnfetch(Real(f), off, p); }

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags)
{
    auto* f = reinterpret_cast<SimFile*>(file);
    f->base.pMethods = nullptr;
    f->real = reinterpret_cast<sqlite3_file*>(f + 1);
    const int rc = g_disk.real->xOpen(g_disk.real, name, f->real, flags, outFlags);
    if (!f->real->pMethods) return rc;
    // The methods the real file has, each passed on through ours (a method it lacks stays absent).
    const sqlite3_io_methods* real = f->real->pMethods;
    sqlite3_io_methods& m = f->methods;
    m = sqlite3_io_methods{};
    m.iVersion = real->iVersion;
    m.xClose = Close;
    m.xRead = Read;
    m.xWrite = Write;
    m.xTruncate = Truncate;
    m.xSync = Sync;
    m.xFileSize = FileSize;
    m.xLock = Lock;
    m.xUnlock = Unlock;
    m.xCheckReservedLock = CheckReservedLock;
    m.xFileControl = FileControl;
    m.xSectorSize = SectorSize;
    m.xDeviceCharacteristics = DeviceCharacteristics;
    if (real->iVersion >= 2 && real->xShmMap) {
        m.xShmMap = ShmMap;
        m.xShmLock = ShmLock;
        m.xShmBarrier = ShmBarrier;
        m.xShmUnmap = ShmUnmap;
    }
    if (real->iVersion >= 3 && real->xFetch) {
        m.xFetch = Fetch;
        m.xUnfetch = Unfetch;
    }
    f->base.pMethods = &m;
    return rc;
}

// Everything but opening files is the real file system's own.
sqlite3_vfs* Vfs()
{
    static sqlite3_vfs vfs = [] {
        g_disk.real = sqlite3_vfs_find(nullptr);
        sqlite3_vfs v = *g_disk.real;
        v.szOsFile = static_cast<int>(sizeof(SimFile)) + g_disk.real->szOsFile;
        v.zName = "quorvantis-simdisk";
        v.pNext = nullptr;
        v.xOpen = Open;
        return v;
    }();
    return &vfs;
}

}  // namespace

SimDisk::SimDisk()
{
    ClearFaults();
    SetSyncDelayMs(0);
    sqlite3_vfs_register(Vfs(), 1);
}

SimDisk::~SimDisk()
{
    ClearFaults();
    SetSyncDelayMs(0);
    sqlite3_vfs_register(g_disk.real, 1);  // the default again
    sqlite3_vfs_unregister(Vfs());
}

void SimDisk::SetSyncDelayMs(int ms) { g_disk.syncDelayMs = ms; }

void SimDisk::FailWrites(int n, int count, int code)
{
    g_disk.writeFault = 0;
    g_disk.writesLeft = n - 1;
    g_disk.writesFailing = count;
    g_disk.writeFault = code;
}

void SimDisk::FailSyncs(int n, int count, int code)
{
    g_disk.syncFault = 0;
    g_disk.syncsLeft = n - 1;
    g_disk.syncsFailing = count;
    g_disk.syncFault = code;
}

void SimDisk::ClearFaults()
{
    g_disk.writeFault = 0;
    g_disk.syncFault = 0;
}

int SimDisk::Syncs() const { return g_disk.syncs.load(); }

}  // namespace sim
