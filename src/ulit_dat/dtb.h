// DTB file: a fixed header, then a counted series of entries, each a type-dependent number of
// (double, double) sub-records. Read by TLitdat::Lect_DTB (dtb.cpp); nothing writes it.
//
// Little-endian; 16-bit values are unsigned where they are used as numbers.
//   offset  size   content
//        0     2   first value (the trailer replaces it)
//        2     2   second value (the value at 502 replaces it)
//        4     2   entry type, 0..5
//        6     2   fourth value
//        8     2   entry count
//       10    16   two doubles
//       26    20   two pairs (16-bit value, double)
//       46    56   seven doubles
//      102   400   header block
//      502     2   second value
//      504         entries, entry count of them, 18 n + 48 bytes each
//                  (n sub-records: 3 for types 0 and 1, 4 for types 2 to 4, 6 for type 5)
//      after       trailer, 2 bytes: first value
//
// One entry
//        0  18 n   n sub-records: first value p (double), second value q (double), 16-bit unused
//     18 n    16   two doubles, unused
//  18 n + 16  32   entry block (the header keeps the last one read)
#pragma once

#include "ulit_dat/onebased.h"

#include <array>
#include <cstdint>
#include <vector>

namespace rawdat {

struct TDtbWordDouble {
    std::uint16_t Word = 0;
    double Value = 0.0;
    bool operator==(const TDtbWordDouble&) const = default;
};

struct TDtbHeader {
    std::uint16_t FirstValue = 0;  // after reading: the file's trailer
    std::uint16_t SecondValue = 0; // after reading: the value at offset 502
    std::uint16_t EntryType = 0;
    std::uint16_t FourthValue = 0;
    std::uint16_t EntryCount = 0;
    std::array<double, 2> Doubles{};
    std::array<TDtbWordDouble, 2> Pairs{};
    std::array<double, 7> SevenDoubles{};
    std::array<std::uint8_t, 32> EntryBlock{};   // of the last entry read
    std::array<std::uint8_t, 400> HeaderBlock{}; // offset 102
    bool operator==(const TDtbHeader&) const = default;
};

struct TDtbPair {
    double P = 0.0;
    double Q = 0.0;
    bool operator==(const TDtbPair&) const = default;
};

// Twelve doubles taken as six pairs, pair 1 first.
struct TDtbEntry {
    OneBased<TDtbPair, 6> Pairs;
    bool operator==(const TDtbEntry&) const = default;
};

// The caller's array of entries, numbered from 1 as the file's entries are. Lect_DTB grows it to
// the file's entry count when it holds fewer; the entries it adds start at zero.
class TDtbEntries {
public:
    TDtbEntries() = default;
    explicit TDtbEntries(int count) : v_(static_cast<std::size_t>(count)) {}
    int count() const { return static_cast<int>(v_.size()); }
    void growTo(int count)
    {
        if (count > this->count())
            v_.resize(static_cast<std::size_t>(count));
    }
    TDtbEntry& operator[](int i) { return v_.at(static_cast<std::size_t>(i - 1)); }
    const TDtbEntry& operator[](int i) const { return v_.at(static_cast<std::size_t>(i - 1)); }

private:
    std::vector<TDtbEntry> v_;
};

// Sub-records per entry of an entry type; 0 for a type the format does not define (above 5).
int dtbSubRecords(std::uint16_t entryType);
inline constexpr std::size_t kDtbFirstEntry = 504;
inline constexpr std::size_t dtbEntrySize(int subRecords) { return 18 * static_cast<std::size_t>(subRecords) + 48; }

} // namespace rawdat
