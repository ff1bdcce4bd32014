#include "ulit_dat/dates.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace rawdat {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\0' || c == '\t'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// A cursor over the stored text.
struct Cursor {
    std::string_view s;
    std::size_t at = 0;

    bool done() const { return at >= s.size(); }
    char peek() const { return done() ? '\0' : s[at]; }
    // The digits from here, at most `most` of them (0: all).
    std::string_view digits(std::size_t most = 0)
    {
        const std::size_t from = at;
        while (!done() && isDigit(s[at]) && (most == 0 || at - from < most))
            ++at;
        return s.substr(from, at - from);
    }
    bool take(char c)
    {
        if (peek() != c || done())
            return false;
        ++at;
        return true;
    }
};

int number(std::string_view d)
{
    int v = 0;
    for (char c : d)
        v = v * 10 + (c - '0');
    return v;
}

// The month of a name of three letters or more ("Dec", "december"), 0 when none.
int monthOfName(Cursor& c)
{
    static constexpr std::array<const char*, 12> kNames = {"january", "february", "march",     "april",
                                                           "may",     "june",     "july",      "august",
                                                           "september", "october", "november", "december"};
    std::string word;
    while (!c.done() && lower(c.peek()) >= 'a' && lower(c.peek()) <= 'z')
        word += lower(c.s[c.at++]);
    if (word.size() < 3)
        return 0;
    for (std::size_t m = 0; m < kNames.size(); ++m)
        if (std::string_view(kNames[m]).substr(0, word.size()) == word)
            return static_cast<int>(m) + 1;
    return 0;
}

int daysIn(int month, int year)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

void appendTwo(std::string& out, int v)
{
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

} // namespace

std::string isoDate(std::string_view stored, DateOrder order)
{
    std::size_t first = 0, last = stored.size();
    while (first < last && isBlank(stored[first]))
        ++first;
    while (last > first && isBlank(stored[last - 1]))
        --last;
    Cursor c{stored.substr(first, last - first)};

    const std::string_view a = c.digits(2);
    if (a.empty())
        return {};
    const char sep = c.peek();
    if (sep != '/' && sep != '-' && sep != '.')
        return {};
    c.take(sep);
    int day = 0, month = 0;
    if (isDigit(c.peek())) {
        const std::string_view b = c.digits(2);
        day = number(order == DateOrder::DayMonthYear ? a : b);
        month = number(order == DateOrder::DayMonthYear ? b : a);
    } else {
        day = number(a);
        month = monthOfName(c);
    }
    if (!c.take(sep))
        return {};
    std::string_view yearDigits = c.digits();
    std::string_view hourDigits;
    // A time right after the year: its hour is the last two digits.
    if (c.peek() == ':' && !c.done()) {
        if (yearDigits.size() < 4)
            return {};
        hourDigits = yearDigits.substr(yearDigits.size() - 2);
        yearDigits.remove_suffix(2);
    }
    if (yearDigits.size() != 2 && yearDigits.size() != 4)
        return {};
    int year = number(yearDigits);
    if (yearDigits.size() == 2)
        year += year >= 69 ? 1900 : 2000;
    if (month < 1 || month > 12 || day < 1 || day > daysIn(month, year))
        return {};

    std::string out = std::to_string(year);
    out.insert(0, 4 - std::min<std::size_t>(out.size(), 4), '0');
    out += '-';
    appendTwo(out, month);
    out += '-';
    appendTwo(out, day);
    if (hourDigits.empty()) {
        if (c.done())
            return out;
        if (!isBlank(c.peek()))
            return {};
        while (!c.done() && isBlank(c.peek()))
            ++c.at;
        hourDigits = c.digits(2);
        if (hourDigits.empty())
            return {};
    }
    if (!c.take(':'))
        return {};
    const std::string_view minute = c.digits(2);
    std::string_view second;
    if (minute.size() != 2)
        return {};
    if (c.take(':')) {
        second = c.digits(2);
        if (second.size() != 2)
            return {};
    }
    if (!c.done() || number(hourDigits) > 23 || number(minute) > 59 || (!second.empty() && number(second) > 59))
        return {};
    out += 'T';
    appendTwo(out, number(hourDigits));
    out += ':';
    out += minute;
    if (!second.empty()) {
        out += ':';
        out += second;
    }
    return out;
}

} // namespace rawdat
