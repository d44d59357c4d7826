#pragma once
// The settings writer: after the user confirms the device settings dialog, a worker thread sends
// the new settings to the recorder, the recording periods and an erase where the change needs
// them, and then asks the monitor thread to read the device again.
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <string>
#include <thread>

#include "settings/SettingsBlock.h"

class CDeviceState;
class CSetupParam;

using UINT = unsigned int;

// What one run sends: the dialog's settings block as it stood when the user confirmed it, with
// the device state's mode-changed flag of that moment. Taken as a copy because the dialog can be
// shown and saved again (which resets and rewrites the block) while an earlier run still waits
// for its turn or is under way.
struct SettingsBlock : SettingsBlockFields {
    int m_bModeChanged = 0;  // of the device state
    // The two failure texts in the user's language (the dialog's m_strMsg[26] and [27]); when
    // empty the string table's are used.
    std::string m_strSettingsFail;
    std::string m_strPeriodFail;

    static SettingsBlock From(const CSetupParam& dlg, const CDeviceState& ds);
};

constexpr UINT kApplySettingsFailed = static_cast<UINT>(-1);

// The run itself: parameters, offsets, periods, erase, re-read request. 0 after a complete run,
// kApplySettingsFailed after a reported failure.
UINT ApplySettings(const SettingsBlock& block, CDeviceState& ds);

// Starts one thread per confirmed dialog. The runs go one after the other in the order they were
// started; the link would serialise their exchanges anyway, but interleaved runs could send one
// run's parameters between another's parameters and periods.
class CSettingsWriter {
public:
    CSettingsWriter() = default;
    ~CSettingsWriter();  // waits for every run
    CSettingsWriter(const CSettingsWriter&) = delete;
    CSettingsWriter& operator=(const CSettingsWriter&) = delete;

    void Start(const SettingsBlock& block, CDeviceState& ds);
    // A run has not ended yet.
    bool IsRunning() const { return m_nActive.load() != 0; }
    // Waits for every run. A run that shows a message box needs the UI thread: call this from
    // the UI thread only once IsRunning() is false, and keep serving events until then.
    void Join();
    // Exit code of the run that ended last (0 before any).
    UINT LastExitCode() const { return m_nLastExitCode.load(); }

    // One run: the thread procedure's argument.
    struct Run {
        CSettingsWriter* owner = nullptr;
        SettingsBlock block;
        CDeviceState* state = nullptr;
        unsigned ticket = 0;
        std::thread thread;
        std::atomic<bool> done{false};
    };

private:
    friend UINT ApplySettingsThreadProc(void* pParam);
    void WaitTurn(unsigned ticket);
    void EndTurn(UINT exitCode);
    void ReapEnded();

    std::mutex m_cs;
    std::condition_variable m_cv;
    unsigned m_nNextTicket = 0;  // guarded by m_cs
    unsigned m_nServing = 0;     // guarded by m_cs
    std::atomic<int> m_nActive{0};
    std::atomic<UINT> m_nLastExitCode{0};
    std::list<Run> m_runs;  // UI thread only
};

// Thread procedure of one run; pParam is the CSettingsWriter::Run. Waits for the run's turn,
// then applies its block to its device state.
UINT ApplySettingsThreadProc(void* pParam);
