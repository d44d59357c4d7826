// Number texts with the point: the forms the C runtime writes and reads in the C locale, which
// the callers rely on (rounding, no-number texts, saturation).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "platform/NumberText.h"

TEST(NumberText, WritesAndReadsLikeTheCRuntimeInTheCLocale)
{
    EXPECT_EQ(FixedText(23.5), "23.5");
    EXPECT_EQ(FixedText(0.25), "0.2");  // exact ties round to even, as printf does
    EXPECT_EQ(FixedText(-0.04), "-0.0");
    EXPECT_EQ(FixedText(65535.0), "65535.0");
    EXPECT_EQ(FixedText(2.0 / 3, 3), "0.667");

    struct Whole {
        const char* text;
        std::optional<double> decimal;
        std::optional<std::int64_t> integer;
    };
    const Whole whole[] = {
        {" 23.5", 23.5, std::nullopt},
        {" -0.1 ", -0.1, std::nullopt},
        {"65535", 65535.0, 65535},
        {"+7", 7.0, 7},
        {"45", 45.0, 45},
        {"23,5", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"  ", std::nullopt, std::nullopt},
        {"inf", std::nullopt, std::nullopt},
        {"1e999", std::nullopt, std::nullopt},
        {"+-1", std::nullopt, std::nullopt},
        {"99999999999999999999", 1e20, std::nullopt},
    };
    for (const Whole& w : whole) {
        SCOPED_TRACE(w.text);
        EXPECT_EQ(ParseDecimal(w.text), w.decimal);
        EXPECT_EQ(ParseInteger(w.text), w.integer);
    }

    struct Leading {
        const char* text;
        double decimal;
        std::int64_t integer;
    };
    const Leading leading[] = {
        {"-.5", -0.5, 0},
        {"-", 0.0, 0},
        {"", 0.0, 0},
        {" 12abc", 12.0, 12},
        {"+3.9", 3.9, 3},
        {"1.5.", 1.5, 1},
        {"x1", 0.0, 0},
        {"  -40", -40.0, -40},
        {"99999999999999999999", 1e20, std::numeric_limits<std::int64_t>::max()},
        {"-99999999999999999999", -1e20, std::numeric_limits<std::int64_t>::min()},
    };
    for (const Leading& l : leading) {
        SCOPED_TRACE(l.text);
        EXPECT_EQ(LeadingDecimal(l.text), l.decimal);
        EXPECT_EQ(LeadingInteger(l.text), l.integer);
    }
}
