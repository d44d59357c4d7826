#include "support/GlobalState.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "device/CDeviceState.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"

extern char** environ;

namespace {

std::map<std::string, std::string> g_startEnvironment;
std::string g_startLocale;

std::map<std::string, std::string> CurrentEnvironment()
{
    std::map<std::string, std::string> vars;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        const std::size_t eq = text.find('=');
        if (eq != std::string::npos) vars.emplace(text.substr(0, eq), text.substr(eq + 1));
    }
    return vars;
}

void RestoreEnvironment()
{
    // Collected first: setenv and unsetenv may move environ.
    const std::map<std::string, std::string> now = CurrentEnvironment();
    for (const auto& [name, value] : now)
        if (!g_startEnvironment.count(name)) unsetenv(name.c_str());
    for (const auto& [name, value] : g_startEnvironment) {
        const auto it = now.find(name);
        if (it == now.end() || it->second != value) setenv(name.c_str(), value.c_str(), 1);
    }
}

class StateResetListener : public ::testing::EmptyTestEventListener {
public:
    StateResetListener(std::function<void()> reset, std::function<std::string()> check)
        : m_reset(std::move(reset)), m_check(std::move(check))
    {}
    void OnTestStart(const ::testing::TestInfo&) override { m_reset(); }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        // Still counted to the test that just ended: its result is printed after this.
        if (m_check) {
            const std::string left = m_check();
            if (!left.empty()) ADD_FAILURE() << "The test left " << left;
        }
        m_reset();
    }

private:
    std::function<void()> m_reset;
    std::function<std::string()> m_check;
};

}  // namespace

void RememberStartingState()
{
    g_startEnvironment = CurrentEnvironment();
    const char* locale = std::setlocale(LC_ALL, nullptr);
    g_startLocale = locale ? locale : "C";
}

void ResetCoreState()
{
    // A fresh object in place of the old one, so that members added later are covered too. The old
    // one's destructor closes the link and its databases and frees the record queue.
    theDeviceState.~CDeviceState();
    ::new (&theDeviceState) CDeviceState;
    AppStrings().LoadFromText("");
    SetMessageBoxService(nullptr);
    RestoreEnvironment();
    std::setlocale(LC_ALL, g_startLocale.c_str());
}

void InstallStateReset(std::function<void()> reset, std::function<std::string()> check)
{
    ::testing::UnitTest::GetInstance()->listeners().Append(new StateResetListener(std::move(reset), std::move(check)));
}
