#include "platform/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Skips leading blanks and a plus sign (from_chars takes only a minus).
const char* NumberStart(const char* p, const char* end)
{
    while (p != end && IsBlank(*p)) ++p;
    if (p != end && *p == '+' && p + 1 != end && *(p + 1) != '-') ++p;
    return p;
}

bool OnlyBlanks(const char* p, const char* end)
{
    for (; p != end; ++p)
        if (!IsBlank(*p)) return false;
    return true;
}

}  // namespace

std::string FixedText(double value, int decimals)
{
    char buf[400];  // the widest double in fixed notation has 309 digits before the point
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return std::string();
    return std::string(buf, end);
}

std::optional<double> ParseDecimal(std::string_view text)
{
    const char* end = text.data() + text.size();
    const char* start = NumberStart(text.data(), end);
    double value = 0.0;
    const auto [stop, ec] = std::from_chars(start, end, value);
    if (ec != std::errc() || !OnlyBlanks(stop, end) || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::int64_t> ParseInteger(std::string_view text)
{
    const char* end = text.data() + text.size();
    const char* start = NumberStart(text.data(), end);
    std::int64_t value = 0;
    const auto [stop, ec] = std::from_chars(start, end, value);
    if (ec != std::errc() || !OnlyBlanks(stop, end)) return std::nullopt;
    return value;
}

double LeadingDecimal(std::string_view text)
{
    const char* end = text.data() + text.size();
    double value = 0.0;
    const auto [stop, ec] = std::from_chars(NumberStart(text.data(), end), end, value);
    return ec == std::errc() && std::isfinite(value) ? value : 0.0;
}

std::int64_t LeadingInteger(std::string_view text)
{
    const char* end = text.data() + text.size();
    const char* start = NumberStart(text.data(), end);
    std::int64_t value = 0;
    const auto [stop, ec] = std::from_chars(start, end, value);
    if (ec == std::errc::result_out_of_range)
        return *start == '-' ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    return ec == std::errc() ? value : 0;
}
