#pragma once
// A user's locale for the test process, as a login sets it: compiled from the system's sources
// (localedef, package locales) into a folder of the test's, so none needs to be installed.
#include <string>

// Compiles locale (a name such as "de_DE", UTF-8) into folder and makes it the user's: LOCPATH
// names the folder, LANG the locale, and no LC_* or LANGUAGE variable overrides it. "C" needs no
// compiling. Call it before the application object is built. Returns the full locale name (for
// setlocale), or "" when the locale cannot be used; error then tells why.
std::string MakeUserLocale(const std::string& locale, const std::string& folder, std::string& error);
