// Lect_DTB on any bytes: a defined result (the header and as many entries as it declares) or a
// RawdatError with the header and the entries untouched.
#include "harness.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/litdat.h"

using namespace rawdat;
using namespace rawdat::fuzz;

namespace {

bool sameEntries(const TDtbEntries& a, const TDtbEntries& b)
{
    if (a.count() != b.count())
        return false;
    for (int i = 1; i <= a.count(); ++i)
        for (int j = 1; j <= 6; ++j)
            if (!sameBits(a[i].Pairs[j].P, b[i].Pairs[j].P) || !sameBits(a[i].Pairs[j].Q, b[i].Pairs[j].Q))
                return false;
    return true;
}

bool sameDtbHeader(const TDtbHeader& a, const TDtbHeader& b)
{
    TDtbHeader x = a;
    TDtbHeader y = b;
    x.Doubles = y.Doubles = {};
    x.SevenDoubles = y.SevenDoubles = {};
    x.Pairs[0].Value = x.Pairs[1].Value = y.Pairs[0].Value = y.Pairs[1].Value = 0.0;
    return x == y && sameBits(a.Doubles, b.Doubles) && sameBits(a.SevenDoubles, b.SevenDoubles) &&
           sameBits(a.Pairs[0].Value, b.Pairs[0].Value) && sameBits(a.Pairs[1].Value, b.Pairs[1].Value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Scratch& scratch = freshScratch();
    const std::string path = scratch.write("in.dtb", data, size);
    TLitdat lit;
    TDtbHeader marked;
    marked.FirstValue = 0xBEEF;
    marked.EntryCount = 0xBEEF;
    marked.EntryBlock.fill(0xAB);
    marked.HeaderBlock.fill(0xCD);
    TDtbEntries markedEntries(3);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 6; ++j)
            markedEntries[i].Pairs[j] = {-1.0 * i, -2.0 * j};
    TDtbHeader header = marked;
    TDtbEntries entries = markedEntries;

    bool read = false;
    if (!succeeds([&] { read = lit.Lect_DTB(path, header, entries); })) {
        if (!sameDtbHeader(header, marked) || !sameEntries(entries, markedEntries))
            fault("Lect_DTB failed and changed the header or the entries");
        return 0;
    }
    if (!read)
        fault("Lect_DTB returned false");
    if (dtbSubRecords(header.EntryType) == 0)
        fault("Lect_DTB accepted entry type " + std::to_string(header.EntryType));
    if (entries.count() != std::max<int>(3, header.EntryCount))
        fault("Lect_DTB left " + std::to_string(entries.count()) + " entries for a count of " +
              std::to_string(header.EntryCount));
    return 0;
}
