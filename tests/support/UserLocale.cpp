#include "support/UserLocale.h"

#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <vector>

extern char** environ;

std::string MakeUserLocale(const std::string& locale, const std::string& folder, std::string& error)
{
    std::vector<std::string> overrides;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        if (entry.rfind("LC_", 0) == 0 || entry.rfind("LANGUAGE=", 0) == 0)
            overrides.push_back(entry.substr(0, entry.find('=')));
    }
    for (const std::string& name : overrides) unsetenv(name.c_str());

    const std::string name = locale == "C" ? locale : locale + ".UTF-8";
    if (locale != "C") {
        const std::string command = "localedef -i " + locale + " -f UTF-8 " + folder + "/" + name + " 2>&1";
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buf[256];
            while (std::fgets(buf, sizeof buf, pipe)) error += buf;
            pclose(pipe);
        }
        setenv("LOCPATH", folder.c_str(), 1);
    }
    setenv("LANG", name.c_str(), 1);

    locale_t made = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
    if (!made) {
        error = "localedef (package locales) gave no " + name + ":\n" + error;
        return "";
    }
    freelocale(made);
    error.clear();
    return name;
}
