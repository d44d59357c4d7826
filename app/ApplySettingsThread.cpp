#include "app/ApplySettingsThread.h"

#include "device/CDeviceState.h"
#include "device/DeviceProtocol.h"
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
    if (!ds.SetParameters(block.m_nNewTempUnit, block.m_nNewDateFormat, block.m_nNewTimeFormat,
                          block.m_nNewMode, block.m_nNewAutoOff, block.m_nNewInterval,
                          block.m_nNewTempOffset, block.m_nNewHumiOffset,
                          block.m_bIntervalChanged)) {
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
            ShowFailure(block.m_strPeriodFail, IDS_CHANGE_PERIOD_FAIL);
            return kApplySettingsFailed;
        }
    }

    // New periods or a new mode make the stored records meaningless; the enable flags alone do not.
    if (block.m_bPeriodsChanged || block.m_bModeChanged) {
        if (ds.m_Link.SendShortCommand(ERASE_RECORDS_REQUEST)) ds.m_bDeviceErased = 1;
    }

    // Re-read the configuration on the next monitor tick; the next live reading in about 2 s.
    ds.m_bReadConfig = 1;
    ds.m_nRealtimeTicks = 14;
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
