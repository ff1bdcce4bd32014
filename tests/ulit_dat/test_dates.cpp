// isoDate: stored header dates of each source form, and texts that are no date.
#include "ulit_dat/dates.h"

#include <gtest/gtest.h>

#include <string>

namespace rawdat {
namespace {

struct DateRow {
    std::string stored;
    DateOrder order;
    std::string iso; // empty: not a date
};

constexpr auto DMY = DateOrder::DayMonthYear;
constexpr auto MDY = DateOrder::MonthDayYear;

TEST(IsoDate, StoredFormsOfEachFile)
{
    const DateRow rows[] = {
        // DAT: day/month/year, padded to 20 characters
        {"08/12/26 10:15:00   ", DMY, "2026-12-08T10:15:00"},
        {"8/2/99 7:05:09", DMY, "1999-02-08T07:05:09"},
        {"08/12/2026 10:15", DMY, "2026-12-08T10:15"},
        {"29/02/24", DMY, "2024-02-29"},
        {"31.12.68 23:59:59", DMY, "2068-12-31T23:59:59"},
        {"01-01-69 00:00:00", DMY, "1969-01-01T00:00:00"},
        {std::string("12/03/98 14:25:36\0\0\0", 20), DMY, "1998-03-12T14:25:36"},
        // RAW2 written by rawdat: Conv_Date's 11 characters, the time right after
        {"  08-Dec-2610:15:00 ", DMY, "2026-12-08T10:15:00"},
        {"   8-Dec-2610:15:00 ", DMY, "2026-12-08T10:15:00"},
        {"  12-mar-98 ", DMY, "1998-03-12"},
        {"04-Mar-2010 20:59:14", DMY, "2010-03-04T20:59:14"},
        // RAW1 and RAW4: month/day/year, date and time joined by one space
        {"03/04/10 20:59:14   ", MDY, "2010-03-04T20:59:14"},
        {"04/07/2025 20:48:56 ", MDY, "2025-04-07T20:48:56"},
        {"12/31/99", MDY, "1999-12-31"},
        // no date
        {"", DMY, ""},
        {"                    ", DMY, ""},
        {"31/04/26 10:00:00", DMY, ""},
        {"29/02/23", DMY, ""},
        {"13/12/26", MDY, ""},
        {"00/12/26", DMY, ""},
        {"08/12/26 24:00:00", DMY, ""},
        {"08/12/26 10:60:00", DMY, ""},
        {"08/12/26 10:15:6", DMY, ""},
        {"08/12/26 10:15:00 PM", DMY, ""},
        {"08/12/263", DMY, ""},
        {"08/12-26", DMY, ""},
        {"08-Dex-26", DMY, ""},
        {"08-De-26", DMY, ""},
        {"  08-Dec-261", DMY, ""},
        {"  08-Dec-26:10:15", DMY, ""},
        {"08/12/26T10:15:00", DMY, ""},
        {"RAW2 sample", DMY, ""},
    };
    for (const DateRow& r : rows)
        EXPECT_EQ(isoDate(r.stored, r.order), r.iso) << '"' << r.stored << '"';
}

} // namespace
} // namespace rawdat
