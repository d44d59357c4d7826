#pragma once
// The one message-box service. The program installs its Qt implementation at start-up (boxes from
// worker threads are handed to the UI thread and wait for the answer); tests install a recorder.
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Stop, Question, Warning, Information };
enum class MsgAnswer { Ok, Cancel, Yes, No };
// Which button Enter presses: the first (Ok, Yes) or the second (Cancel, No).
enum class MsgDefault { First, Second };

class IMessageBoxService {
public:
    virtual ~IMessageBoxService() = default;
    virtual MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon) = 0;
    // A box whose default button is given; services that cannot choose it show the plain box.
    virtual MsgAnswer ShowWithDefault(const std::string& text, const std::string& caption, MsgButtons buttons,
                                      MsgIcon icon, MsgDefault defaultButton)
    {
        (void)defaultButton;
        return Show(text, caption, buttons, icon);
    }
};

// Installs the service used by AfxMessageBox; nullptr restores the default (prints to stderr,
// answers what changes nothing: No, Cancel or Ok). Returns the previous one.
IMessageBoxService* SetMessageBoxService(IMessageBoxService* service);

// The caption of every box: the base name of the running executable.
std::string AppDisplayName();

MsgAnswer AfxMessageBox(const std::string& text, MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None);
// The same with a caption of its own (empty: the display name) and a chosen default button.
MsgAnswer AfxMessageBox(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon,
                        MsgDefault defaultButton = MsgDefault::First);

// One failure, one message: a failure met again on every pass of a loop is shown once, and again
// only after the program has recovered from it. A failure is known by its kind and the file it
// concerns, never by its wording: the same failure is worded differently from one attempt to the
// next ("disk I/O error", then "unable to open database file"). A level says how much must work
// again to prove it over: a file that opens again ends the failures met when opening it (level
// 0), not one met when writing to it (level 1), which only a write that works ends.
class FailureNotice {
public:
    // Shows the text in an OK box unless a failure of this kind with this file was shown since it
    // last recovered; true when shown.
    bool Show(int kind, const std::string& file, const std::string& text, MsgIcon icon, int level);
    // Work on the file at this level succeeded: failures shown at this level or below are over.
    // True when one had been shown.
    bool Recovered(const std::string& file, int level);

private:
    std::mutex m_mutex;
    std::map<std::pair<std::string, int>, int> m_shown;  // file and kind -> level
};

// Test service: logs every box and returns scripted answers (then the default answer).
class RecordingMessageBoxService : public IMessageBoxService {
public:
    struct Entry {
        std::string text, caption;
        MsgButtons buttons;
        MsgIcon icon;
        MsgDefault defaultButton = MsgDefault::First;
    };
    MsgAnswer Show(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon) override;
    MsgAnswer ShowWithDefault(const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon icon,
                              MsgDefault defaultButton) override;
    void PushAnswer(MsgAnswer answer);
    std::vector<Entry> Entries() const;
    std::size_t Count() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::deque<MsgAnswer> m_answers;
};

// Installs a recorder for the lifetime of a scope.
class ScopedMessageBoxRecorder {
public:
    ScopedMessageBoxRecorder() : m_previous(SetMessageBoxService(&m_recorder)) {}
    ~ScopedMessageBoxRecorder() { SetMessageBoxService(m_previous); }
    RecordingMessageBoxService& operator*() { return m_recorder; }
    RecordingMessageBoxService* operator->() { return &m_recorder; }

private:
    RecordingMessageBoxService m_recorder;
    IMessageBoxService* m_previous;
};
