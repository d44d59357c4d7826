#include "platform/MessageBox.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "platform/Paths.h"

namespace {

// The answer that changes nothing: No, Cancel, or the Ok of a box that only informs.
MsgAnswer DefaultAnswer(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::OkCancel: return MsgAnswer::Cancel;
    case MsgButtons::Ok: break;
    }
    return MsgAnswer::Ok;
}

// Used while no service is installed: nobody can answer, so the cautious answer is given.
class StderrMessageBoxService : public IMessageBoxService {
public:
    MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return DefaultAnswer(buttons);
    }
};

StderrMessageBoxService g_defaultService;
std::atomic<IMessageBoxService*> g_service{nullptr};

}  // namespace

IMessageBoxService* SetMessageBoxService(IMessageBoxService* service) { return g_service.exchange(service); }

std::string AppDisplayName() { return NameOf(ExecutablePath()); }

MsgAnswer AfxMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon)
{
    IMessageBoxService* service = g_service.load();
    if (!service) service = &g_defaultService;
    return service->Show(text, AppDisplayName(), buttons, icon);
}

MsgAnswer AfxMessageBox(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon,
                        MsgDefault defaultButton)
{
    IMessageBoxService* service = g_service.load();
    if (!service) service = &g_defaultService;
    return service->ShowWithDefault(text, caption.empty() ? AppDisplayName() : caption, buttons, icon, defaultButton);
}

bool FailureNotice::Show(int kind, const std::string& file, const std::string& text, MsgIcon icon, int level)
{
    {
        // Marked before the box opens: the same failure on another thread meanwhile stays quiet.
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto [entry, added] = m_shown.emplace(std::make_pair(file, kind), level);
        if (!added) {
            // Met again further on: it takes that much more to prove it over.
            entry->second = std::max(entry->second, level);
            return false;
        }
    }
    AfxMessageBox(text, MsgButtons::Ok, icon);
    return true;
}

bool FailureNotice::Recovered(const std::string& file, int level)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    bool failed = false;
    for (auto it = m_shown.begin(); it != m_shown.end();) {
        if (it->first.first == file && it->second <= level) {
            it = m_shown.erase(it);
            failed = true;
        } else {
            ++it;
        }
    }
    return failed;
}

MsgAnswer RecordingMessageBoxService::Show(const std::string& text, const std::string& caption, MsgButtons buttons,
                                           MsgIcon icon)
{
    return ShowWithDefault(text, caption, buttons, icon, MsgDefault::First);
}

MsgAnswer RecordingMessageBoxService::ShowWithDefault(const std::string& text, const std::string& caption,
                                                      MsgButtons buttons, MsgIcon icon, MsgDefault defaultButton)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(Entry{text, caption, buttons, icon, defaultButton});
    if (m_answers.empty()) return DefaultAnswer(buttons);
    const MsgAnswer answer = m_answers.front();
    m_answers.pop_front();
    return answer;
}

void RecordingMessageBoxService::PushAnswer(MsgAnswer answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers.push_back(answer);
}

std::vector<RecordingMessageBoxService::Entry> RecordingMessageBoxService::Entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

std::size_t RecordingMessageBoxService::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}

// Forgets the log; answers scripted for boxes still to come stay queued.
void RecordingMessageBoxService::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}
