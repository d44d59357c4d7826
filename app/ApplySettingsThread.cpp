#include "app/ApplySettingsThread.h"

#include <optional>

#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"

SettingsBlock SettingsBlock::From(const CSetupParam& dlg, const CDeviceState& ds)
{
    SettingsBlock b;
    static_cast<SettingsBlockFields&>(b) = dlg;
    b.m_bModeChanged = ds.m_bModeChanged.load();
    b.m_strSettingsFail = dlg.m_strMsg[26];
    b.m_strPeriodFail = dlg.m_strMsg[27];
    return b;
}

namespace {

void ShowFailure(const std::string& text, int fallbackId)
{
    AfxMessageBox(text.empty() ? LoadString(fallbackId) : text, MsgButtons::Ok);
}

}  // namespace

UINT ApplySettings(const SettingsBlock& block, CDeviceState& ds)
{
    // New periods or a new mode make the recorder's stored records meaningless, so it is erased
    // with them (the enable flags alone do not). Decided before anything goes out: the recorder
    // never gets a new mode without its erase, and the erase never destroys records the program
    // has not stored. A download that began after the wait began, and reached the end of the
    // ring, must have stored everything first.
    const bool erases = block.m_bPeriodsChanged || block.m_bModeChanged;
    std::optional<EraseHold> erase;
    if (erases) {
        erase.emplace(ds);
        const EraseReadiness ready = erase->WaitReady();
        if (ready != EraseReadiness::Ready) {
            erase.reset();
            // Closing the program is no failure to report.
            if (ready != EraseReadiness::Quit)
                AfxMessageBox(LoadString(EraseRefusalText(ready, EraseFor::Settings)), MsgButtons::Ok,
                              MsgIcon::Warning);
            return kApplySettingsFailed;
        }
    }

    if (!ds.SetParameters(block.m_nNewTempUnit, block.m_nNewDateFormat, block.m_nNewTimeFormat, block.m_nNewMode,
                          block.m_nNewAutoOff, block.m_nNewInterval, block.m_nNewTempOffset, block.m_nNewHumiOffset,
                          block.m_bIntervalChanged)) {
        erase.reset();  // walks may start again while the box waits
        ShowFailure(block.m_strSettingsFail, IDS_CHANGE_SETTINGS_FAIL);
        return kApplySettingsFailed;
    }
    // The live decoding uses the new offsets at once.
    ds.m_nTempOffset = block.m_nNewTempOffset;
    ds.m_nHumiOffset = block.m_nNewHumiOffset;

    if (block.m_bPeriodsChanged || block.m_bPeriodFlagsChanged || block.m_bModeChanged) {
        OleDateTime times[8];
        for (int k = 0; k < 4; ++k) {
            times[2 * k] = block.m_dtNewStart[k];
            times[2 * k + 1] = block.m_dtNewEnd[k];
        }
        if (!ds.SetPeriods(times, block.m_bNewPeriodOn)) {
            erase.reset();
            ShowFailure(block.m_strPeriodFail, IDS_CHANGE_PERIOD_FAIL);
            return kApplySettingsFailed;
        }
    }

    // An acknowledged erase asks for a new download, which must wait for the new configuration;
    // one that is not acknowledged is not reported.
    if (erase) {
        ds.m_bReadConfig = 1;
        int acknowledged = 0;
        erase->Erase(acknowledged);
    }

    // Re-read the configuration on the next monitor tick; the next live reading in about 2 s.
    ds.m_bReadConfig = 1;
    ds.m_Schedule.LiveSoon();
    return 0;
}

// ---------------------------------------------------------------------------------------------

UINT ApplySettingsThreadProc(void* pParam)
{
    auto* run = static_cast<CSettingsWriter::Run*>(pParam);
    run->owner->WaitTurn(run->ticket);
    const UINT exitCode = ApplySettings(run->block, *run->state);
    run->owner->EndTurn(exitCode);
    run->done = true;
    return exitCode;
}

CSettingsWriter::~CSettingsWriter() { Join(); }

void CSettingsWriter::Start(const SettingsBlock& block, CDeviceState& ds)
{
    ReapEnded();
    Run& run = m_runs.emplace_back();
    run.owner = this;
    run.block = block;
    run.state = &ds;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        run.ticket = m_nNextTicket++;
    }
    ++m_nActive;
    run.thread = std::thread(ApplySettingsThreadProc, &run);
}

void CSettingsWriter::WaitTurn(unsigned ticket)
{
    std::unique_lock<std::mutex> lock(m_cs);
    m_cv.wait(lock, [&] { return m_nServing == ticket; });
}

void CSettingsWriter::EndTurn(UINT exitCode)
{
    m_nLastExitCode = exitCode;
    {
        std::lock_guard<std::mutex> lock(m_cs);
        ++m_nServing;
    }
    m_cv.notify_all();
    --m_nActive;
}

void CSettingsWriter::ReapEnded()
{
    for (auto it = m_runs.begin(); it != m_runs.end();) {
        if (it->done) {
            if (it->thread.joinable()) it->thread.join();
            it = m_runs.erase(it);
        } else {
            ++it;
        }
    }
}

void CSettingsWriter::Join()
{
    for (Run& run : m_runs)
        if (run.thread.joinable()) run.thread.join();
    m_runs.clear();
}
