// DTB file reader: Lect_DTB. Layout in dtb.h.
#include "ulit_dat/dtb.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

namespace rawdat {

int dtbSubRecords(std::uint16_t entryType)
{
    switch (entryType) {
    case 0:
    case 1: return 3;
    case 2:
    case 3:
    case 4: return 4;
    case 5: return 6;
    default: return 0;
    }
}

bool TLitdat::Lect_DTB(const std::string& FileName, TDtbHeader& Header, TDtbEntries& Entries)
{
    const Bytes bytes = fsio::readFile(FileName);
    ByteReader r(bytes, FileName);

    TDtbHeader h = Header; // the entry block stays the caller's when the file has no entry
    h.FirstValue = r.u16();                // 0
    h.SecondValue = r.u16();               // 2
    h.EntryType = r.u16();                 // 4
    h.FourthValue = r.u16();               // 6
    h.EntryCount = r.u16();                // 8
    for (auto& d : h.Doubles)              // 10
        d = r.f64();
    for (auto& p : h.Pairs) {              // 26
        p.Word = r.u16();
        p.Value = r.f64();
    }
    for (auto& d : h.SevenDoubles)         // 46
        d = r.f64();
    const std::string_view block = r.chars(h.HeaderBlock.size()); // 102
    std::copy(block.begin(), block.end(), h.HeaderBlock.begin());
    h.SecondValue = r.u16();               // 502

    const int n = dtbSubRecords(h.EntryType);
    if (n == 0)
        throw Refusal(FileName, "entry type " + intText(h.EntryType) + " is above 5");
    const std::size_t needed = kDtbFirstEntry + h.EntryCount * dtbEntrySize(n) + 2;
    if (bytes.size() < needed)
        throw Refusal(FileName, "declares " + intText(h.EntryCount) + " entries of " +
                                    intText(static_cast<std::int64_t>(dtbEntrySize(n))) +
                                    " bytes, which need " + intText(static_cast<std::int64_t>(needed)) +
                                    " bytes; the file holds " +
                                    intText(static_cast<std::int64_t>(bytes.size())));

    Entries.growTo(h.EntryCount);
    for (int i = 1; i <= h.EntryCount; ++i) {                 // 504 + (i - 1) (18 n + 48)
        TDtbEntry& e = Entries[i];
        for (int j = 1; j <= n; ++j) {                        // + 18 (j - 1)
            const double p = r.f64();
            const double q = r.f64();
            r.skip(2);
            switch (j) {
            case 1: e.Pairs[1] = {static_cast<double>(static_cast<long double>(p) + 1.0L), q}; break;
            case 4:
                if (n == 4) {
                    e.Pairs[4] = {};
                    e.Pairs[5] = {p, q};
                    e.Pairs[6] = {};
                } else {
                    e.Pairs[4] = {p, q};
                }
                break;
            default: e.Pairs[j] = {p, q}; break;
            }
        }
        r.skip(16);                                           // + 18 n: two unused doubles
        const std::string_view entryBlock = r.chars(h.EntryBlock.size()); // + 18 n + 16
        std::copy(entryBlock.begin(), entryBlock.end(), h.EntryBlock.begin());
    }
    h.FirstValue = r.u16();                                   // trailer
    Header = h;
    return true;
}

} // namespace rawdat
