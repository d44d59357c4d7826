#pragma once
// The five interface languages: the word stored in Main.ini, its index and its resource files.
#include <array>
#include <string>

inline constexpr std::array<const char*, 5> kLanguageWords = {"English", "Chinese", "Deutsch", "Portuguese", "French"};
// Resource-file code of each index (":/strings/<code>.txt", ":/menu/<code>.txt").
inline constexpr std::array<const char*, 5> kLanguageCodes = {"en", "zh", "de", "pt", "fr"};

// Index of a stored word, matched exactly and case-sensitively; -1 when it is none of the five.
inline int LanguageIndex(const std::string& word)
{
    for (std::size_t i = 0; i < kLanguageWords.size(); ++i)
        if (word == kLanguageWords[i]) return static_cast<int>(i);
    return -1;
}
