// The date of a scan header (TScanHeader::Date) in ISO 8601, for programs that read rawdat's
// outputs. The stored text keeps the form of the file it came from:
//
//   from         stored as                     order          example
//   DAT          "08/12/26 10:15:00"           day/month/year "2026-12-08T10:15:00"
//   RAW2         "  08-Dec-2610:15:00"         day-Mon-year   "2026-12-08T10:15:00"
//   RAW1, RAW4   "03/04/10 20:59:14"           month/day/year "2010-03-04T20:59:14"
//
// A RAW2 file written by rawdat holds the DAT date as Conv_Date turned it (day, month name, year
// in 11 characters) with the time right after it, so the year and the hour run together: the
// last two digits before the time's colon are the hour. The diffractometer's own RAW1 and RAW4
// files keep the date as its software writes it, in the American order (the instrument's keyword
// export gives 04-Mar-2010 for the "03/04/10" of a RAW1 file).
//
// Numeric dates take '/', '-' or '.' between day, month and year; a month name is any letter
// case. Two-digit years follow the POSIX rule of strptime's %y: 69 to 99 are 1969 to 1999, 00 to
// 68 are 2000 to 2068. A four-digit year is taken as it is. The time is hh:mm or hh:mm:ss after
// blanks (or right after a RAW2 date); without one the result is the date alone ("2026-12-08").
// Leading and trailing blanks and zero bytes are ignored; anything else, an impossible date
// (31/04, 29/02 of a common year) or time (24:00, 10:60) gives an empty text.
#pragma once

#include <string>
#include <string_view>

namespace rawdat {

enum class DateOrder {
    DayMonthYear, // DAT files and the RAW2 files written from them
    MonthDayYear, // RAW1 and RAW4 files
};

std::string isoDate(std::string_view stored, DateOrder order);

} // namespace rawdat
