// The erase of the recorder: it goes out only once everything the recorder held is stored.
#include <algorithm>

#include "device/CDeviceState.h"
#include "resources/resource.h"

// What an erase was confirmed for, as it was when the hold began.
struct CDeviceState::HoldState {
    std::uint32_t deviceId = 0;
    unsigned generation = 0;
    unsigned walksBefore = 0;   // walks begun before the hold: none of them counts
    unsigned failedDrains = 0;  // drains failed before the hold
    unsigned openSerial = 0;    // the recorder opened then
};

EraseReadiness CDeviceState::ReadinessLocked(const HoldState& hold, bool closeCounts) const
{
    // A close gives up an erase that waits; one whose download is done may go out as the last
    // step of a settings run under way, which the close lets finish.
    if (closeCounts && m_bQuit) return EraseReadiness::Quit;
    if (m_nGeneration != hold.generation || m_dwDeviceID != hold.deviceId || !m_Link.IsDeviceOpen())
        return EraseReadiness::DeviceChanged;
    if (m_Link.OpenSerial() != hold.openSerial) return EraseReadiness::DeviceChanged;
    if (m_nFailedDrains != hold.failedDrains) return EraseReadiness::StoreFailed;
    // A recorder without an ID is never downloaded: its records can never all be stored.
    if (hold.deviceId == 0) return EraseReadiness::DownloadFailed;
    // The download that counts began after the hold: the records the recorder held when the user
    // confirmed are all within its reach.
    if (m_nWalkSerial == hold.walksBefore || m_bWalkRunning) return EraseReadiness::Waiting;
    switch (m_eWalkOutcome) {
    case DownloadOutcome::Complete:
        return m_nWalkCommitted >= m_nWalkQueued ? EraseReadiness::Ready : EraseReadiness::Waiting;
    case DownloadOutcome::LinkFailed:
    case DownloadOutcome::Unreadable: return EraseReadiness::DownloadFailed;
    case DownloadOutcome::StoreFailed: return EraseReadiness::StoreFailed;
    default: return EraseReadiness::Waiting;  // stopped early or held off: another download follows
    }
}

bool CDeviceState::WalkWantedLocked() const
{
    if (m_bWalkRunning) return false;
    return std::any_of(m_holds.begin(), m_holds.end(), [this](const HoldState* hold) {
        if (ReadinessLocked(*hold) != EraseReadiness::Waiting) return false;
        // A complete download whose records are still being stored needs no other.
        return m_nWalkSerial == hold->walksBefore || m_eWalkOutcome != DownloadOutcome::Complete;
    });
}

bool CDeviceState::EraseDueLocked() const
{
    // Between a download that makes an erase ready and the erase, nothing more is fetched: it
    // would be lost with the erase.
    return std::any_of(m_holds.begin(), m_holds.end(),
                       [this](const HoldState* hold) { return ReadinessLocked(*hold) == EraseReadiness::Ready; });
}

EraseHold::EraseHold(CDeviceState& ds) : m_ds(ds), m_state(std::make_unique<CDeviceState::HoldState>())
{
    std::lock_guard<std::mutex> lock(ds.m_csQueue);
    m_state->deviceId = ds.m_dwDeviceID;
    m_state->generation = ds.m_nGeneration;
    m_state->walksBefore = ds.m_nWalkSerial;
    m_state->failedDrains = ds.m_nFailedDrains;
    m_state->openSerial = ds.m_Link.OpenSerial();
    ds.m_holds.push_back(m_state.get());
    // Records waiting after a failed drain are tried again now: the answer is wanted at once.
    ds.m_tRetryAt = {};
    ds.WakeWriterLocked();
}

EraseHold::~EraseHold()
{
    std::lock_guard<std::mutex> lock(m_ds.m_csQueue);
    auto& holds = m_ds.m_holds;
    holds.erase(std::remove(holds.begin(), holds.end(), m_state.get()), holds.end());
}

EraseReadiness EraseHold::Readiness()
{
    std::lock_guard<std::mutex> lock(m_ds.m_csQueue);
    return m_ds.ReadinessLocked(*m_state);
}

EraseReadiness EraseHold::WaitReady()
{
    std::unique_lock<std::mutex> lock(m_ds.m_csQueue);
    EraseReadiness readiness = EraseReadiness::Waiting;
    // Woken by a walk's end, a drain, a generation and the close; the recorder's removal shows
    // as a new generation.
    m_ds.m_cvStored.wait(lock, [&] { return (readiness = m_ds.ReadinessLocked(*m_state)) != EraseReadiness::Waiting; });
    return readiness;
}

EraseReadiness EraseHold::Erase(int& acknowledged)
{
    acknowledged = 0;
    {
        std::lock_guard<std::mutex> lock(m_ds.m_csQueue);
        const EraseReadiness readiness = m_ds.ReadinessLocked(*m_state, false);
        if (readiness != EraseReadiness::Ready) return readiness;
        m_ds.m_bErasing = true;  // no walk starts until the answer is in
    }
    // Only to the recorder opened when the hold began, even if another took its place meanwhile.
    acknowledged = m_ds.m_Link.SendShortCommand(ERASE_RECORDS_REQUEST, m_state->openSerial) == 1 ? 1 : 0;
    std::lock_guard<std::mutex> lock(m_ds.m_csQueue);
    m_ds.m_bErasing = false;
    if (acknowledged) {
        // What the recorder held is gone from it: a new download starts at once.
        m_ds.m_bDeviceErased = 1;
        m_ds.RaiseGenerationLocked(true);
    }
    m_ds.m_cvStored.notify_all();
    return EraseReadiness::Ready;
}

int EraseRefusalText(EraseReadiness readiness, EraseFor what)
{
    const bool settings = what == EraseFor::Settings;
    switch (readiness) {
    case EraseReadiness::DownloadFailed: return settings ? IDS_SETTINGS_DOWNLOAD_FAILED : IDS_ERASE_DOWNLOAD_FAILED;
    case EraseReadiness::DeviceChanged: return settings ? IDS_SETTINGS_DEVICE_CHANGED : IDS_ERASE_DEVICE_CHANGED;
    default: return settings ? IDS_SETTINGS_WAIT_FOR_STORING : IDS_ERASE_WAITS_FOR_STORING;
    }
}
