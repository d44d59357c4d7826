#pragma once
// Numbers in the texts the program stores, shows, exports and reads back. They always use the
// point, as the Windows program wrote them, whatever LC_NUMERIC says: std::to_chars and
// std::from_chars never look at the locale, printf and strtod do.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// "%0.<decimals>f" of the C locale: 23.5 gives "23.5", -0.04 gives "-0.0".
std::string FixedText(double value, int decimals = 1);

// The whole text is one decimal number, blanks around it allowed; nullopt otherwise, and for an
// infinite or out-of-range value.
std::optional<double> ParseDecimal(std::string_view text);
// The whole text is one decimal integer that fits 64 bits, blanks around it allowed.
std::optional<std::int64_t> ParseInteger(std::string_view text);

// The number at the start of a text as strtod and strtol read it in the C locale: leading blanks,
// an optional sign, then the longest number; 0 when there is none. The integer saturates at the
// 64-bit limits; a decimal out of range gives 0.
double LeadingDecimal(std::string_view text);
std::int64_t LeadingInteger(std::string_view text);
