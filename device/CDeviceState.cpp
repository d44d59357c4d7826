#include "device/CDeviceState.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Paths.h"
#include "platform/Profile.h"

CDeviceState theDeviceState;

CDeviceState::CDeviceState()
{
    // Paths start empty, the link holds no handle, the periods and the two page times are 0.0
    // and valid (member initialisers); the six CDB objects are built in member order.
    for (OleDateTime& period : m_Period) period = OleDateTime(0.0, OleDateTime::valid);
    m_LastTime = OleDateTime(0.0, OleDateTime::valid);
    m_PageTime = OleDateTime(0.0, OleDateTime::valid);
    Reset();
}

CDeviceState::~CDeviceState()
{
    // Queued records that no drain took, then the sentinel itself. The CDB objects are then
    // destroyed in reverse member order, the link (which closes itself) after them.
    if (m_pQueueHead) {
        FreeRecordNodes(m_pQueueHead->pNext);
        std::free(m_pQueueHead);
        m_pQueueHead = nullptr;
    }
}

namespace {

// The shipped files may come from a read-only installed tree; the copies must be writable. Only
// the user's own files: a link into another user's file changes nothing there.
void MakeOwnerWritable(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() &&
        (st.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR))
        ::chmod(path.c_str(), st.st_mode | S_IRUSR | S_IWUSR);
}

}  // namespace

void CDeviceState::InitDataFolder() { InitDataFolder(ExecutableDir(), DataFolder()); }

void CDeviceState::InitDataFolder(const std::string& appDir, const std::string& dataDir)
{
    // Without the executable's folder there is nothing to copy from; the paths stay empty.
    if (appDir.empty() || dataDir.empty()) return;
    m_strAppDir = appDir;

    const std::string dbPath = dataDir + "/Quorvantis.db";
    const std::string iniPath = dataDir + "/Main.ini";
    // Failures are not reported here: a missing database shows when it is opened, and a copy
    // that could not be made (a full disk) is made when its file is next needed.
    MakeSureDirectoryPathExists(dataDir);
    // What a run that died while copying or writing left behind.
    RemoveInterruptedCopies(dbPath);
    RemoveInterruptedCopies(iniPath);
    RemoveStaleProfileTemporaries(iniPath);
    CopyForFirstStart(m_strAppDir + "/Quorvantis.db", dbPath);
    CopyForFirstStart(m_strAppDir + "/Main.ini", iniPath);

    m_strDbPath = dbPath;
    m_strIniPath = iniPath;
    MakeOwnerWritable(m_strDbPath);
    MakeOwnerWritable(m_strIniPath);
}

void CDeviceState::Reset()
{
    m_bDeviceErased = 0;
    m_bDbCleared = 0;
    m_bRestart = 0;
    m_bDeviceKnown = 0;
    m_bHistoryDone = 0;
    m_Link.m_bLiveBusy = 0;
    m_Link.m_bCmdBusy = 0;
    m_Schedule.Reset();

    m_nRecTemp = TEMP_NONE;
    m_nMaxTemp = TEMP_NONE;
    m_nMinTemp = TEMP_NONE;
    m_nTempRaw = TEMP_NONE;

    m_nDateFormat = -1;
    m_nHumiOffset = -1;
    m_nTempOffset = -1;
    m_nTempUnit = -1;
    m_nTimeFormat = -1;

    m_nRecHumi = HUMI_NONE;
    m_nMaxHumi = HUMI_NONE;
    m_nMinHumi = HUMI_NONE;
    m_nHumiRaw = HUMI_NONE;

    m_nAutoOff = 0;
    m_nInterval = 0;
    {
        // The device, the request for its configuration and the generation change together: a
        // configuration read or a walk under way can tell that the device went meanwhile.
        std::lock_guard<std::mutex> lock(m_csQueue);
        m_dwDeviceID = 0;
        m_bReadConfig = 1;
        RaiseGenerationLocked();
    }

    std::lock_guard<std::mutex> lock(m_csConfig);
    m_nMode = -1;
    for (OleDateTime& period : m_Period) period.m_status = OleDateTime::invalid;
    for (int& on : m_bPeriodOn) on = 0;
}

void CDeviceState::RaiseGenerationLocked(bool keepsDevice)
{
    // Whatever is queued belongs to the older generation; a batch a drain holds is dropped by it.
    // Whoever waits for the records learns they are gone.
    const bool configCurrent = m_nConfigGeneration == m_nGeneration;
    ++m_nGeneration;
    if (keepsDevice && configCurrent) m_nConfigGeneration = m_nGeneration.load();
    if (m_pQueueHead) {
        FreeRecordNodes(m_pQueueHead->pNext);
        m_pQueueHead->pNext = nullptr;
    }
    m_pQueueTail = nullptr;
    m_cvStored.notify_all();
}

void CDeviceState::WakeWriterLocked()
{
    m_bWriterWake = true;
    m_cvWriter.notify_one();
}

bool CDeviceState::SetDeviceId(std::uint32_t id, unsigned readIn)
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    // Tested under the lock every removal and open takes: none can come between the test and the ID.
    if (m_nGeneration != readIn) return false;
    if (m_dwDeviceID != id) {
        m_dwDeviceID = id;
        RaiseGenerationLocked();
        if (id != 0) WakeWriterLocked();  // it counts the new device's records
    }
    m_nConfigGeneration = m_nGeneration.load();
    return true;
}

bool CDeviceState::EndConfigRead(unsigned generation)
{
    std::lock_guard<std::mutex> lock(m_csQueue);
    if (m_nGeneration != generation) return false;
    m_bReadConfig = 0;
    return true;
}

void CDeviceState::OpenDevice(const std::string& skip)
{
    // Handles first: the monitor must not read the old recorder's configuration into the new
    // generation.
    m_Link.CloseHandles();
    Reset();
    m_Link.Open(skip);
}

bool CDeviceState::DownloadRequested()
{
    if (m_bDbCleared || m_bDeviceErased) return true;
    std::lock_guard<std::mutex> lock(m_csQueue);
    return WalkWantedLocked();
}

void CDeviceState::RequestQuit()
{
    {
        std::lock_guard<std::mutex> lock(m_csQueue);
        m_bQuit = 1;
    }
    m_cvWriter.notify_all();
    m_cvStored.notify_all();
    m_cvQuit.notify_all();
}

bool CDeviceState::SleepUnlessQuit(std::chrono::milliseconds duration)
{
    std::unique_lock<std::mutex> lock(m_csQueue);
    return !m_cvQuit.wait_for(lock, duration, [this] { return m_bQuit != 0; });
}

ConfigSnapshot CDeviceState::GetConfigSnapshot() const
{
    std::lock_guard<std::mutex> lock(m_csConfig);
    ConfigSnapshot snapshot;
    snapshot.mode = m_nMode;
    for (int k = 0; k < 4; ++k) snapshot.periodOn[k] = m_bPeriodOn[k];
    for (int k = 0; k < 8; ++k) snapshot.period[k] = m_Period[k];
    return snapshot;
}
